// The actions that work on the board's EEPROM or flash as a whole: erase,
// size test, extract and clear. The loader image runs on the board.
#include <cstdint>
#include <fstream>
#include <variant>

#include "FirmwareAccess.h"
#include "FirmwareActions.h"
#include "link/ImgProtocol.h"

namespace mrl {
namespace {

constexpr std::uint8_t kClearedByte = 0xFF;

// Writes the bytes and closes the file; a write or a close (its flush) that
// fails is Cannot open file, so that no lost data is reported as success.
Result WriteAndClose(std::ofstream& file, const qmx::File::Bytes& bytes) {
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (file.fail()) return FileFailure(qmx::File::Common::Error::kCannotOpen);
  return qmx::Error::None{};
}

// Where the range of `offset` and `length` ends.
std::uint64_t RangeEnd(const RunState& state) {
  return std::uint64_t{state.offset.value()} + state.length.value();
}

}  // namespace

Result EraseFlashImage(RunState& state) {
  return ImgProtocol(*state.port_protocol).EraseImage();
}

Result TestEepromSize(RunState& state) {
  Result result = ImgProtocol(*state.port_protocol).CheckEepromSize();
  if (!result.failed()) {
    state.console.out << "EEPROM is 512kbit.\n";
  } else if (IsSpecific(std::get<1>(result), SpecificError::kEepromTooSmall)) {
    state.console.out << "EEPROM is 256kbit.\n";
  }
  return result;
}

Result ExtractEeprom(RunState& state) {
  std::ofstream file(state.extract_file, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return FileFailure(qmx::File::Common::Error::kCannotOpen);
  qmx::File::Bytes buffer(state.length.value());
  ImgProtocol loader(*state.port_protocol);
  return qmx::Error::InOrder<Result>(
      [&] { return EnsureEepromHolds(loader, RangeEnd(state)); },
      [&] {
        return loader.ExtractImage(buffer.data(), state.length.value(), state.offset.value());
      },
      [&] { return WriteAndClose(file, buffer); });
}

Result ClearEeprom(RunState& state) {
  const qmx::File::Bytes blank(state.length.value(), kClearedByte);
  ImgProtocol loader(*state.port_protocol);
  return qmx::Error::InOrder<Result>([&] { return EnsureEepromHolds(loader, RangeEnd(state)); },
                                     [&] {
                                       return loader.DownloadFile(
                                           blank.data(), state.length.value(), state.offset.value(),
                                           state.console.out);
                                     });
}

}  // namespace mrl
