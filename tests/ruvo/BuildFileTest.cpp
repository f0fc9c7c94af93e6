#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ruvo/Ruvo.h"
#include "support/XipFixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ruvo_test::Slot;
using ruvo_test::Words;

class BuildFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("ruvo_build_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string write(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path(name);
  }

  std::string writeText(const std::string& name, const std::string& text) const {
    return write(name, Bytes(text.begin(), text.end()));
  }

  static Bytes wordsToBytes(const Words& words) {
    Bytes bytes;
    for (auto w : words) {
      bytes.push_back(static_cast<std::uint8_t>(w));
      bytes.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return bytes;
  }

  Bytes read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static std::vector<std::string> names(const std::string& buildFile) {
    auto result = Ruvo::BuildFileToFilenames(buildFile);
    EXPECT_EQ(0u, result.index());
    return result.index() == 0 ? std::get<0>(result) : std::vector<std::string>{};
  }

  int toXip(const std::vector<std::string>& files, const std::string& out = "out.xip") const {
    return static_cast<int>(Ruvo::FilesToXip(files, path(out), 64));
  }

  fs::path dir_;
};

TEST_F(BuildFileTest, NamesAreTakenAfterTheFirstEqualsSign) {
  using V = std::vector<std::string>;
  struct Case {
    std::string text;
    V names;
  };
  const Case cases[] = {
      {"0=bootmon.hex\nno equals sign\n1=app.bin\n", {"bootmon.hex", "app.bin"}},
      {"1=a=b\nx=\n", {"a=b", ""}},
      {" 0 = spaced name \nlast=no newline", {" spaced name ", "no newline"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.names, names(writeText("build.txt", c.text))) << c.text;
  }
  auto missing = Ruvo::BuildFileToFilenames(path("missing.txt"));
  ASSERT_EQ(1u, missing.index());
  EXPECT_EQ(152, static_cast<int>(std::get<1>(missing)));
}

TEST_F(BuildFileTest, FilesBecomeSpaceAndRawSlots) {
  std::mt19937 rng(3);
  const auto bootmon = ruvo_test::makeBootmon(rng);
  const Words raw3 = {0x0201, 0x0003};  // 3 bytes: the second word's high byte is 0
  const Words rawOther = ruvo_test::makeRaw(rng, 40);
  write("a.hex", wordsToBytes(bootmon.space));
  write("three.bin", {0x01, 0x02, 0x03});
  write("APP.HEX", wordsToBytes(rawOther));
  write(".hex", {0x05, 0x06});
  write("empty.bin", {});
  // The names are classified as given: ".hex" alone is raw data.
  const fs::path saved = fs::current_path();
  fs::current_path(dir_);
  const int result = toXip({"a.hex", "three.bin", "APP.HEX", ".hex", "empty.bin"});
  fs::current_path(saved);
  ASSERT_EQ(0, result);
  const std::vector<Slot> expected = {{Slot::Kind::kSpace, bootmon.space},
                                      {Slot::Kind::kRaw, raw3},
                                      {Slot::Kind::kRaw, rawOther},
                                      {Slot::Kind::kRaw, {0x0605}},
                                      {}};
  EXPECT_EQ(ruvo_test::makeContainer(expected), read("out.xip"));

  // The container converts.
  auto image = Ruvo::XipToImg({1, 2, 3, 4}, read("out.xip"), 64);
  EXPECT_EQ(0u, image.index());
}

TEST_F(BuildFileTest, HexFileKeepsOnlyItsUpperQuarter) {
  Bytes low(0x18000, 0xAB);
  const std::vector<std::string> files = {write("low.hex", low)};
  ASSERT_EQ(0, toXip(files));
  const std::vector<Slot> expected = {{Slot::Kind::kSpace, Words(ruvo_test::kSpaceWords, 0)}};
  EXPECT_EQ(ruvo_test::makeContainer(expected), read("out.xip"));
}

TEST_F(BuildFileTest, NameCountAndFileSizesAreBounded) {
  const std::string one = write("one.bin", {1, 2});
  EXPECT_EQ(0, toXip(std::vector<std::string>(256, one)));
  EXPECT_EQ(149, toXip(std::vector<std::string>(257, one)));

  EXPECT_EQ(0, toXip({write("full.hex", Bytes(0x20000, 1))}));
  EXPECT_EQ(153, toXip({write("over.hex", Bytes(0x20001, 1))}));
  EXPECT_EQ(153, toXip({write("over.bin", Bytes(0x20001, 1))}));
  // A raw slot word holds at most 0x7FFF words.
  EXPECT_EQ(0, toXip({write("largest.bin", Bytes(0xFFFE, 1))}));
  EXPECT_EQ(153, toXip({write("odd.bin", Bytes(0xFFFF, 1))}));
  EXPECT_EQ(153, toXip({write("large.bin", Bytes(0x10000, 1))}));
}

TEST_F(BuildFileTest, OpenFailuresHaveTheirCodes) {
  EXPECT_EQ(152, toXip({write("there.bin", {1}), path("missing.bin")}));
  EXPECT_EQ(152, toXip({""}));
  EXPECT_FALSE(fs::exists(path("out.xip")));
  // A directory opens but cannot be read: neither a build file nor a slot's file.
  auto directory = Ruvo::BuildFileToFilenames(dir_.string());
  ASSERT_EQ(1u, directory.index());
  EXPECT_EQ(152, static_cast<int>(std::get<1>(directory)));
  EXPECT_EQ(152, toXip({write("there.bin", {1}), dir_.string()}));
  EXPECT_EQ(201, static_cast<int>(Ruvo::FilesToXip({}, path("no/such/dir/out.xip"), 64)));
  EXPECT_EQ(1, static_cast<int>(Ruvo::FilesToXip({}, "/dev/full", 64)));      // nothing written
  EXPECT_EQ(1, static_cast<int>(Ruvo::FilesToXip({}, path("out.xip"), 48)));  // not a power of two
  EXPECT_FALSE(fs::exists(path("out.xip")));
}

TEST_F(BuildFileTest, NoFilesGiveTheEmptyContainer) {
  ASSERT_EQ(0, toXip(names(writeText("build.txt", "nothing here\n"))));
  EXPECT_EQ(526u, read("out.xip").size());
  EXPECT_EQ(ruvo_test::makeContainer({}), read("out.xip"));
}

}  // namespace
