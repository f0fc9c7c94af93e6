#include "args/ProgramArgs.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>

#include "support/ConsoleCapture.h"

namespace {

namespace po = boost::program_options;
struct TestError final : qmx::Error::Code {
  using Code::Code;
  const std::string& msg() const override { return qmx::Error::None::kMsg; }
};
using R = qmx::Error::Result<qmx::Error::None, TestError>;

// A group with two exclusive flags, a valued option and two flags it refuses
// for: one it gives a reason for, one it reports in full.
class SampleArgs : public qmx::Args<R> {
 public:
  int level = -1;
  std::vector<std::string>* log = nullptr;
  const qmx::Console* console = nullptr;

  qmx::Verdict GenerateFuncs(ActionList* funcs, const po::variables_map& vm) override {
    vout << "sample building\n";
    for (const char* name : {"alpha", "beta"}) {
      if (vm.count(name)) {
        funcs->push_back([this, name]() {
          log->push_back(name);
          console->out << name << " ran\n";
          return R(qmx::Error::None{});
        });
      }
    }
    if (vm.count("refuse")) {
      console->err << "refused\n";
      return qmx::Verdict::kRefused;
    }
    if (vm.count("withdraw")) {
      console->err << "withdrawn, and here is why\n";
      return qmx::Verdict::kRefusedFullyReported;
    }
    return qmx::Verdict::kAccepted;
  }
  bool Desc(po::options_description& desc) override {
    po::options_description group("Sample Options", 80, 40);
    group.add_options()("alpha", "first exclusive")("beta", "second exclusive")(
        "level", po::value<int>(&level)->default_value(3), "a number")("refuse", "refuse")(
        "withdraw", "withdraw");
    desc.add(group);
    return true;
  }
  std::vector<std::string> MutexFlags() const override { return {"beta", "alpha"}; }
};

// Runs one command line through the framework and captures what it printed.
class ProgramArgsTest : public ::testing::Test {
 protected:
  void TearDown() override { qmx::VerboseStream().rdbuf(nullptr); }

  std::vector<std::string> Run(std::vector<std::string> words) {
    words.insert(words.begin(), "mrl");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    sample_.log = &ran_;
    sample_.console = &console_.console();
    qmx::ProgramArgs<R> args(static_cast<int>(argv.size()), argv.data(), {&sample_}, "v9",
                             console_.console());
    qmx::Args<R>::vout << "before verbose\n";
    values_ = args.Values().size();
    const auto plan = args.GenerateFuncs();
    refused_ = plan.refused;
    qmx::Args<R>::vout << "after verbose\n";
    for (auto& f : plan.actions) EXPECT_FALSE(f().failed());
    return ran_;
  }
  std::string out() const { return console_.out(); }
  std::string err() const { return console_.err(); }

