// The HWID actions but the HWID text file: the display forms, the HWID given
// as text, the HWID read from the simulated board through the loader image,
// and the guards.
#include "run/HwidActions.h"

#include <gtest/gtest.h>

#include <string>

#include "BoardSession.h"
#include "link/XipImageLoader.h"
#include "support/ConsoleCapture.h"

namespace {

using mrl::Result;
using mrl_test::BoardConfig;
using mrl_test::BoardSession;
using mrl_test::ConsoleCapture;
using std::chrono::milliseconds;

// ---- Display forms and the HWID given as text ------------------------------

TEST(HwidDisplay, HexFormShowsFourUpperCaseDigitsPerWord) {
  EXPECT_EQ(mrl::HwidToHexStr({0x12AB, 0x00FF, 0x0000, 0xC001}), "0x12AB00FF0000C001");
  EXPECT_EQ(mrl::HwidToHexStr({}), "0x0000000000000000");
}

TEST(HwidDisplay, Base32FormIsTheTwelveCharactersInParentheses) {
  EXPECT_EQ(mrl::HwidTob32Str(HWID::base32ToRaw("0123456789AB")), " (0123456789AB)");
}

class HwidState : public ::testing::Test {
 protected:
  ConsoleCapture console;
  mrl::RunState state{console.console()};
};

TEST_F(HwidState, ParseHwidArgumentTakesTwelveCharacters) {
  state.sethwid = "0123456789AB";
  const Result result = mrl::ParseHwidArgument(state);
  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(state.new_hwid, HWID::base32ToRaw("0123456789AB"));
  EXPECT_EQ(console.out() + console.err(), "");
}

TEST(IsHwidText, TakesTwelveCharactersOfTheAlphabetOnly) {
  const std::string alphabet = "0123456789ABCDEFGHJKLMNPQRTUVWXY";
  EXPECT_TRUE(mrl::IsHwidText(alphabet.substr(0, 12)));
  EXPECT_TRUE(mrl::IsHwidText(alphabet.substr(12, 12)));
  EXPECT_TRUE(mrl::IsHwidText(alphabet.substr(20, 12)));
  for (const char* text : {"", "0123456789A", "0123456789ABC"}) {
    EXPECT_FALSE(mrl::IsHwidText(text)) << text;
  }
  // Every byte value in the first and in the last group of a valid text.
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool in_alphabet = c != '\0' && alphabet.find(c) != std::string::npos;
    for (std::size_t at : {std::size_t{0}, std::size_t{11}}) {
      std::string text = "0123456789AB";
      text[at] = c;
      EXPECT_EQ(mrl::IsHwidText(text), in_alphabet) << "byte " << byte << " at " << at;
    }
  }
}

TEST_F(HwidState, ParseHwidArgumentRefusesWhatIsNotHwidText) {
  for (const std::string text :
       {"", "0123456789A", "0123456789ABC", "0123456789ab", "I123456789AB", "0123456789AO",
        "0123S56789AB", "012345Z789AB", "01234-6789AB", "0123 56789AB"}) {
    SCOPED_TRACE(text);
    console.Clear();
    state.sethwid = text;
    const Result result = mrl::ParseHwidArgument(state);
    EXPECT_EQ(static_cast<int>(result), mrl::SpecificError::kInvalidArgument);
    EXPECT_EQ(result.msg(), "Invalid argument received");
    EXPECT_EQ(console.err(), "Supplied string is not a valid HWID!\n");
    EXPECT_EQ(state.new_hwid, HWID::Raw{});
  }
}

TEST_F(HwidState, AnnouncementShowsBothForms) {
  state.sethwid = "0123456789AB";
  ASSERT_FALSE(mrl::ParseHwidArgument(state).failed());
  ASSERT_FALSE(mrl::AnnounceSuppliedHwid(state).failed());
  EXPECT_EQ(console.out(), "Using supplied HWID " + mrl::HwidToHexStr(state.new_hwid) +
                               " (0123456789AB) to program the board.\n");
}

// ---- PrintHwid and the guards -----------------------------------------------

struct PrintCase {
  bool winbond;
  HWID::Raw board_hwid;
  std::string printed;
};

