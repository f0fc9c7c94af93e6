#pragma once
// The Ruvo image builder: turns an XIP container into the img image that the
// Ruvo boot monitor loads, bound to a board's hardware id.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "error/CommonError.h"
#include "ruvo/RuvoError.h"

namespace Ruvo {

// Converts the container's bytes into an img image whose length is a whole
// number of pages of pageSize bytes (a power of two: 64 for EEPROM, 4096 for flash).
qmx::Result<std::vector<std::uint8_t>, Error> XipToImg(std::array<std::uint16_t, 4> hwid,
                                                       std::vector<std::uint8_t> xip, int pageSize);

// Reads a build file: the names of the files of slots 0, 1, ...
qmx::Result<std::vector<std::string>, Error> BuildFileToFilenames(const std::string& path);

// Loads the named files (".hex" as a space, others as raw data) and writes the container.
qmx::Error::Result<qmx::Error::None, Error> FilesToXip(const std::vector<std::string>& names,
                                                       const std::string& outPath, int pageSize);

}  // namespace Ruvo
