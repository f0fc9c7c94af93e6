// The actions that send the run state's firmware to the board, each through
// the protocol that suits its kind.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "file/HOFF.h"
#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "link/HexProtocol.h"
#include "link/ImgProtocol.h"
#include "link/RfLoaderProtocol.h"
#include "run/EepromReach.h"
#include "run/FirmwareAccess.h"
#include "run/FirmwareActions.h"
#include "run/HwidActions.h"
#include "run/RamImageDownload.h"

namespace mrl {
namespace {

constexpr std::uint16_t kIs2023PacketLen = 80;

unsigned LengthOf(const qmx::File::Bytes& bytes) {
  return static_cast<unsigned>(bytes.size());
}

// Resets the board (unless the passthrough carries the download), sends the
// program to the boot monitor, and discards what the port still holds
// whatever the outcome.
Result DownloadHexProgram(RunState& state, const qmx::File::Hex& hex, bool wait_for_eeprom,
                          bool belto_ls_gx2) {
  HexProtocol boot_monitor = BootMonitorOf(state);
  if (!belto_ls_gx2) state.port->reset();
  const qmx::File::Bytes& raw = hex.GetRaw();
  Result result =
      boot_monitor.DownloadFile(raw.data(), LengthOf(raw), wait_for_eeprom, state.console.out);
  state.port->flush();
  return result;
}

// Runs step(item, i) for each item, i counting from 1, until one fails.
template <typename Items, typename Step>
Result EachInOrder(Items& items, Step step) {
  std::size_t i = 0;
  for (auto& item : items) {
    Result result = step(item, ++i);
    if (result.failed()) return result;
  }
  return qmx::Error::None{};
}

// Writes headline, runs download and closes the item's output with a newline
// when it succeeded.
template <typename Download>
Result AnnouncedDownload(std::ostream& out, const std::string& headline, Download download) {
  out << headline;
  Result result = download();
  if (!result.failed()) out << '\n';
  return result;
}

// Sends every section of entry ("Loading HOFF section (i/n)"), to flash at
// its 32-bit offset or to EEPROM at the low 16 bits of it; the last is the
// "hwid" section.
Result DownloadHoffSections(RunState& state, ImgProtocol& loader, const HOFF::Entry& entry,
                            bool flash) {
  std::ostream& out = state.console.out;
  const std::size_t n = entry.sections.size();
  return EachInOrder(entry.sections, [&](const HOFF::Section& section, std::size_t i) {
    const std::string headline =
        "Loading HOFF section (" + std::to_string(i) + "/" + std::to_string(n) + ")\n";
    return AnnouncedDownload(out, headline, [&] {
      const ImgProtocol::BeforeData goes_out = HwidGoesOutWith(state, i == n);
      const unsigned len = LengthOf(section.bytes);
      if (flash) {
        return loader.DownloadFile24Bit(section.bytes.data(), len, section.offset, out, goes_out);
      }
      return loader.DownloadFile(section.bytes.data(), len,
                                 static_cast<std::uint16_t>(section.offset), out, goes_out);
    });
  });
}

std::string TbfHeadline(std::size_t i, std::size_t n) {
  return "Loading image " + std::to_string(i) + " of " + std::to_string(n) + "\n";
}

}  // namespace

Result DownloadHexImage(RunState& state, bool ram_only, bool belto_ls_gx2) {
  return WithFirmware<qmx::File::Hex>(state, [&](const qmx::File::Hex& hex) {
    return DownloadHexProgram(state, hex, !ram_only, belto_ls_gx2);
  });
}

Result DownloadImgImage(RunState& state, bool rfload, bool flash) {
  return WithFirmware<qmx::File::Img>(state, [&](const qmx::File::Img& img) {
    const qmx::File::Bytes& raw = img.GetRaw();
    const std::uint16_t offset = state.offset.value();
    ImgProtocol loader(*state.port_protocol);
    return qmx::Error::InOrder<Result>(
        [&] { return CheckImgOffset(state); },
        [&] {
          // An image bound to the HWID to program carries it.
          const ImgProtocol::BeforeData goes_out =
              HwidGoesOutWith(state, state.firmware_carries_new_hwid);
          if (rfload) {
            return RfLoaderProtocol(*state.port_protocol)
                .DownloadFile(raw.data(), LengthOf(raw), goes_out);
          }
          return qmx::Error::InOrder<Result>(
              [&] {
                return flash ? Result(qmx::Error::None{})
                             : EnsureEepromHolds(state, loader, ImageEnd(offset, img));
              },
              [&] {
                return loader.DownloadFile(raw.data(), LengthOf(raw), offset, state.console.out,
                                           goes_out);
              });
        });
  });
}

Result DownloadIs2023Image(RunState& state) {
  return WithFirmware<qmx::File::IS2023>(state, [&](const qmx::File::IS2023& firmware) {
    const qmx::File::Bytes& data = firmware.GetData();
    return ImgProtocol(*state.port_protocol)
        .IS2023Load(data.data(), LengthOf(data), firmware.GetOffset(), kIs2023PacketLen,
                    state.console.out);
  });
}

Result DownloadTbfTable(RunState& state, bool belto_ls_gx2, bool flash) {
  return WithFirmware<TBF::Table>(state, [&](const TBF::Table& table) {
    const std::vector<TBF::Entry>& entries = table.GetBinaryEntries();
    const boost::optional<qmx::File::Hex>& hex = table.MaybeGetHexEntry();
    const std::size_t n = entries.size() + (hex ? 1 : 0);
    std::ostream& out = state.console.out;
    if (n == 0) {
      out << "The provided TBF file is devoid of any content. Not doing anything.\n";
      return Result(qmx::Error::None{});
    }
    ImgProtocol loader(*state.port_protocol);
    // The binary entries go through the loader; the hex program last, since
    // the reset before it ends the loader.
    return qmx::Error::InOrder<Result>(
        [&] { return EnsureEepromHolds(state, loader, TableEnd(table, flash)); },
        [&] {
          return EachInOrder(entries, [&](const TBF::Entry& entry, std::size_t i) {
            const qmx::File::Bytes& raw = entry.GetImage().GetRaw();
            const std::uint16_t address = entry.GetAddress().value();
            return AnnouncedDownload(out, TbfHeadline(i, n), [&] {
              return loader.DownloadFile(
                  raw.data(), LengthOf(raw), address, out,
                  HwidGoesOutWith(state, CoversHwidSlot(address, raw.size())));
            });
          });
        },
        [&] {
          if (!hex) return Result(qmx::Error::None{});
          out << TbfHeadline(n, n);
          return DownloadHexProgram(state, *hex, true, belto_ls_gx2);
        });
  });
}

Result DownloadHoffEntry(RunState& state, bool flash, bool sethwid) {
  ImgProtocol loader(*state.port_protocol);
  // The sections were checked against their target when the entry was
  // selected; an EEPROM beyond 32768 bytes is asked for before the first.
  return qmx::Error::InOrder<Result>(
      [&] { return sethwid ? TakeSuppliedHwid(state) : Result(qmx::Error::None{}); },
      [&] {
        if (flash) return Result(qmx::Error::None{});
        return EnsureEepromHolds(state, loader, HoffEnd(state.hoff_file, state.hoff_entry));
      },
      [&] {
        const qmx::File::Bytes hwid = HwidBytes(sethwid ? state.new_hwid : state.board_hwid);
        return EachInOrder(state.hoff_file.entries, [&](HOFF::Entry& entry, std::size_t) {
          if (entry.name != state.hoff_entry) return Result(qmx::Error::None{});
          entry.sections.push_back(HOFF::Section{"hwid", kHwidAddress, hwid});
          return DownloadHoffSections(state, loader, entry, flash);
        });
      });
}

}  // namespace mrl
