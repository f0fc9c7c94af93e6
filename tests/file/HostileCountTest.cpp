// A count written in a hostile container file never sizes an allocation: every reader is given
// files whose counts (bytes, entries, labels, keys, buckets) claim far more than they hold,
// and the largest single allocation made while reading is recorded. A request beyond the
// memory of a small machine fails, so that a file longer than the memory can be tried too.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/TCF.h"
#include "file/XipFirmwareFile.h"

namespace {

std::atomic<std::size_t> gLargestAllocation{0};
constexpr std::size_t kMemory = std::size_t{1} << 30;

void* Allocate(std::size_t size) noexcept {
  std::size_t largest = gLargestAllocation.load();
  while (size > largest && !gLargestAllocation.compare_exchange_weak(largest, size)) {
  }
  if (size > kMemory) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// The replacements pair malloc with free; GCC cannot see that they replace each other.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

constexpr std::size_t kLargestAllowed = 64 * 1024;

struct Case {
  const char* name;
  std::string valid;
  std::string from;  // replaced in valid by to
  std::string to;
  bool reads = false;  // the count is not needed to read the file, which then reads
};

std::string Mutated(const Case& c) {
  std::string text = c.valid;
  const auto at = text.find(c.from);
  EXPECT_NE(std::string::npos, at) << c.name;
  if (at != std::string::npos) text.replace(at, c.from.size(), c.to);
  return text;
}

template <class Read>
void ExpectBounded(const Case& c, Read read) {
  std::istringstream valid(c.valid);
  ASSERT_EQ(0u, read(valid).index()) << c.name << ": the unchanged file must read";
  std::istringstream hostile(Mutated(c));
  gLargestAllocation = 0;
  const auto result = read(hostile);
  EXPECT_LT(gLargestAllocation.load(), kLargestAllowed) << c.name;
  if (c.reads) {
    EXPECT_EQ(0u, result.index()) << c.name;
  } else {
    ASSERT_EQ(1u, result.index()) << c.name;
    EXPECT_EQ(2, static_cast<int>(std::get<1>(result))) << c.name;
  }
}

const std::string kHuge = "999999999999";
const std::string kMaxInt = "2147483647";

// The older form of a table with the hex program 1 2 and the entry 7 8 at address 100.
const std::string kOldTbf =
    "22 serialization::archive 18 0 0 0 1 1 0 0 2 0 1 2 0 0 1 0 0 0 0 0 100 2 0 7 8\n";
// The older form of a container with the img entry "label" of 1 2 and the metadata key 3.
const std::string kOldTcf =
    "22 serialization::archive 18 0 1 0 0 1 13 0 0 0 5 label 0 0 3 1 0\n"
    "0 1 2 0 1 2 0 0 1 13 0 0 0 3 key 1 0 3\n";
// The same two in the token form.
const std::string kTbf =
    "22 serialization::archive 0 x x x x 1 x x 2 x 1 2 x x 1 x x x x x 100 x x 2 x 7 8 ";
const std::string kTcf =
    "22 serialization::archive 0 x x x x 1 x x x x 5 label x x x x 2 x x 2 x 1 2 "
    "x x 1 x x x x 3 key 1 x 3 ";

TEST(HostileCountTest, TbfReadersAllocateByWhatIsThere) {
  const Case cases[] = {
      {"older hex byte count", kOldTbf, " 0 0 2 0 1 2", " 0 0 " + kHuge + " 0 1 2"},
      {"older entry count", kOldTbf, "0 0 1 0 0 0", "0 0 " + kHuge + " 0 0 0"},
      {"older entry byte count", kOldTbf, "100 2 0", "100 " + kHuge + " 0"},
      {"older signature length", kOldTbf, "22 ", kHuge + " "},
      {"hex byte count", kTbf, "x x 2 x 1 2", "x x " + kMaxInt + " x 1 2"},
      {"entry count", kTbf, "x x 1 x", "x x " + kMaxInt + " x"},
      {"entry byte count", kTbf, "100 x x 2", "100 x x " + kMaxInt},
  };
  for (const Case& c : cases)
    ExpectBounded(c, [](std::istream& is) { return TBF::FromStream(is); });
}

TEST(HostileCountTest, TcfReadersAllocateByWhatIsThere) {
  const Case cases[] = {
      {"older entry count", kOldTcf, "0 0 1 13 0 0 0 5", "0 0 " + kHuge + " 13 0 0 0 5"},
      {"older bucket count", kOldTcf, "1 13 0 0 0 5", "1 " + kHuge + " 0 0 0 5", true},
      {"older label length", kOldTcf, "5 label", kHuge + " label"},
      {"older payload byte count", kOldTcf, "\n0 1 2 0 1 2", "\n0 1 " + kHuge + " 0 1 2"},
      {"older key bucket count", kOldTcf, "1 13 0 0 0 3 key", "1 " + kHuge + " 0 0 0 3 key", true},
      {"older key length", kOldTcf, "3 key", kHuge + " key"},
      {"older value byte count", kOldTcf, "key 1 0 3", "key " + kHuge + " 0 3"},
      {"entry count", kTcf, "x x x x 1 x x x x", "x x x x 65535 x x x x"},
      {"label length", kTcf, "5 label", kMaxInt + " label", true},
      {"payload byte count", kTcf, "x x 2 x 1 2", "x x " + kMaxInt + " x 1 2"},
      {"key count", kTcf, "x x 1 x x x x 3", "x x 65535 x x x x 3"},
      {"value byte count", kTcf, "key 1 x", "key " + kMaxInt + " x"},
  };
  for (const Case& c : cases)
    ExpectBounded(c, [](std::istream& is) { return TCF::FromStream(is); });
}

// A stream that tells a length of 1 TiB, as a huge file does, and holds no bytes.
class HugeBuffer : public std::streambuf {
 protected:
  pos_type seekoff(off_type offset, std::ios::seekdir dir, std::ios::openmode which) override {
    const off_type base = dir == std::ios::beg ? 0 : dir == std::ios::end ? kLength : position_;
    return seekpos(pos_type(base + offset), which);
  }
  pos_type seekpos(pos_type position, std::ios::openmode) override {
    position_ = position;
    return position;
  }

 private:
  static constexpr off_type kLength = off_type{1} << 40;
  off_type position_ = 0;
};

TEST(HostileCountTest, WholeFileReadersRefuseAFileLongerThanTheMemory) {
  HugeBuffer imgBuffer;
  std::istream img(&imgBuffer);
  gLargestAllocation = 0;
  const auto image = qmx::File::Img::FromStream(img);
  EXPECT_LT(gLargestAllocation.load(), kLargestAllowed);
  ASSERT_EQ(1u, image.index());
  EXPECT_EQ(1u, std::get<1>(image).index());
  EXPECT_EQ("Invalid memory length", std::get<1>(image).msg());

  HugeBuffer xipBuffer;
  std::istream xip(&xipBuffer);
  qmx::Result<qmx::File::Xip, qmx::File::Common::Error> container = qmx::File::Xip{};
  ASSERT_NO_THROW(container = qmx::File::Xip::FromStream(xip));
  ASSERT_EQ(1u, container.index());
  EXPECT_EQ("Cannot open file", std::get<1>(container).msg());
}

}  // namespace
