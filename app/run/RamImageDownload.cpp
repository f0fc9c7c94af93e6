#include "run/RamImageDownload.h"

#include "console/VerboseStream.h"
#include "run/TargetImageNotice.h"

namespace mrl {

HexProtocol BootMonitorOf(RunState& state) {
  return HexProtocol(*state.port_protocol, static_cast<HexProtocol::Speed>(state.protocol),
                     state.reset_timeout);
}

Result DownloadToRam(RunState& state, HexProtocol& hex, const std::vector<std::uint8_t>& image,
                     bool reset_board) {
  if (reset_board) state.port->reset();
  WarnIfStandInImages(state);
  return hex.DownloadFile(image.data(), static_cast<unsigned>(image.size()), false,
                          qmx::VerboseStream());
}

}  // namespace mrl