TEST_F(HwidState, PrintHwidShowsWhatTheBoardHas) {
  const HWID::Raw hwid = HWID::base32ToRaw("0123456789AB");
  const std::string hex = mrl::HwidToHexStr(hwid);
  const PrintCase cases[] = {
      {false, hwid, "Extracted HWID = " + hex + " (0123456789AB)\n"},
      {false, {}, "No valid HWID found.\n"},
      {true, hwid, "Extracted Winbond HWID = " + hex + "\n"},
      {true, {}, "Extracted Winbond HWID = 0x0000000000000000\n"},
  };
  for (const PrintCase& c : cases) {
    SCOPED_TRACE(c.printed);
    console.Clear();
    state.board_hwid = c.board_hwid;
    EXPECT_FALSE(mrl::PrintHwid(state, c.winbond).failed());
    EXPECT_EQ(console.out(), c.printed);
    EXPECT_EQ(console.err(), "");
  }
}

TEST_F(HwidState, RequireExistingHwidRefusesABoardWithout) {
  const Result refused = mrl::RequireExistingHwid(state);
  EXPECT_EQ(static_cast<int>(refused), mrl::SpecificError::kNoHwid);
  EXPECT_EQ(refused.msg(), "No HWID found in device");
  EXPECT_EQ(console.err(),
            "This operation requires the device EEPROM to already have a valid HWID, but one was "
            "not found! Unable to proceed without --sethwid.\n");

  console.Clear();
  state.board_hwid = {0, 0, 0, 1};
  EXPECT_FALSE(mrl::RequireExistingHwid(state).failed());
  EXPECT_EQ(console.err(), "");
}

TEST_F(HwidState, GuardExistingHwidRefusesABoardWithOne) {
  EXPECT_FALSE(mrl::GuardExistingHwid(state).failed());
  EXPECT_EQ(console.err(), "");

  state.board_hwid = {0x8000, 0, 0, 0};
  const Result refused = mrl::GuardExistingHwid(state);
  EXPECT_EQ(static_cast<int>(refused), mrl::SpecificError::kInvalidArgument);
  EXPECT_EQ(console.err(),
            "This operation would overwrite the HWID already present in the device EEPROM. "
            "Refusing to proceed unless --force is supplied.\n");
}

// ---- The loader image and the HWID read from the board ---------------------

TEST(HelperImage, ChoosesTheLoaderOfTheCrystalOrTheRfLoader) {
  using Crystal = ImgProtocol::CrystalFrequency;
  EXPECT_EQ(&mrl::HelperImage(false, 1), &xip_loader_hexes.at(Crystal::k12_288MHz));
  EXPECT_EQ(&mrl::HelperImage(false, 2), &xip_loader_hexes.at(Crystal::k24_576MHz));
  EXPECT_EQ(&mrl::HelperImage(true, 1), &rf_loader_hex);
  EXPECT_EQ(&mrl::HelperImage(true, 2), &rf_loader_hex);
}

const HWID::Raw kBoardHwid{0x12AB, 0x00FF, 0x0000, 0xC001};

BoardConfig WithHwid(HWID::Raw hwid = kBoardHwid) {
  BoardConfig config;
  config.hwid = hwid;
  return config;
}

// A board session whose boot monitor START is awaited for a bounded time.
struct HelperSession : BoardSession {
  explicit HelperSession(BoardConfig config = WithHwid(), milliseconds timeout = milliseconds(3000))
      : BoardSession(std::move(config), timeout) {
    state.reset_timeout = 5000;
  }
};

struct LoaderCase {
  bool rfload;
  std::uint32_t crys_freq;
};

class LoadHelper : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(LoadHelper, DownloadsTheChosenImageAndKeepsTheBoardsHwid) {
  const LoaderCase c = GetParam();
  HelperSession session;
  session.state.crys_freq = c.crys_freq;

  const Result result = mrl::LoadHelperAndReadHwid(session.state, {c.rfload});

