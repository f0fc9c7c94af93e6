#pragma once
// One command line parsed the way the program parses it: the downloader's
// group and the built-in ones, with the console captured.

#include <memory>
#include <string>
#include <vector>

#include "args/ProgramArgs.h"
#include "cli/LoaderArgs.h"
#include "support/ConsoleCapture.h"

namespace mrl_test {

class CommandLine {
 public:
  // words: the options, without the program name.
  explicit CommandLine(std::vector<std::string> words) : words_(std::move(words)) {
    words_.insert(words_.begin(), "mrl");
    std::vector<char*> argv;
    for (std::string& word : words_) argv.push_back(word.data());
    args_ = std::make_unique<qmx::ProgramArgs<mrl::Result>>(
        static_cast<int>(argv.size()), argv.data(), std::vector<qmx::Args<mrl::Result>*>{&loader},
        "v2.0-205-g1737eae", console.console());
  }

  const boost::program_options::variables_map& values() const { return args_->Values(); }
  qmx::ProgramArgs<mrl::Result>& args() { return *args_; }

  ConsoleCapture console;
  LoaderArgs loader{console.console(), -1};  // no terminal input

 private:
  std::vector<std::string> words_;
  std::unique_ptr<qmx::ProgramArgs<mrl::Result>> args_;
};

}  // namespace mrl_test
