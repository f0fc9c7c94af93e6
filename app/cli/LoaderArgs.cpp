#include "cli/LoaderArgs.h"

#include "cli/ActionBinding.h"
#include "cli/EntrySelection.h"
#include "cli/MemoryTypeOption.h"
#include "cli/UnsignedOption.h"
#include "file/DescriptorTarget.h"
#include "run/HwidActions.h"
#include "run/WriteLimits.h"

namespace po = boost::program_options;

const std::string LoaderArgs::kActionStr{"Download / Terminal Actions"};
const std::string LoaderArgs::kCommonOptStr{"Common Action Modifiers"};
const std::string LoaderArgs::kXipOptStr{"Xip/Img/Extract/Tbf Modifiers"};
const std::string LoaderArgs::kProtoErr{"Invalid protocol version provided."};
const std::string LoaderArgs::kCfErr{"Invalid crystal frequency provided."};
const std::vector<std::string> LoaderArgs::kMutexFlags{
    "hex", "IS2023", "xip", "img", "tbf", "tcf", "hoff", "extract", "clear", "test_size"};

namespace {

// The help texts.
const char* const kHexMsg = "Load the input hex file";
const char* const kIS2023Msg = "Load the input Bluetooth firmware file";
const char* const kXipMsg = "Load the input xip file";
const char* const kImgMsg = "Load the input img file (raw binary)";
const char* const kHoffMsg = "Load the input HOFF file";
const char* const kTbfMsg = "Load the input tbf file";
const char* const kTcfMsg = "Load the input tcf file";
const char* const kTcfEntryMsg = "Specific firmware file to select for loading in TCF file";
const char* const kClearMsg =
    "Clear a specified length of EEPROM contents starting from a given offset";
const char* const kUnlockMsg =
    "Unlock the EEPROM to enable writing to it. Only potentially required for hex image loading.";
const char* const kExtractMsg =
    "Extract raw data in EEPROM of a given length and offset to the given file";
const char* const kGetMsg = "Get and print the HWID on the device, if one is present";
const char* const kNoRuvoMsg =
    "Allows for checking of HWID on firmware images that do not use the Ruvo bootloader";
const char* const kTermMsg = "Display terminal output";
const char* const kStampMsg = "Prepend timestamp to each terminal line";
const char* const kRstMsg = "Reset Quarn board after all other actions (except terminal)";
const char* const kTestSizeMsg = "Tests if the EEPROM is 256kbit or 512kbit";
const char* const kDevMsg = "Serial (COM) Port Device filename";
const char* const kBaudMsg = "Baud rate for serial (COM) port";
const char* const kProtoMsg = "Protocol Version: 1 = slow, 2 = fast.";
const char* const kAltMsg = "Use Fintra/Mordell Vesta Report IDs instead";
const char* const kHIDMsg = "HID Device Identifier as VENDOR_ID:PRODUCT_ID(:SERIAL_NUMBER)";
const char* const kHIDCmdMsg = "Send command to HID device ";
const char* const kHIDListMsg = "List All HID Devices";
const char* const kTimeoutMsg =
    "Sets the timeout (in ms) for any serial port operations to the desired value. 0 means "
    "infinite.";
const char* const kResetTimeoutMsg = "Like --timeout, except for the initial reset of qmx only";
const char* const kForceMsg = "Enable overwriting of an existing HWID on a board.";
const char* const kRamOnlyMsg =
    "Indicates that the hex image only resides in RAM as a transient; disables certain waits and "
    "checks at the end of download.";
const char* const kFlashMsg = "Sets target as Flash chip (assumes 4096 byte Sectors)";
const char* const kWinbondMsg = "Sets target as winbond flash chip";
const char* const kBeltoLsGx2Msg = "Downloads to Belto LS GX2 through Belto LS MX2";
const char* const kBeltoLsPtGpioMsg =
    "Set GPIO in Belto LS passthrough for things like Soft Power (ex: PA3=1,PA1=0)";
const char* const kCfMsg = "Crystal frequency of device: 1 = 12 288 MHz, 2 = 24 576 MHz";
const char* const kSetMsg = "Set the HWID on the device when performing a xip load";
const char* const kSetFileMsg =
    "Indicates that the sethwid argument is a path to a legacy hwids.txt";
const char* const kOffsetMsg =
    "Offset address (in bytes) where to begin writing/reading the image or clearing the EEPROM.";
const char* const kLengthMsg =
    "Length (in bytes) of data to extract or clear from EEPROM. Even unsigned 32-bit value.";
const char* const kRfLoadMsg = "Load over RF using a transient loader connected to a local device";

const char* const kDefaultHid = "1155:22422";

}  // namespace

