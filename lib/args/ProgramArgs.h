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
  // reported on the console's error stream and leaves the parsed values empty;
  // nothing is thrown. Help and version go to the console's output, which the
  // verbose option also attaches to the verbose stream. The groups and the
  // console's streams are borrowed and must outlive this object.
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
    } catch (const po::error& e) {
      *err_ << e.what() << "\n";
      vm_.clear();
    }
  }
  ProgramArgs(const ProgramArgs&) = delete;
  ProgramArgs& operator=(const ProgramArgs&) = delete;

  // Builds the action list; call once. Actions may refer to this object, so
  // the list must be destroyed first.
  ActionList GenerateFuncs() {
    ActionList funcs;
    if (vm_.empty()) return funcs;
    for (Args<R>* group : groups_) {
      if (!group->GenerateFuncs(&funcs, vm_)) *err_ << "Error processing arguments\n";
    }
    if (vm_.count("version")) {
      funcs.clear();
      funcs.push_back(version_.VersionAction());
      return funcs;
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
      funcs.clear();
    }
    return funcs;
  }

  const boost::program_options::variables_map& Values() const { return vm_; }

 private:
  boost::program_options::options_description desc_;
  boost::program_options::positional_options_description pos_;
  boost::program_options::variables_map vm_;
  std::vector<Args<R>*> groups_;
  std::ostream* err_;
  HelpArgs<R> help_;
  VerboseArgs<R> verbose_;
  VersionArgs<R> version_;
};

}  // namespace qmx
