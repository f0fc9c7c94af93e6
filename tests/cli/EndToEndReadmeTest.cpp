// Every line of the README's Examples section, run as written there against
// the simulated board that the README names above its group. The test makes
// the files an example names and puts the board's device in place of the
// README's; an example it cannot set up fails, so the README and the tests
// cannot drift apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "EndToEnd.h"
#include "file/HOFF.h"
#include "file/TCF.h"

namespace mrl_test {
namespace {

using std::chrono::milliseconds;

// ---- The examples as the README writes them ----------------------------------

struct Example {
  int line = 0;         // in the README
  std::string command;  // as written, without its comment
  std::string label;    // the line above its group that names its board
};
void PrintTo(const Example& example, std::ostream* os) {
  *os << "README line " << example.line << ": " << example.command;
}

// The lines indented as code in the Examples section, each under the last
// line before it that ends with a colon.
std::vector<Example> ReadmeExamples() {
  std::ifstream readme(MRL_README);
  std::vector<Example> examples;
  bool in_examples = false;
  std::string label;
  std::string text;
  for (int line = 1; std::getline(readme, text); ++line) {
    if (text.rfind('#', 0) == 0) {
      in_examples = text == "### Examples";
      continue;
    }
    if (!in_examples || text.empty()) continue;
    if (text.rfind("    ", 0) == 0) {
      std::string command = text.substr(0, text.find(" #"));
      command = command.substr(command.find_first_not_of(' '));
      command = command.substr(0, command.find_last_not_of(' ') + 1);
      examples.push_back({line, command, label});
    } else if (text.back() == ':') {
      label = text;
    }
  }
  return examples;
}

// The boards the README names above its groups, by their lines there.
enum class Board { kBlank, kHoldingHwid, kAny, kBlankBehindPassthrough };
const std::map<std::string, Board> kBoardLabels{
    {"A blank board (no HWID):", Board::kBlank},
    {"A board that holds a HWID (over RF: the RF target):", Board::kHoldingHwid},
    {"Any board:", Board::kAny},
    {"A blank Belto LS GX2 board behind a Belto LS MX2 passthrough, reset by hand:",
     Board::kBlankBehindPassthrough},
};

// ---- Setting an example up ---------------------------------------------------

// What follows an option on an example's line.
enum class Takes { kNothing, kValue, kDevice, kInputFile, kOutputFile, kHwidOrSupply };
struct Option {
  const char* name;  // the long name
  Takes takes;
};
// The options the test can set up, as the examples may spell them.
const std::map<std::string, Option> kOptions{
    {"-d", {"--dev", Takes::kDevice}},
    {"--dev", {"--dev", Takes::kDevice}},
    {"-i", {"--hex", Takes::kInputFile}},
    {"--hex", {"--hex", Takes::kInputFile}},
    {"-x", {"--xip", Takes::kInputFile}},
    {"--xip", {"--xip", Takes::kInputFile}},
    {"--img", {"--img", Takes::kInputFile}},
    {"--tcf", {"--tcf", Takes::kInputFile}},
    {"--hoff", {"--hoff", Takes::kInputFile}},
    {"--extract", {"--extract", Takes::kOutputFile}},
    {"-s", {"--sethwid", Takes::kHwidOrSupply}},
    {"--sethwid", {"--sethwid", Takes::kHwidOrSupply}},
    {"--tcf_entry", {"--tcf_entry", Takes::kValue}},
    {"--hoff_entry", {"--hoff_entry", Takes::kValue}},
    {"--offset", {"--offset", Takes::kValue}},
    {"--length", {"--length", Takes::kValue}},
    {"-b", {"--baud", Takes::kValue}},
    {"--baud", {"--baud", Takes::kValue}},
    {"--reset_timeout", {"--reset_timeout", Takes::kValue}},
    {"--belto_ls_pt_gpio", {"--belto_ls_pt_gpio", Takes::kValue}},
    {"--hwid_file", {"--hwid_file", Takes::kNothing}},
    {"-g", {"--gethwid", Takes::kNothing}},
    {"--gethwid", {"--gethwid", Takes::kNothing}},
    {"--clear", {"--clear", Takes::kNothing}},
    {"--test_size", {"--test_size", Takes::kNothing}},
    {"-t", {"--term", Takes::kNothing}},
    {"--term", {"--term", Takes::kNothing}},
    {"--stamp", {"--stamp", Takes::kNothing}},
    {"--rfload", {"--rfload", Takes::kNothing}},
    {"--belto_ls_gx2", {"--belto_ls_gx2", Takes::kNothing}},
    {"--force", {"--force", Takes::kNothing}},
};

// The device the examples name.
const std::string kReadmeDevice = "/dev/ttyUSB0";

// An example made ready for one run in a folder of its own.
struct Prepared {
  std::vector<std::string> words;          // without "mrl"
  std::map<std::string, std::string> has;  // the long name of each option given, and its value
  std::string problem;                     // why the test cannot run it; empty when it can
};

std::string TcfFile(const std::string& entry) {
  std::ostringstream text;
  TCF::Table({{entry, TCF::FirmwareFile(qmx::File::Img(Pattern(512, 7)))}}).ToStream(text);
  return text.str();
}

std::string HoffFile(const std::string& entry) {
  HOFF::File file;
  file.version = 1;
  file.entries.push_back({entry, "eeprom", {{"data", 0x300, Pattern(100, 9)}}});
  std::ostringstream text;
  file.ToStream(text);
  return text.str();
}

const std::string kSupply = "CDEFGHJKLMNP\nQRTUVWXY0123\n";
const Bytes kHexImage = Pattern(4096, 3);
const Bytes kImgImage = Pattern(1000, 5);

// Valid contents for the input file of option; empty when the test has none.
std::string InputFile(const std::string& option, const Prepared& setup) {
  const auto value = [&](const char* name) {
    const auto it = setup.has.find(name);
    return it == setup.has.end() ? std::string() : it->second;
  };
  const auto text = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
  if (option == "--hex") return text(kHexImage);
  if (option == "--img") return text(kImgImage);
  if (option == "--xip") return text(XipContainer());
  if (option == "--tcf" && !value("--tcf_entry").empty()) return TcfFile(value("--tcf_entry"));
  if (option == "--hoff" && !value("--hoff_entry").empty()) return HoffFile(value("--hoff_entry"));
  if (option == "--sethwid" && setup.has.count("--hwid_file")) return kSupply;
  return "";
}

Prepared Prepare(const std::string& command, const std::string& device, const TempDir& dir) {
  Prepared setup;
  std::istringstream in(command);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty() || words[0] != "mrl") {
    setup.problem = "the line does not start with mrl";
    return setup;
  }
  if (command.find_first_of("\"'`$|<>;&\\") != std::string::npos) {
    setup.problem = "the line holds characters of the shell";
    return setup;
  }
  std::vector<std::pair<std::string, Option>> given;  // as written, and what it is
  for (std::size_t i = 1; i < words.size(); ++i) {
    const auto known = kOptions.find(words[i]);
    if (known == kOptions.end()) {
      setup.problem = "the test cannot set up " + words[i];
      return setup;
    }
    const Option& option = known->second;
    std::string value;
    if (option.takes != Takes::kNothing) {
      if (++i == words.size()) {
        setup.problem = words[i - 1] + " has no value";
        return setup;
      }
      value = words[i];
    }
    setup.has[option.name] = value;
    given.emplace_back(value, option);
  }
  if (setup.has.count("--dev") == 0 || setup.has["--dev"] != kReadmeDevice) {
    setup.problem = "the example names no device " + kReadmeDevice;
    return setup;
  }
  for (const auto& [value, option] : given) {
    setup.words.push_back(option.name);
    if (option.takes == Takes::kNothing) continue;
    const bool names_file =
        option.takes == Takes::kInputFile || option.takes == Takes::kOutputFile ||
        (option.takes == Takes::kHwidOrSupply && setup.has.count("--hwid_file"));
    if (option.takes == Takes::kDevice) {
      setup.words.push_back(device);
    } else if (!names_file) {
      setup.words.push_back(value);
    } else if (value.find('/') != std::string::npos) {
      setup.problem = option.name + std::string(" names a file in another folder: ") + value;
      return setup;
    } else if (option.takes == Takes::kOutputFile) {
      setup.words.push_back(dir / value);
    } else {
      const std::string contents = InputFile(option.name, setup);
      if (contents.empty()) {
        setup.problem = std::string("the test cannot make the file of ") + option.name;
        return setup;
      }
      setup.words.push_back(dir.Write(value, contents));
    }
  }
  return setup;
}

// ---- Running an example ------------------------------------------------------

const std::string kGuardRefusal =
    "This operation would overwrite the HWID already present in the device EEPROM. Refusing to "
    "proceed unless --force is supplied.\nInvalid argument received\n";
const std::string kInterrupted = "SIGINT received, closing program\n";
// How long the test waits for what the program or the board is about to do.
constexpr milliseconds kPrompt{10000};

// Standard error without the warning of a build without target images, which
// runs that place none do not print.
std::string WithoutStandInWarning(const std::string& err) {
  if (kTargetImagesSupplied || err.rfind("Warning: this build carries no target images", 0) != 0) {
    return err;
  }
  return err.substr(err.find('\n') + 1);
}

// One run of an example: the board it runs on and how it must end.
struct Trial {
  const char* name;
  bool board_holds_hwid;
  bool force;  // --force is added
  int status;
  std::string err;            // after the stand-in warning
  bool reset_by_hand;         // the GX2 board behind the passthrough, once the run waits for it
  const char* reset_timeout;  // replaces the example's --reset_timeout value, when set
};

// Runs that succeed, and runs that refuse to replace the board's HWID.
Trial Succeeds(const char* name, bool board_holds_hwid, bool force = false) {
  return {name, board_holds_hwid, force, 0, "", false, nullptr};
}
Trial GuardsTheHwid() {
  return {"board holding a HWID", true, false, 1, kGuardRefusal, false, nullptr};
}

std::vector<Trial> TrialsFor(Board board) {
  switch (board) {
    case Board::kBlank:
      return {Succeeds("blank board", false), GuardsTheHwid(),
              Succeeds("board holding a HWID, with --force", true, true)};
    case Board::kHoldingHwid:
      return {Succeeds("board holding a HWID", true)};
    case Board::kAny:
      return {Succeeds("blank board", false), Succeeds("board holding a HWID", true)};
    case Board::kBlankBehindPassthrough:
      return {{"blank board, reset by hand", false, false, 0, "", true, nullptr},
              {"blank board, not reset", false, false, 4, "Operation timed out\n", false, "300"},
              GuardsTheHwid()};
  }
  return {};
}

class EndToEndReadme : public testing::TestWithParam<Example> {
 protected:
  void Run(const Trial& trial) {
    BoardConfig config;
    if (trial.board_holds_hwid) config.hwid = kBoardHwid;
    SimulatedBoard board(config);
    TempDir dir;
    Prepared setup = Prepare(GetParam().command, board.device(), dir);
    ASSERT_EQ(setup.problem, "") << "the README example cannot be set up";
    if (trial.force) setup.words.push_back("--force");
    if (trial.reset_timeout != nullptr) {
      auto at = std::find(setup.words.begin(), setup.words.end(), "--reset_timeout");
      ASSERT_NE(at, setup.words.end()) << "the example bounds no wait with --reset_timeout";
      *(at + 1) = trial.reset_timeout;
    }

    ProgramRun run(MrlBinary(), setup.words);
    if (setup.has.count("--term") == 0) run.CloseInput();
    if (setup.has.count("--term")) {
      ASSERT_TRUE(run.WaitForOut(kTermStart, kPrompt)) << run.err();
      run.Signal(SIGINT);
    } else if (trial.reset_by_hand) {
      // Once the loader image took the command that reads the HWID, it answers
      // it; the reset comes after that answer, while the run waits for the
      // boot monitor to take the hex image. (The run's output is not flushed
      // while it waits, so the board says when.)
      ASSERT_TRUE(
          board.WaitUntil([](const BoardRecord& r) { return !r.commands.empty(); }, kPrompt))
          << run.err();
      board.ResetByHand();
    }
    const ProgramOutcome outcome = run.Wait(kRunDeadline);
    static_cast<void>(board.AwaitClosedLine());
    ASSERT_FINISHED(outcome);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(outcome.status, trial.status) << outcome.out << outcome.err;
    if (setup.has.count("--term")) {
      EXPECT_EQ(outcome.err, kInterrupted);
      return;
    }
    EXPECT_EQ(WithoutStandInWarning(outcome.err), trial.err);
    if (trial.status == 0) ExpectDone(setup, board, dir);
  }