  ASSERT_FALSE(result.failed()) << result.msg();
  const mrl_test::BoardRecord record = session.board.record();
  EXPECT_GE(record.resets, 1u);
  ASSERT_EQ(record.downloads.size(), 1u);
  EXPECT_EQ(record.downloads[0].image, mrl::HelperImage(c.rfload, c.crys_freq));
  const HWID::Raw rf_target{0x1234, 0, 0, 0};
  EXPECT_EQ(session.state.board_hwid, c.rfload ? rf_target : kBoardHwid);
  const std::string out = session.console.out();
  EXPECT_NE(out.find("Download in progress.\n\n"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Images, LoadHelper,
                         ::testing::Values(LoaderCase{false, 1}, LoaderCase{false, 2},
                                           LoaderCase{true, 1}, LoaderCase{true, 2}));

TEST(LoadHelperAndReadHwid, BehindThePassthroughDoesNotResetTheBoard) {
  HelperSession session;
  mrl::CapturedFlags flags;
  flags.belto_ls_gx2 = true;

  const Result result = mrl::LoadHelperAndReadHwid(session.state, flags);

  ASSERT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(session.board.record().resets, 0u);
  EXPECT_EQ(session.state.board_hwid, kBoardHwid);
}

TEST(LoadHelperAndReadHwid, ReadsTheHwidThroughTheCommandTheFlagsChoose) {
  struct Case {
    const char* name;
    bool missing_notice;
    mrl::CapturedFlags flags;
    std::uint8_t command;
    HWID::Raw expected;
  };
  mrl::CapturedFlags no_ruvo;
  no_ruvo.no_ruvo = true;
  mrl::CapturedFlags winbond;
  winbond.winbond = true;
  mrl::CapturedFlags flash;
  flash.flash = true;
  const Case cases[] = {
      {"notice present", false, {}, 0, kBoardHwid},
      {"notice missing: no HWID", true, {}, 0, {}},
      {"notice missing, no_ruvo", true, no_ruvo, 0, kBoardHwid},
      {"winbond", true, winbond, 8, kBoardHwid},
      {"flash", false, flash, 0, kBoardHwid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config = WithHwid();
    config.faults.missing_notice = c.missing_notice;
    HelperSession session(config);

    const Result result = mrl::LoadHelperAndReadHwid(session.state, c.flags);

    ASSERT_FALSE(result.failed()) << result.msg();
    EXPECT_EQ(session.state.board_hwid, c.expected);
    const mrl_test::BoardRecord record = session.board.record();
    ASSERT_FALSE(record.commands.empty());
    EXPECT_EQ(record.commands.back().command, c.command);
    EXPECT_EQ(record.flash_mode, c.flags.flash);
  }
}

TEST(LoadHelperAndReadHwid, FailureOtherThanNoHwidEndsTheActionAndKeepsTheHwid) {
  struct Case {
    const char* name;
    mrl_test::BoardFaults faults;
    mrl::CapturedFlags flags;
    int code;
  };
  mrl_test::BoardFaults silent;
  silent.silent = true;
  mrl_test::BoardFaults nack;
  nack.nack_commands = true;
  mrl_test::BoardFaults no_flash_mode;
  no_flash_mode.nacked_command = 6;
  mrl::CapturedFlags flash;
  flash.flash = true;
  const Case cases[] = {
      {"no boot monitor", silent, {}, qmx::GenericPort::Error::kTimedOut},
      {"loader refuses the query", nack, {}, mrl::SpecificError::kUnexpectedLoaderInput},
      // The HWID query would succeed; the action must not go on to it.
      {"loader refuses flash mode", no_flash_mode, flash,
       mrl::SpecificError::kUnexpectedLoaderInput},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardConfig config = WithHwid();
    config.faults = c.faults;
    HelperSession session(config, milliseconds(300));
    session.state.reset_timeout = 300;
    session.state.board_hwid = {1, 2, 3, 4};

    const Result result = mrl::LoadHelperAndReadHwid(session.state, c.flags);

    EXPECT_EQ(static_cast<int>(result), c.code) << result.msg();
    EXPECT_EQ(session.state.board_hwid, (HWID::Raw{1, 2, 3, 4}));
    EXPECT_TRUE(session.board.record().commands.empty());
  }
}

}  // namespace
