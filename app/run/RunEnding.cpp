#include "run/RunEnding.h"

#include "file/FileReplacement.h"
#include "file/HWID.h"
#include "file/HwidSupply.h"
#include "port/ExclusiveMode.h"
#include "run/HwidActions.h"

namespace mrl {

void RunEnding::RemoveTemporaryFiles() {
  qmx::File::RemovePendingReplacements();
}

void EndOfActions::ReleasePort() {
  state_.port_protocol.reset();
  state_.port.reset();
}

void EndOfActions::SettleHwid() {
  static_cast<void>(SettleHwidSupply(state_, result_));
}

void EndOnSignal::ReleasePort() {
  // Closing is left to the end of the process: another thread may be in the
  // middle of a transfer on the port.
  qmx::ReleaseAllExclusiveModes();
}

void EndOnSignal::SettleHwid() {
  const std::optional<HwidSupply::HwidOffSupply> off = HwidSupply::GiveBackOnSignal();
  if (!off) return;
  said_ += HwidOffSupplyLines(HWID::base32ToRaw(off->text.c_str()), off->may_be_on_board);
}

}  // namespace mrl
