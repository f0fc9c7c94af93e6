// The actions that put firmware into the run state or reshape it there; none
// of them talks to the board.
#include "run/FirmwareActions.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/XipFirmwareFile.h"
#include "link/RfLoaderProtocol.h"
#include "run/FirmwareAccess.h"
#include "run/HwidActions.h"
#include "run/WriteLimits.h"

namespace mrl {
namespace {

constexpr int kEepromPageSize = 64;
constexpr int kFlashPageSize = 4096;

// Reads input_file with read (a format's FromFile) into firmware.
template <typename Read>
Result LoadInputFile(RunState& state, Read read) {
  return StoreFirmware(state, read(state.input_file));
}

}  // namespace

Result LoadHexFile(RunState& state) {
  return LoadInputFile(state, qmx::File::Hex::FromFile);
}

Result LoadXipFile(RunState& state) {
  return LoadInputFile(state, qmx::File::Xip::FromFile);
}

Result LoadImgFile(RunState& state) {
  return LoadInputFile(state, qmx::File::Img::FromFile);
}

Result LoadTbfFile(RunState& state) {
  return LoadInputFile(state, TBF::FromFile);
}

Result LoadIs2023File(RunState& state) {
  return LoadInputFile(state, qmx::File::IS2023::FromFile);
}

Result CheckImgOffset(RunState& state) {
  return WithFirmware<qmx::File::Img>(state, [&](const qmx::File::Img& img) {
    if (state.offset.value() == 0) return Result(qmx::Error::None{});
    return FileCheck(img.IsValid(state.offset));
  });
}

Result ConvertXipToImg(RunState& state, bool sethwid, bool flash) {
  return WithFirmware<qmx::File::Xip>(state, [&](const qmx::File::Xip& xip) {
    return qmx::Error::InOrder<Result>(
        [&] { return sethwid ? TakeSuppliedHwid(state) : Result(qmx::Error::None{}); },
        [&] {
          const HWID::Raw& hwid = sethwid ? state.new_hwid : state.board_hwid;
          Result stored =
              StoreFirmware(state, xip.ToImg(hwid, flash ? kFlashPageSize : kEepromPageSize));
          state.firmware_carries_new_hwid = sethwid && !stored.failed();
          return stored;
        });
  });
}

Result PadImageForRf(RunState& state) {
  return WithFirmware<qmx::File::Img>(state, [&](const qmx::File::Img& img) {
    constexpr std::size_t kSection = RfLoaderProtocol::kSectionLen;
    const std::size_t padded = (img.GetRaw().size() + kSection - 1) / kSection * kSection;
    if (padded > qmx::File::Img::kMaxLength) {
      return FileFailure(qmx::File::Common::Error::kInvalidFormat);
    }
    qmx::File::Bytes bytes = img.GetRaw();
    bytes.resize(padded, 0);
    state.firmware = qmx::File::Img(std::move(bytes));
    return Result(qmx::Error::None{});
  });
}

Result GuardHwidSlot(RunState& state) {
  const TBF::Table* table = boost::get<TBF::Table>(&state.firmware);
  const std::optional<std::string> refusal = table ? TbfHwidSlotRefusal(*table) : std::nullopt;
  if (!refusal) return Result(qmx::Error::None{});
  state.console.err << *refusal;
  return Result(SpecificError::kInvalidArgument);
}

Result AddHwidToTbf(RunState& state) {
  if (const Result taken = TakeSuppliedHwid(state); taken.failed()) return taken;
  if (boost::get<TBF::Table>(&state.firmware) == nullptr) {
    state.firmware = TBF::Table(std::vector<TBF::Entry>{});
  }
  TBF::Table& table = boost::get<TBF::Table>(state.firmware);
  const TBF::Entry hwid(TBF::Entry::Address(kHwidAddress),
                        qmx::File::Img(HwidBytes(state.new_hwid)));
  return FileCheck(table.AddBinEntry(hwid));
}

}  // namespace mrl
