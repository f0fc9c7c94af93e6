#include "EndToEnd.h"

#include <iomanip>
#include <random>
#include <sstream>

#include "file/XipFirmwareFile.h"
#include "support/XipFixture.h"

namespace mrl_test {

std::string HexForm(const HWID::Raw& hwid) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << std::setfill('0');
  for (std::uint16_t word : hwid) text << std::setw(4) << word;
  return text.str();
}

std::string Base32Form(const HWID::Raw& hwid) {
  const HWID::Base32 text = HWID::rawToBase32(hwid);
  return " (" + std::string(text.begin(), text.end()) + ")";
}

std::string Announcement(const HWID::Raw& hwid) {
  return "Using supplied HWID " + HexForm(hwid) + Base32Form(hwid) + " to program the board.\n";
}

std::string TbfOut(unsigned binary_entries, bool hex) {
  const std::string n = std::to_string(binary_entries + (hex ? 1 : 0));
  std::string out;
  for (unsigned i = 1; i <= binary_entries; ++i) {
    out += "Loading image " + std::to_string(i) + " of " + n + "\n" + kImgOut + "\n";
  }
  if (hex) out += "Loading image " + n + " of " + n + "\n" + kHexOut;
  return out;
}

Bytes XipContainer() {
  std::mt19937 rng(7);
  return ruvo_test::makeContainer(
      {{ruvo_test::Slot::Kind::kSpace, ruvo_test::makeBootmon(rng).space},
       {ruvo_test::Slot::Kind::kRaw, ruvo_test::makeRaw(rng, 300)}});
}

Bytes XipImage(const Bytes& container, const HWID::Raw& hwid, int page_size) {
  const auto img = qmx::File::Xip(container).ToImg(hwid, page_size);
  if (img.index() != 0) {
    ADD_FAILURE() << "the xip container does not convert";
    return {};
  }
  return std::get<0>(img).GetRaw();
}

std::string MrlBinary() {
  return MRL_BINARY;
}

ProgramOutcome RunMrl(const std::vector<std::string>& words, const ChildStreams& streams) {
  return RunProgram(MrlBinary(), words, kRunDeadline, streams);
}

}  // namespace mrl_test
