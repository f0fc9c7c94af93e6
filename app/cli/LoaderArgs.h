#pragma once
// The downloader's argument group: its 39 options in three captioned groups,
// the options that exclude each other, the bounds of the two enumerated
// options, and the run state that its actions share.

#include <boost/program_options.hpp>
#include <string>
#include <vector>

#include "args/Args.h"
#include "cli/ActionPlan.h"
#include "link/Error.h"
#include "run/RunState.h"

class LoaderArgs : public qmx::Args<mrl::Result>, public mrl::RunState {
 public:
  static constexpr std::uint32_t kDefaultTimeout = 3000;
  static constexpr std::uint32_t kDefaultResetTimeout = 0;
  static constexpr std::uint16_t kDefaultOffset = 0;
  static constexpr std::uint32_t kDefaultLength = 32768;

  static const std::string kActionStr;
  static const std::string kCommonOptStr;
  static const std::string kXipOptStr;
  static const std::string kProtoErr;
  static const std::string kCfErr;
  static const std::vector<std::string> kMutexFlags;

  // The actions talk to the user through console, whose streams must outlive
  // this object; the terminal forwards what arrives on input_fd (standard
  // input in the program) to the board.
  LoaderArgs(const qmx::Console& console, int input_fd) : RunState(console), input_fd_(input_fd) {}

  // The downloader's part of the action list for the parsed values.
  struct Plan {
    qmx::Verdict verdict = qmx::Verdict::kAccepted;
    std::vector<mrl::PlannedAction> actions;  // empty unless accepted
  };
  // Checks the bounds, selects the TCF or HOFF entry (reading the container
  // into the run state) and checks that the HOFF entry's sections can be
  // written to its target (and leave the HWID to --sethwid), refuses
  // contradictory options and plans the actions in their fixed order; an
  // extract target that names one of the process's descriptors gets a copy of
  // it in the run state. Reasons and notes go to the console. Bounds
  // and contradictions are refused with kRefused, an entry that cannot be
  // selected or written with kRefusedFullyReported, since the label list or
  // the section's reason ends its report.
  [[nodiscard]] Plan PlanActions(const boost::program_options::variables_map& vm);
  // Appends the planned actions, bound to this run state, unless refused.
  qmx::Verdict GenerateFuncs(ActionList* funcs,
                             const boost::program_options::variables_map& vm) override;
  bool Desc(boost::program_options::options_description& desc) override;
  std::vector<std::string> MutexFlags() const override { return kMutexFlags; }
  // True when `protocol` and `crys_freq` are each 1 or 2; says what is not on
  // the console's error stream, the protocol first.
  [[nodiscard]] bool VerifyArgBounds() const;

 private:
  int input_fd_;
};
