#pragma once
// The target programs the downloader places in a board's RAM through the boot
// monitor, and the boot monitor's notice that identifies a Ruvo board. Their
// bytes are supplied to the build (see EmbedTargetImages.cmake); each image is
// a sequence of 16-bit little-endian words. Read-only after start-up.

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "error/CommonError.h"
#include "link/ImgProtocol.h"

// False in a build that embeds zero-filled stand-ins, which cannot drive a real board.
extern const bool kTargetImagesSupplied;
// The loader image answering ImgProtocol, one build per crystal (6926 bytes each).
extern const std::unordered_map<ImgProtocol::CrystalFrequency, const std::vector<std::uint8_t>,
                                qmx::Error::Hash<ImgProtocol::CrystalFrequency>>
    xip_loader_hexes;
// The RF loader answering RfLoaderProtocol (27648 bytes).
extern const std::vector<std::uint8_t> rf_loader_hex;
// The Belto LS GX2 passthrough answering HexProtocol::ConfirmBeltoLsGx2 (23162 bytes).
extern const std::vector<std::uint8_t> belto_ls_gx2_passthrough_hex;
// Bytes 4 to 107 of the information block of a board started by the Ruvo boot monitor.
extern const std::array<std::uint8_t, 104> kBootMonitorNotice;
