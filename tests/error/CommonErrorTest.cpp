#include "error/CommonError.h"

#include <gtest/gtest.h>

#include <unordered_map>

#include "file/TCF.h"

namespace {

using qmx::File::Hex;

// A small code type with a default text, as a module would write it.
class SampleError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override {
    static const std::string kDefaultStr{"default"};
    static const std::string kTwoStr{"two"};
    return qmx::Error::LookupText(code(), {{2, kTwoStr}}, kDefaultStr);
  }
};

using SampleResult = qmx::Error::Result<qmx::Error::None, SampleError>;

TEST(ResultTest, SuccessGivesCodeZeroAndNoError) {
  const SampleResult result = qmx::Error::None{};
  EXPECT_FALSE(result.failed());
  EXPECT_EQ(0, static_cast<int>(result));
  EXPECT_EQ("No Error", result.msg());
  EXPECT_EQ(&qmx::Error::None::kMsg, &result.msg());
}

TEST(ResultTest, ErrorForwardsCodeAndMessage) {
  const SampleResult result = SampleError(2);
  EXPECT_TRUE(result.failed());
  EXPECT_EQ(2, static_cast<int>(result));
  EXPECT_EQ("two", result.msg());
}

TEST(ResultTest, PlainResultHoldsValueOrError) {
  const qmx::Result<int, SampleError> ok = 5;
  const qmx::Result<int, SampleError> bad = SampleError(9);
  EXPECT_EQ(5, std::get<0>(ok));
  EXPECT_EQ(9, static_cast<int>(std::get<1>(bad)));
}

TEST(CodeErrorTest, CodeIsZeroExtendedAndUnlistedCodesGetTheDefault) {
  const struct {
    std::uint8_t code;
    int expected_int;
    const char* expected_msg;
  } cases[] = {{0, 0, "default"}, {1, 1, "default"}, {2, 2, "two"}, {255, 255, "default"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected_int, static_cast<int>(SampleError(c.code))) << int{c.code};
    EXPECT_EQ(c.expected_msg, SampleError(c.code).msg()) << int{c.code};
  }
}

TEST(CodeErrorTest, MessagesAreSharedObjectsThatOutliveTheError) {
  const std::string* first;
  {
    const SampleError error(2);
    first = &error.msg();
  }
  EXPECT_EQ(first, &SampleError(2).msg());
  EXPECT_EQ("two", *first);
}

TEST(VariantErrorTest, ForwardsThroughEveryLevelOfNesting) {
  const TCF::Error error = TBF::Error(Hex::Error(Hex::SpecificError(3)));
  EXPECT_EQ(3, static_cast<int>(error));
  EXPECT_EQ("Hex file has an odd number of bytes", error.msg());
  EXPECT_EQ(&Hex::SpecificError(3).msg(), &error.msg());

  const qmx::Error::Result<qmx::Error::None, TCF::Error> result = error;
  EXPECT_EQ(3, static_cast<int>(result));
  EXPECT_EQ("Hex file has an odd number of bytes", result.msg());
}

TEST(VariantErrorTest, AlternativeIndexFollowsDeclarationOrder) {
  const TCF::Error common = qmx::File::Common::Error(2);
  const TCF::Error specific = TCF::SpecificError(1);
  EXPECT_EQ(0u, common.index());
  EXPECT_EQ(6u, specific.index());
  EXPECT_EQ("Invalid file format", common.msg());
  EXPECT_EQ("Bundled firmware file is of the wrong type", specific.msg());
}

// Throws from its copy, so that an assignment can leave a variant valueless.
struct Throwing final : qmx::Error::Code {
  Throwing() : Code(1) {}
  Throwing(const Throwing&) : Code(1) { throw 0; }
  Throwing& operator=(const Throwing&) = default;
  const std::string& msg() const override { return qmx::Error::None::kMsg; }
};

TEST(VariantErrorTest, ValuelessVariantThrowsBadVariantAccess) {
  qmx::Error::Variant<SampleError, Throwing> error = SampleError(2);
  const Throwing source;
  try {
    error.emplace<Throwing>(source);
  } catch (int) {
  }
  ASSERT_TRUE(error.valueless_by_exception());
  EXPECT_THROW(static_cast<void>(static_cast<int>(error)), std::bad_variant_access);
  EXPECT_THROW(error.msg(), std::bad_variant_access);
}

TEST(ExceptionTest, CarriesItsMessage) {
  try {
    throw qmx::Error::Exception("malformed entry");
  } catch (const std::exception& e) {
    EXPECT_STREQ("malformed entry", e.what());
  }
}

enum class Frequency { kLow = 1, kHigh = 2 };

TEST(HashTest, IsTheEnumeratorsValue) {
  EXPECT_EQ(2u, qmx::Error::Hash<Frequency>{}(Frequency::kHigh));
  std::unordered_map<Frequency, int, qmx::Error::Hash<Frequency>> table{{Frequency::kLow, 7}};
  EXPECT_EQ(7, table.at(Frequency::kLow));
}

}  // namespace
