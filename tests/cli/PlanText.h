#pragma once
// Planned actions as text, for comparing whole plans in tests: each action's
// name and, in brackets, the flags it captured as true.

#include <string>
#include <vector>

#include "cli/ActionPlan.h"

namespace mrl_test {

inline std::vector<std::string> PlanText(const std::vector<mrl::PlannedAction>& actions) {
  std::vector<std::string> text;
  for (const mrl::PlannedAction& action : actions) {
    const mrl::CapturedFlags& f = action.flags;
    const std::pair<bool, const char*> flags[] = {
        {f.rfload, "rfload"},    {f.no_ruvo, "no_ruvo"},
        {f.flash, "flash"},      {f.belto_ls_gx2, "belto_ls_gx2"},
        {f.winbond, "winbond"},  {f.sethwid, "sethwid"},
        {f.ram_only, "ram_only"}};
    std::string captured;
    for (const auto& [set, name] : flags) {
      if (set) captured += (captured.empty() ? "" : ",") + std::string(name);
    }
    text.push_back(mrl::ActionName(action.id) + (captured.empty() ? "" : "[" + captured + "]"));
  }
  return text;
}

}  // namespace mrl_test
