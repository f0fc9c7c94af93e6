// The actions that work on the board's EEPROM or flash as a whole: erase,
// size test, extract and clear. The loader image runs on the board.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include "FirmwareAccess.h"
#include "FirmwareActions.h"
#include "file/FileReplacement.h"
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

// Whether path names something that is there and is no regular file (a
// device, a FIFO, standard output), which is written as it stands.
bool IsNoRegularFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

// Whether this user may write the file path names, when there is one: a file
// the user may not write is not replaced by one the user may.
bool MayWrite(const std::string& path) {
  if (::access(path.c_str(), F_OK) != 0) return true;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  static_cast<void>(::close(fd));
  return true;
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
  const std::string& path = state.extract_file;
  ImgProtocol loader(*state.port_protocol);
  const auto read = [&](qmx::File::Bytes& buffer) {
    return qmx::Error::InOrder<Result>(
        [&] { return EnsureEepromHolds(loader, RangeEnd(state)); },
        [&] {
          return loader.ExtractImage(buffer.data(), state.length.value(), state.offset.value());
        });
  };
  const Result cannot_open = FileFailure(qmx::File::Common::Error::kCannotOpen);
  qmx::File::Bytes buffer(state.length.value());
  if (IsNoRegularFile(path)) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return cannot_open;
    return qmx::Error::InOrder<Result>([&] { return read(buffer); },
                                       [&] { return WriteAndClose(file, buffer); });
  }
  // A file is replaced only by bytes that all checked out, so a failed read
  // leaves it as it was, or not there at all.
  using qmx::File::FileReplacement;
  FileReplacement replacement(path, FileReplacement::Target::kRegularFileOrNew);
  if (!MayWrite(path) || !replacement.ready()) return cannot_open;
  return qmx::Error::InOrder<Result>(
      [&] { return read(buffer); },
      [&]() -> Result {
        const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size());
        if (replacement.Write(bytes) && replacement.Commit()) {
          return qmx::Error::None{};
        }
        return cannot_open;
      });
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
