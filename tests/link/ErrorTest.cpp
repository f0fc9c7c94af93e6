#include "link/Error.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SpecificError, MessagesByCode) {
  const std::string texts[] = {"Invalid checksum",
                               "No HWID found in device",
                               "EEPROM is too small to contain the image",
                               "Unexpected input from loader slave",
                               "Could not initialize hidapi library",
                               "No port specified. Must specify a COM or HID port.",
                               "Could not enumerate HID devices.",
                               "Belto LS Passthrough Command was ill-formed"};
  for (int code = 0; code < 256; ++code) {
    const mrl::SpecificError error(static_cast<std::uint8_t>(code));
    const std::string expected =
        code >= 2 && code <= 9 ? texts[code - 2] : "Invalid argument received";
    EXPECT_EQ(static_cast<int>(error), code);
    EXPECT_EQ(error.msg(), expected) << "code " << code;
  }
}

// Only the application error itself counts: a failed port write shares the
// code of "no HWID", and taking it for the board's answer would let a HWID
// be overwritten.
TEST(Error, IsSpecificTellsTheErrorFromOthersSharingItsCode) {
  const struct {
    mrl::Error error;
    bool is_no_hwid;
  } cases[] = {
      {mrl::Error(mrl::SpecificError::kNoHwid), true},
      {mrl::Error(mrl::SpecificError::kEepromTooSmall), false},
      {mrl::Error(qmx::GenericPort::Error::kWriteFailed), false},
      {mrl::Error(TCF::Error(TCF::SpecificError(3))), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error.msg());
    EXPECT_EQ(mrl::IsSpecific(c.error, mrl::SpecificError::kNoHwid), c.is_no_hwid);
  }
}

TEST(Error, ForwardsToTheAlternativeItHolds) {
  const mrl::Error port = qmx::GenericPort::Error(4);
  EXPECT_EQ(port.index(), 1u);
  EXPECT_EQ(static_cast<int>(port), 4);
  EXPECT_EQ(port.msg(), "Operation timed out");

  const mrl::Error app = mrl::SpecificError(4);
  EXPECT_EQ(app.index(), 0u);
  EXPECT_EQ(static_cast<int>(app), 4);
  EXPECT_EQ(app.msg(), "EEPROM is too small to contain the image");

  const TCF::Error file_error = TCF::SpecificError(1);
  const mrl::Error file = file_error;
  EXPECT_EQ(file.index(), 2u);
  EXPECT_EQ(static_cast<int>(file), 1);
  EXPECT_EQ(&file.msg(), &file_error.msg());

  const mrl::Error open = qmx::GenericPort::Error(1);
  const mrl::Error invalid = mrl::SpecificError(1);
  EXPECT_EQ(static_cast<int>(open), static_cast<int>(invalid));
  EXPECT_NE(open.msg(), invalid.msg());
}

TEST(Error, ResultCarriesCodeAndMessage) {
  const mrl::Result ok = qmx::Error::None{};
  EXPECT_FALSE(ok.failed());
  EXPECT_EQ(static_cast<int>(ok), 0);
  EXPECT_EQ(ok.msg(), "No Error");

  const mrl::Result failed = mrl::Error(mrl::SpecificError(7));
  EXPECT_TRUE(failed.failed());
  EXPECT_EQ(static_cast<int>(failed), 7);
  EXPECT_EQ(failed.msg(), "No port specified. Must specify a COM or HID port.");
}

TEST(Error, MessageOutlivesTheError) {
  const std::string* text = nullptr;
  {
    const mrl::Error error = mrl::SpecificError(2);
    text = &error.msg();
  }
  EXPECT_EQ(*text, "Invalid checksum");
}

}  // namespace