  // What the board, or the folder, holds after a run that succeeded.
  static void ExpectDone(const Prepared& setup, const SimulatedBoard& board, const TempDir& dir) {
    const auto number = [&](const char* option, unsigned fallback) {
      const auto it = setup.has.find(option);
      return it == setup.has.end() ? fallback : std::stoul(it->second, nullptr, 0);
    };
    if (setup.has.count("--hex")) {
      const BoardRecord record = board.record();
      ASSERT_FALSE(record.downloads.empty());
      EXPECT_EQ(record.downloads.back().image, kHexImage);
    }
    if (setup.has.count("--img")) {
      EXPECT_EQ(Slice(board.eeprom(), number("--offset", 0), kImgImage.size()), kImgImage);
    }
    if (setup.has.count("--extract")) {
      EXPECT_EQ(TempDir::Read(dir / setup.has.at("--extract")).size(), number("--length", 32768));
    }
  }
};

TEST_P(EndToEndReadme, EndsAsTheReadmeSaysOnTheBoardItNames) {
  const auto label = kBoardLabels.find(GetParam().label);
  ASSERT_NE(label, kBoardLabels.end())
      << "the README names no board the test knows above this example: \"" << GetParam().label
      << "\"";
  for (const Trial& trial : TrialsFor(label->second)) {
    SCOPED_TRACE(trial.name);
    ASSERT_NO_FATAL_FAILURE(Run(trial));
  }
}

// The example's line and its options: --xip app.xip -s X gives Line52_xip_s.
std::string ExampleName(const testing::TestParamInfo<Example>& info) {
  std::string name = "Line" + std::to_string(info.param.line);
  std::istringstream in(info.param.command);
  for (std::string word; in >> word;) {
    if (word.rfind('-', 0) != 0 || word == "-d") continue;
    name += '_';
    for (char c : word) {
      if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Examples, EndToEndReadme, testing::ValuesIn(ReadmeExamples()),
                         ExampleName);

TEST(EndToEndReadmeExamples, AreThere) {
  EXPECT_FALSE(ReadmeExamples().empty()) << "no examples in " << MRL_README;
}

}  // namespace
}  // namespace mrl_test
