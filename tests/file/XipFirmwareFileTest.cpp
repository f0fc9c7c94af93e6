#include "file/XipFirmwareFile.h"

#include <gtest/gtest.h>

#include "StreamFixture.h"

namespace {

using qmx::File::Bytes;
using qmx::File::Xip;

TEST(XipFirmwareFileTest, ReadsAnyBytesUnchecked) {
  for (const Bytes& bytes : {Bytes{}, Bytes{1}, Bytes(70000, 0xFF)}) {
    auto is = fixture::BytesStream(bytes);
    const auto result = Xip::FromStream(is);
    ASSERT_EQ(0u, result.index()) << bytes.size();
    EXPECT_EQ(bytes, std::get<0>(result).GetRaw());
  }
}

TEST(XipFirmwareFileTest, UnreadableOrUnseekableStreamIsCode1) {
  auto failed = fixture::FailedStream();
  fixture::UnseekableBuffer buffer("ab");
  std::istream unseekable(&buffer);
  for (std::istream* is : {static_cast<std::istream*>(&failed), &unseekable}) {
    const auto result = Xip::FromStream(*is);
    ASSERT_EQ(1u, result.index());
    EXPECT_EQ("Cannot open file", std::get<1>(result).msg());
  }
}

}  // namespace
