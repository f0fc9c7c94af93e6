#pragma once
// The program's command line: declares every group's options, parses once and
// assembles the ordered action list.

#include <boost/program_options.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "args/Args.h"
#include "error/CommonError.h"

namespace qmx {

template <typename R>
class ProgramArgs {
 public:
  using ActionList = typename Args<R>::ActionList;

  // Declares all options and parses the command line. A bad command line is
  // reported on the console's error stream, leaves the parsed values empty
  // and is refused; nothing is thrown. Help and version go to the console's
  // output, which the verbose option also attaches to the verbose stream. The
  // groups and the console's streams are borrowed and must outlive this object.
  ProgramArgs(int argc, char** argv, std::vector<Args<R>*> groups, const char* version,
              const Console& console)
      : desc_(detail::kLineLength, detail::kMinDescriptionLength),
        groups_(std::move(groups)),
        err_(&console.err),
        help_(&desc_, &console.out),
        verbose_(&console.out),
        version_(version, &console.out) {
    groups_.push_back(&help_);
    groups_.push_back(&verbose_);
    groups_.push_back(&version_);
    namespace po = boost::program_options;
    try {
      for (Args<R>* group : groups_) {
        group->Desc(desc_);
        group->PosDesc(pos_);
      }
      po::store(po::command_line_parser(argc, argv).options(desc_).positional(pos_).run(), vm_);
      po::notify(vm_);
      parsed_ = true;
    } catch (const po::error& e) {
      *err_ << e.what() << "\n";
      vm_.clear();
    }
  }
  ProgramArgs(const ProgramArgs&) = delete;
  ProgramArgs& operator=(const ProgramArgs&) = delete;

  // What the command line asks for: the actions in the order they run, or a
  // refusal, which has been reported on the console's error stream.
  struct Plan {
    bool refused = false;
    ActionList actions;  // empty when refused
  };

  // Builds the plan; call once. Every group has its say, also after another
  // one refused, so that every reason is reported. With `version` the version
  // alone is printed unless a group refused; without it, two or more
  // exclusive options refuse the command line. Actions may refer to this
  // object, so the plan must be destroyed first.
  [[nodiscard]] Plan GenerateFuncs() {
    Plan plan;
    if (!parsed_) {
      plan.refused = true;
      return plan;
    }
    for (Args<R>* group : groups_) {
      switch (group->GenerateFuncs(&plan.actions, vm_)) {
        case Verdict::kAccepted:
          break;
        case Verdict::kRefused:
          *err_ << "Error processing arguments\n";
          plan.refused = true;
          break;
        case Verdict::kRefusedFullyReported:
          plan.refused = true;
          break;
      }
    }
    if (vm_.count("version")) {
      plan.actions.clear();
      if (!plan.refused) plan.actions.push_back(version_.VersionAction());
      return plan;
    }
    std::vector<std::string> exclusive;
    for (const Args<R>* group : groups_) {
      for (const std::string& name : group->MutexFlags()) {
        if (vm_.count(name)) exclusive.push_back(name);
      }
    }
    if (exclusive.size() >= 2) {
      *err_ << "The following provided flags are mutually exclusive:\n";
      for (const std::string& name : exclusive) *err_ << name << "\n";
      plan.refused = true;
    }
    if (plan.refused) plan.actions.clear();
    return plan;
  }

  const boost::program_options::variables_map& Values() const { return vm_; }

 private:
  boost::program_options::options_description desc_;
  boost::program_options::positional_options_description pos_;
  boost::program_options::variables_map vm_;
  bool parsed_ = false;
  std::vector<Args<R>*> groups_;
  std::ostream* err_;
  HelpArgs<R> help_;
  VerboseArgs<R> verbose_;
  VersionArgs<R> version_;
};

}  // namespace qmx