bool LoaderArgs::Desc(po::options_description& desc) {
  po::options_description actions(kActionStr, qmx::detail::kLineLength,
                                  qmx::detail::kMinDescriptionLength);
  po::options_description common(kCommonOptStr, qmx::detail::kLineLength,
                                 qmx::detail::kMinDescriptionLength);
  po::options_description xip(kXipOptStr, qmx::detail::kLineLength,
                              qmx::detail::kMinDescriptionLength);
  actions.add_options()                                                  //
      ("hex,i", po::value<std::string>(&input_file), kHexMsg)            //
      ("IS2023", po::value<std::string>(&input_file), kIS2023Msg)        //
      ("xip,x", po::value<std::string>(&input_file), kXipMsg)            //
      ("img", po::value<std::string>(&input_file), kImgMsg)              //
      ("hoff", po::value<std::string>(&input_file), kHoffMsg)            //
      ("tbf", po::value<std::string>(&input_file), kTbfMsg)              //
      ("tcf", po::value<std::string>(&input_file), kTcfMsg)              //
      ("tcf_entry", po::value<std::string>(&tcf_entry), kTcfEntryMsg)    //
      ("hoff_entry", po::value<std::string>(&hoff_entry), kTcfEntryMsg)  //
      ("clear", kClearMsg)                                               //
      ("unlock", kUnlockMsg)                                             //
      ("extract", po::value<std::string>(&extract_file), kExtractMsg)    //
      ("gethwid,g", kGetMsg)                                             //
      ("no_ruvo", kNoRuvoMsg)                                            //
      ("term,t", kTermMsg)                                               //
      ("stamp", kStampMsg)                                               //
      ("reset,r", kRstMsg)                                               //
      ("test_size", kTestSizeMsg);
  desc.add(actions);
  common.add_options()                                                                //
      ("dev,d", po::value<std::string>(&dev), kDevMsg)                                //
      ("baud,b", mrl::UnsignedValue(&baud)->default_value(Config::kDefaultBaudRate),  //
       kBaudMsg)                                                                      //
      ("protocol,p", mrl::UnsignedValue(&protocol)->default_value(2), kProtoMsg)      //
      ("mordell", kAltMsg)                                                            //
      ("hid", po::value<std::string>(&hid)->implicit_value(kDefaultHid), kHIDMsg)     //
      ("hid_cmd", mrl::UnsignedValue(&hid_cmd), kHIDCmdMsg)                           //
      ("list_hid", kHIDListMsg)                                                       //
      ("timeout", mrl::UnsignedValue(&timeout)->default_value(kDefaultTimeout),       //
       kTimeoutMsg)                                                                   //
      ("reset_timeout",                                                               //
       mrl::UnsignedValue(&reset_timeout)->default_value(kDefaultResetTimeout),       //
       kResetTimeoutMsg)                                                              //
      ("force", kForceMsg)                                                            //
      ("ram_only", kRamOnlyMsg)                                                       //
      ("flash", kFlashMsg)                                                            //
      ("winbond", kWinbondMsg)                                                        //
      ("belto_ls_gx2", kBeltoLsGx2Msg)                                                //
      ("belto_ls_pt_gpio", po::value<std::string>(&belto_ls_pt_gpio), kBeltoLsPtGpioMsg);
  xip.add_options()                                                                             //
      ("crys_freq,c", mrl::UnsignedValue(&crys_freq)->default_value(2), kCfMsg)                 //
      ("sethwid,s", po::value<std::string>(&sethwid), kSetMsg)                                  //
      ("hwid_file", kSetFileMsg)                                                                //
      ("offset", mrl::UnsignedValue(&offset)->default_value(decltype(offset){kDefaultOffset}),  //
       kOffsetMsg)                                                                              //
      ("length", mrl::UnsignedValue(&length)->default_value(decltype(length){kDefaultLength}),  //
       kLengthMsg)                                                                              //
      ("rfload", kRfLoadMsg);
  desc.add(common);
  desc.add(xip);
  return true;
}

