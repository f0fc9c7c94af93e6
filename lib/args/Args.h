#pragma once
// Argument groups: each declares its options and, once the command line is
// parsed, appends its actions to one ordered list.

#include <boost/program_options.hpp>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "console/Console.h"
#include "console/VerboseStream.h"
#include "error/CommonError.h"

namespace qmx {

// What a group makes of the parsed command line. A refused command line runs
// nothing.
enum class Verdict {
  kAccepted,
  // The group has written its reason; "Error processing arguments" follows.
  kRefused,
  // The group's own report says all there is to say.
  kRefusedFullyReported,
};

template <typename R>
class Args {
 public:
  using Action = std::function<R()>;
  using ActionList = std::vector<Action>;

  // Step-by-step detail goes here; it is discarded unless `verbose` was given.
  static inline std::ostream& vout = VerboseStream();

  // Appends this group's actions, or refuses the combination of options after
  // writing the reason to standard error.
  [[nodiscard]] virtual Verdict GenerateFuncs(ActionList* funcs,
                                              const boost::program_options::variables_map& vm) = 0;
  // Adds this group's options as captioned sub-descriptions.
  virtual bool Desc(boost::program_options::options_description& desc) = 0;
  // Adds positional options; no group of this program declares any.
  virtual bool PosDesc(boost::program_options::positional_options_description&) { return true; }
  // Names of this group's options that exclude every other exclusive option.
  virtual std::vector<std::string> MutexFlags() const = 0;

 protected:
  ~Args() = default;
};

namespace detail {

inline constexpr unsigned kLineLength = 80;
inline constexpr unsigned kMinDescriptionLength = kLineLength / 2;

// Adds one captioned sub-description holding a single flag.
inline void AddFlagGroup(boost::program_options::options_description& desc, const char* caption,
                         const char* option, const char* text) {
  boost::program_options::options_description group(caption, kLineLength, kMinDescriptionLength);
  group.add_options()(option, text);
  desc.add(group);
}

}  // namespace detail

// `help,h`: prints the whole options description to out.
template <typename R>
class HelpArgs : public Args<R> {
 public:
  HelpArgs(const boost::program_options::options_description* desc, std::ostream* out)
      : desc_(desc), out_(out) {}

  Verdict GenerateFuncs(typename Args<R>::ActionList* funcs,
                        const boost::program_options::variables_map& vm) override {
    if (vm.count("help")) {
      funcs->push_back([desc = desc_, out = out_]() {
        *out << *desc << "\n";
        return R(Error::None{});
      });
    }
    return Verdict::kAccepted;
  }
  bool Desc(boost::program_options::options_description& desc) override {
    detail::AddFlagGroup(desc, "Display Help", "help,h", "Display Help");
    return true;
  }
  std::vector<std::string> MutexFlags() const override { return {"help"}; }

 private:
  const boost::program_options::options_description* desc_;
  std::ostream* out_;
};

// `verbose,v`: attaches the verbose stream to the given stream at once.
template <typename R>
class VerboseArgs : public Args<R> {
 public:
  explicit VerboseArgs(std::ostream* target) : target_(target) {}

  Verdict GenerateFuncs(typename Args<R>::ActionList*,
                        const boost::program_options::variables_map& vm) override {
    if (vm.count("verbose")) AttachVerboseStream(*target_);
    return Verdict::kAccepted;
  }
  bool Desc(boost::program_options::options_description& desc) override {
    detail::AddFlagGroup(desc, "Enable Verbose Output", "verbose,v", "Enable Verbose Output");
    return true;
  }
  std::vector<std::string> MutexFlags() const override { return {}; }

 private:
  std::ostream* target_;
};

// `version`: prints the version text to out.
template <typename R>
class VersionArgs : public Args<R> {
 public:
  VersionArgs(const char* version, std::ostream* out) : version_(version), out_(out) {}

  typename Args<R>::Action VersionAction() const {
    return [version = version_, out = out_]() {
      if (version)
        *out << version << "\n";
      else
        *out << "No version information available\n";
      return R(Error::None{});
    };
  }
  Verdict GenerateFuncs(typename Args<R>::ActionList* funcs,
                        const boost::program_options::variables_map& vm) override {
    if (vm.count("version")) funcs->push_back(VersionAction());
    return Verdict::kAccepted;
  }
  bool Desc(boost::program_options::options_description& desc) override {
    detail::AddFlagGroup(desc, "Print Version Information", "version", "Print Version Information");
    return true;
  }
  std::vector<std::string> MutexFlags() const override { return {}; }

 private:
  const char* version_;
  std::ostream* out_;
};

}  // namespace qmx
