#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "LoaderArgs.h"
#include "args/ProgramArgs.h"
#include "link/Error.h"

namespace mrl {
const char* const kVersionString = "v2.0-205-g1737eae";
}

namespace {

const std::string kProgLongName{"The Quarn Downloader and Simple Terminal"};
const std::string kSigIntStr{"SIGINT received, closing program"};

[[noreturn]] void ctrlC_handler(int) {
  std::cerr << kSigIntStr << "\n";
  std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, ctrlC_handler);
  const qmx::Console console{std::cout, std::cerr};
  LoaderArgs loader(console, STDIN_FILENO);
  int status = 0;
  {
    qmx::ProgramArgs<mrl::Result> args(argc, argv, {&loader}, mrl::kVersionString, console);
    const auto funcs = args.GenerateFuncs();
    qmx::Args<mrl::Result>::vout << "MRL - " << kProgLongName << " - " << __DATE__ << "\n";
    for (const auto& action : funcs) {
      const mrl::Result result = action();
      if (result.failed()) {
        std::cerr << result.msg() << "\n";
        status = static_cast<int>(result);
        break;
      }
    }
  }
  return status;
}
