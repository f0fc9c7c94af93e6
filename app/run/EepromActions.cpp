// The actions that work on the board's EEPROM or flash as a whole: erase,
// size tests, extract and clear. The loader image runs on the board.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "file/DescriptorTarget.h"
#include "file/FileReplacement.h"
#include "link/ImgProtocol.h"
#include "run/EepromReach.h"
#include "run/FirmwareAccess.h"
#include "run/FirmwareActions.h"

namespace mrl {
namespace {

constexpr std::uint8_t kClearedByte = 0xFF;

std::string_view AsText(const qmx::File::Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Whether path names something that is there and is no regular file (a
// device, a FIFO), which is written as it stands.
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

// Writes bytes through target where it stands, after what the program wrote
// to its standard output so far, in case the target leads there too. A write
// that fails says why on the console.
Result WriteThrough(RunState& state, const qmx::File::WritableDescriptor& target,
                    const qmx::File::Bytes& bytes) {
  state.console.out.flush();
  if (target.WriteAll(AsText(bytes))) return qmx::Error::None{};
  state.console.err << "Writing the extracted bytes to " << state.extract_file
                    << " failed: " << std::strerror(errno) << "\n";
  return FileFailure(qmx::File::Common::Error::kCannotWrite);
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

Result TestEepromReach(RunState& state, const std::vector<PlannedAction>& later) {
  std::uint64_t reach = 0;
  for (const PlannedAction& action : later) reach = std::max(reach, EepromReach(state, action));
  ImgProtocol loader(*state.port_protocol);
  return EnsureEepromHolds(state, loader, reach);
}

Result PrepareExtractTarget(RunState& state) {
  if (state.extract_replacement) return qmx::Error::None{};
  const std::string& path = state.extract_file;
  const Result cannot_open = FileFailure(qmx::File::Common::Error::kCannotOpen);
  // A descriptor the run was given, a device or a FIFO is written as it
  // stands, never truncated or replaced.
  if (!state.extract_descriptor && IsNoRegularFile(path)) {
    state.extract_descriptor = qmx::File::WritableDescriptor::Open(path);
  }
  if (state.extract_descriptor) {
    return state.extract_descriptor->usable() ? Result(qmx::Error::None{}) : cannot_open;
  }
  // A file is replaced only by bytes that all checked out, so a failed read
  // leaves it as it was, or not there at all.
  using qmx::File::FileReplacement;
  if (!MayWrite(path)) return cannot_open;
  auto replacement =
      std::make_unique<FileReplacement>(path, FileReplacement::Target::kRegularFileOrNew);
  if (!replacement->ready()) return cannot_open;
  state.extract_replacement = std::move(replacement);
  return qmx::Error::None{};
}

Result ExtractEeprom(RunState& state, bool flash) {
  if (const Result prepared = PrepareExtractTarget(state); prepared.failed()) return prepared;
  ImgProtocol loader(*state.port_protocol);
  qmx::File::Bytes buffer(state.length.value());
  const auto read = [&] {
    return qmx::Error::InOrder<Result>(
        [&] {
          return flash ? Result(qmx::Error::None{})
                       : EnsureEepromHolds(state, loader, RangeEnd(state));
        },
        [&] {
          return loader.ExtractImage(buffer.data(), state.length.value(), state.offset.value());
        });
  };
  const auto done = [&] {
    state.console.out << "Done image extraction!\n";
    return Result(qmx::Error::None{});
  };
  // Whatever the outcome, the target is let go with the extract: a FIFO's
  // reader finds its end then.
  if (state.extract_descriptor) {
    const qmx::File::WritableDescriptor target = std::move(*state.extract_descriptor);
    state.extract_descriptor.reset();
    return qmx::Error::InOrder<Result>(
        read, [&] { return WriteThrough(state, target, buffer); }, done);
  }
  const std::unique_ptr<qmx::File::FileReplacement> replacement =
      std::move(state.extract_replacement);
  return qmx::Error::InOrder<Result>(
      read,
      [&]() -> Result {
        if (replacement->Write(AsText(buffer)) && replacement->Commit()) {
          return qmx::Error::None{};
        }
        return FileFailure(qmx::File::Common::Error::kCannotWrite);
      },
      done);
}

Result ClearEeprom(RunState& state) {
  const qmx::File::Bytes blank(state.length.value(), kClearedByte);
  ImgProtocol loader(*state.port_protocol);
  return qmx::Error::InOrder<Result>(
      [&] { return EnsureEepromHolds(state, loader, RangeEnd(state)); },
      [&] {
        return loader.DownloadFile(blank.data(), state.length.value(), state.offset.value(),
                                   state.console.out);
      });
}

}  // namespace mrl