  SampleArgs sample_;
  std::vector<std::string> ran_;
  mrl_test::ConsoleCapture console_;
  std::size_t values_ = 0;
  bool refused_ = false;
};

TEST_F(ProgramArgsTest, HelpListsEveryGroupUnderItsCaptionInOrder) {
  Run({"--help"});
  const std::string text = out();
  const auto sample = text.find("Sample Options:");
  const auto help = text.find("Display Help:\n  -h [ --help ]");
  const auto verbose = text.find("Enable Verbose Output:\n  -v [ --verbose ]");
  const auto version = text.find("Print Version Information:\n  --version");
  ASSERT_NE(std::string::npos, sample);
  ASSERT_NE(std::string::npos, help);
  ASSERT_NE(std::string::npos, verbose);
  ASSERT_NE(std::string::npos, version);
  EXPECT_LT(sample, help);
  EXPECT_LT(help, verbose);
  EXPECT_LT(verbose, version);
  EXPECT_EQ("\n\n", text.substr(text.size() - 2));
}

TEST_F(ProgramArgsTest, VerboseAttachesOnlyFromItsGroupOn) {
  Run({"--verbose", "--alpha"});
  // The application group builds before the verbose group attaches the stream.
  EXPECT_EQ("after verbose\nalpha ran\n", out());
}

TEST_F(ProgramArgsTest, WithoutVerboseNothingReachesTheVerboseStream) {
  Run({"--alpha"});
  EXPECT_EQ("alpha ran\n", out());
}

TEST_F(ProgramArgsTest, VersionReplacesTheList) {
  const struct {
    std::vector<std::string> words;
  } cases[] = {{{"--version"}}, {{"--version", "--alpha"}}, {{"--version", "--help", "--beta"}}};
  for (const auto& c : cases) {
    console_.Clear();
    ran_.clear();
    EXPECT_TRUE(Run(c.words).empty());
    EXPECT_FALSE(refused_);
    EXPECT_EQ("v9\n", out());
    EXPECT_EQ("", err());
  }
}

TEST_F(ProgramArgsTest, MutualExclusionReportsInGroupOrderAndRunsNothing) {
  EXPECT_TRUE(Run({"--alpha", "--help", "--beta"}).empty());
  EXPECT_TRUE(refused_);
  EXPECT_EQ("The following provided flags are mutually exclusive:\nbeta\nalpha\nhelp\n", err());
  EXPECT_EQ("", out());
}

TEST_F(ProgramArgsTest, ValuedOptionIsBoundAndAnExclusiveFlagExcludesHelp) {
  EXPECT_EQ(std::vector<std::string>{"alpha"}, Run({"--alpha", "--level", "5"}));
  EXPECT_FALSE(refused_);
  EXPECT_EQ(5, sample_.level);
  ran_.clear();
  console_.Clear();
  Run({"--alpha", "--help"});
  EXPECT_EQ("The following provided flags are mutually exclusive:\nalpha\nhelp\n", err());
}

// Every report is written, the version is not printed, and no action runs,
// not even what the refusing group had appended.
TEST_F(ProgramArgsTest, ARefusalRunsNothing) {
  const struct {
    std::vector<std::string> words;
    const char* err;
  } cases[] = {
      {{"--alpha", "--refuse"}, "refused\nError processing arguments\n"},
      {{"--alpha", "--withdraw"}, "withdrawn, and here is why\n"},
      {{"--version", "--refuse"}, "refused\nError processing arguments\n"},
      {{"--version", "--withdraw"}, "withdrawn, and here is why\n"},
      {{"--alpha", "--beta", "--refuse"},
       "refused\nError processing arguments\n"
       "The following provided flags are mutually exclusive:\nbeta\nalpha\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    console_.Clear();
    ran_.clear();
    EXPECT_TRUE(Run(c.words).empty());
    EXPECT_TRUE(refused_);
    EXPECT_EQ(c.err, err());
    EXPECT_EQ("", out());
  }
}

TEST_F(ProgramArgsTest, ParseErrorsLeaveNothingToRun) {
  const struct {
    std::vector<std::string> words;
    const char* message;
  } cases[] = {
      {{"--nope", "--verbose"}, "unrecognised option '--nope'\n"},
      {{"stray"}, "too many positional options have been specified on the command line\n"},
      {{"--level", "x", "--verbose"}, "the argument ('x') for option '--level' is invalid\n"},
      {{"--level"}, "the required argument for option '--level' is missing\n"},
  };
  for (const auto& c : cases) {
    console_.Clear();
    EXPECT_TRUE(Run(c.words).empty());
    EXPECT_TRUE(refused_);
    EXPECT_EQ(0u, values_);
    EXPECT_EQ(c.message, err());
    EXPECT_EQ("", out());  // verbose was never attached
  }
}

TEST_F(ProgramArgsTest, NothingAskedForRunsNothing) {
  EXPECT_TRUE(Run({}).empty());
  EXPECT_FALSE(refused_);
  EXPECT_NE(0u, values_);  // the defaulted option is stored
  EXPECT_EQ("", out());
  EXPECT_EQ("", err());
}

TEST(VersionArgsTest, WithoutTextSaysSo) {
  std::ostringstream out;
  qmx::VersionArgs<R> version(nullptr, &out);
  EXPECT_FALSE(version.VersionAction()().failed());
  EXPECT_EQ("No version information available\n", out.str());
}

}  // namespace
