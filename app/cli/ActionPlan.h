#pragma once
// Deciding which of the downloader's actions a command line asks for, apart
// from doing them: the format flags, the refusals of contradictory options and
// the places of the fixed order, each with its condition and the flags its
// action captures.

#include <boost/program_options/variables_map.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "run/PlannedAction.h"

namespace mrl {

// The format flags: what kind of image the run downloads and to which memory.
struct FormatFlags {
  bool hex = false;
  bool xip = false;
  bool img = false;
  bool tbf = false;  // also `sethwid` without an xip image
  bool is2023 = false;
  bool flash = false;
};

// What the plan reads: which options were given, and the two defaulted values
// it tests.
struct PlanInput {
  const boost::program_options::variables_map& vm;
  FormatFlags formats;
  std::uint16_t offset;
  std::uint32_t length;
  bool given(const char* option) const { return vm.count(option) != 0; }
  // Whether the option is on the command line, not only held with its default.
  bool stated(const char* option) const { return given(option) && !vm[option].defaulted(); }
};

// The first refusal that holds, as its message with the line feed; none when
// the options combine.
std::optional<std::string> FirstRefusal(const PlanInput& input);
// The actions in the order they run.
std::vector<PlannedAction> PlanActions(const PlanInput& input);

}  // namespace mrl
