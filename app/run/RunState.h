#pragma once
// What the downloader's actions share for one run: the option values, the open
// port and its protocol, the firmware, the HWIDs and the passthrough commands.
// Each action finds here what the earlier actions of the list left.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/Console.h"
#include "file/CommonFirmwareFile.h"
#include "file/DescriptorTarget.h"
#include "file/FileReplacement.h"
#include "file/HOFF.h"
#include "file/HWID.h"
#include "file/HwidSupply.h"
#include "file/TCF.h"
#include "link/GenericPortProtocol.h"
#include "link/HexProtocol.h"
#include "port/GenericPort.h"

namespace Config {
inline constexpr std::uint32_t kDefaultBaudRate = 115200;
}  // namespace Config

namespace mrl {

struct RunState {
  explicit RunState(const qmx::Console& console) : console(console) {}
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
  // The protocol goes before the port it works over.
  ~RunState() {
    port_protocol.reset();
    port.reset();
  }

  // Where the actions talk to the user.
  qmx::Console console;

  // The open port and the protocol over it; set by the port-opening actions.
  std::unique_ptr<qmx::GenericPort> port;
  std::unique_ptr<GenericPortProtocol> port_protocol;

  // Option values; the numeric ones receive their defaults when parsed.
  std::uint32_t baud = Config::kDefaultBaudRate;
  std::string dev;
  std::string hid;
  std::uint16_t hid_cmd = 0;
  std::string input_file;  // every firmware file option
  std::string extract_file;
  // What extract_file leads to when it names one of the descriptors the run
  // was given (/dev/stdout, /dev/fd/N, ...): a copy of that descriptor, taken
  // while the action list is built, before the run opens any of its own; not
  // usable when that descriptor is not open for writing.
  std::optional<qmx::File::WritableDescriptor> extract_descriptor;
  // The new contents of extract_file when it is a regular file or a new one,
  // made ready before the board is asked anything; a device or a FIFO is
  // opened into extract_descriptor then instead.
  std::unique_ptr<qmx::File::FileReplacement> extract_replacement;
  TCF::Firmware firmware{qmx::File::Hex{}};
  std::string tcf_entry;
  HOFF::File hoff_file;
  std::string hoff_entry;
  std::uint32_t protocol = 2;   // HexProtocol::Speed
  std::uint32_t crys_freq = 2;  // ImgProtocol::CrystalFrequency
  std::uint32_t timeout = 3000;
  std::uint32_t reset_timeout = 0;
  qmx::detail::MemoryType<qmx::detail::EEPROMAddressTraits> offset;
  qmx::detail::MemoryType<qmx::detail::MemoryLengthTraits> length{32768};
  HWID::Raw board_hwid{};  // read from the board; all zero: the board has none
  HWID::Raw new_hwid{};    // to program
  std::string sethwid;     // the HWID text, or with hwid_file the HWID text file's path
  // The HWID text file the run takes new_hwid from, and whether it took it,
  // sent it or gave it back.
  std::optional<HwidSupply> hwid_supply;
  // Whether firmware is an image bound to new_hwid, whose download carries it.
  bool firmware_carries_new_hwid = false;
  // Whether an EEPROM size test of this run found the 512-kbit EEPROM, so that
  // no later action asks the board again.
  bool large_eeprom_found = false;
  std::string belto_ls_pt_gpio;
  std::vector<BeltoLsInitPassthroughCommand> passthrough_commands;

  // Whether the warning about a build without target images was given.
  bool stand_in_images_warned = false;
};

}  // namespace mrl