bool LoaderArgs::VerifyArgBounds() const {
  const bool protocol_valid = protocol == 1 || protocol == 2;
  const bool crys_freq_valid = crys_freq == 1 || crys_freq == 2;
  if (!protocol_valid) console.err << kProtoErr << "\n";
  if (!crys_freq_valid) console.err << kCfErr << "\n";
  return protocol_valid && crys_freq_valid;
}

LoaderArgs::Plan LoaderArgs::PlanActions(const po::variables_map& vm) {
  if (!VerifyArgBounds()) return {qmx::Verdict::kRefused, {}};
  const auto given = [&](const char* option) { return vm.count(option) != 0; };
  if (given("tcf") && !mrl::SelectTcfEntry(*this, vm)) {
    return {qmx::Verdict::kRefusedFullyReported, {}};
  }
  std::string hoff_target;
  if (given("hoff") && !mrl::SelectHoffEntry(*this, vm, &hoff_target)) {
    return {qmx::Verdict::kRefusedFullyReported, {}};
  }

  // The alternative of the selected TCF entry: 0 hex, 1 xip, 2 img, 3 TBF, 4 IS2023.
  const int entry = given("tcf") ? firmware.which() : -1;
  mrl::FormatFlags formats;
  formats.hex = given("hex") || entry == 0;
  formats.xip = given("xip") || entry == 1;
  formats.img = given("img") || entry == 2;
  formats.tbf = given("tbf") || entry == 3 || (given("sethwid") && !formats.xip);
  formats.is2023 = given("IS2023") || entry == 4;
  formats.flash = given("flash") || (given("hoff") && hoff_target == "flash");

  // A section that cannot go where it says, or would take the place of the
  // HWID the run programs, is refused before the board is touched.
  if (given("hoff")) {
    if (const auto refusal =
            mrl::HoffSectionRefusal(hoff_file, hoff_entry, formats.flash, given("sethwid"))) {
      console.err << *refusal;
      return {qmx::Verdict::kRefusedFullyReported, {}};
    }
  }

  const mrl::PlanInput input{vm, formats, offset.value(), length.value()};
  if (const auto refusal = mrl::FirstRefusal(input)) {
    console.err << *refusal;
    return {qmx::Verdict::kRefused, {}};
  }
  if (given("stamp") && !given("term")) {
    console.err << "stamp flag is only available when term flag is also specified.\n";
  }
  // Taken now, while the run holds only the descriptors it was given: later
  // the same number may be a port or file of its own.
  if (given("extract")) {
    if (const auto fd = qmx::File::DescriptorNamedBy(extract_file)) {
      extract_descriptor = qmx::File::WritableDescriptor::CopyOf(*fd);
    }
  }
  return {qmx::Verdict::kAccepted, mrl::PlanActions(input)};
}

qmx::Verdict LoaderArgs::GenerateFuncs(ActionList* funcs, const po::variables_map& vm) {
  const Plan plan = PlanActions(vm);
  for (std::size_t at = 0; at < plan.actions.size(); ++at) {
    funcs->push_back(mrl::BindAction(plan.actions, at, *this, vm, input_fd_));
  }
  return plan.verdict;
}
