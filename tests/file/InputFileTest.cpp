#include "file/InputFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>

#include "file/ByteViewStream.h"
#include "file/HOFF.h"
#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/TCF.h"
#include "file/XipFirmwareFile.h"
#include "support/TempDir.h"

namespace {

using qmx::File::Bytes;
using qmx::File::InputFileContents;
using Status = InputFileContents::Status;

// A file of size bytes that starts with head, ends with tail and is zero
// between them; the zeros take no room on disk.
std::string SparseFile(const mrl_test::TempDir& dir, const std::string& name,
                       const std::string& head, off_t size, const std::string& tail = "") {
  const std::string path = dir.Write(name, head);
  const int fd = ::open(path.c_str(), O_WRONLY);
  const auto at = size - static_cast<off_t>(tail.size());
  if (fd < 0 || ::ftruncate(fd, size) != 0 ||
      ::pwrite(fd, tail.data(), tail.size(), at) != static_cast<ssize_t>(tail.size())) {
    ADD_FAILURE() << "cannot make " << path;
  }
  if (fd >= 0) ::close(fd);
  return path;
}

TEST(ReadRegularFile, ReadsOnlyRegularFilesOfAtMostTheGivenSize) {
  const mrl_test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  constexpr std::size_t kMax = 8;
  const struct {
    const char* name;
    std::string path;
    Status status;
    std::string bytes;
  } cases[] = {
      {"regular file", dir.Write("short", std::string("abc")), Status::kRead, "abc"},
      {"empty file", dir.Write("empty", std::string()), Status::kRead, ""},
      {"exactly at the bound", dir.Write("full", std::string("12345678")), Status::kRead,
       "12345678"},
      {"one byte beyond", dir.Write("long", std::string("123456789")), Status::kTooLarge, ""},
      {"oversized sparse file", SparseFile(dir, "sparse", "x", off_t{200} << 20), Status::kTooLarge,
       ""},
      {"directory", dir.path().string(), Status::kCannotOpen, ""},
      {"FIFO without a writer", dir / "fifo", Status::kCannotOpen, ""},
      {"/dev/zero", "/dev/zero", Status::kCannotOpen, ""},
      {"missing", dir / "missing", Status::kCannotOpen, ""},
  };
  for (const auto& c : cases) {
    const InputFileContents contents = qmx::File::ReadRegularFile(c.path, kMax);
    EXPECT_EQ(contents.status, c.status) << c.name;
    EXPECT_EQ(std::string(contents.bytes.begin(), contents.bytes.end()), c.bytes) << c.name;
  }
}

// The size a file tells is no more than a hint: files of the process table
// tell 0 and hold more.
TEST(ReadRegularFile, ReadsWhatTheFileHoldsWhateverItsToldSize) {
  struct stat status {};
  ASSERT_EQ(::stat("/proc/self/status", &status), 0);
  ASSERT_EQ(status.st_size, 0);
  const InputFileContents contents = qmx::File::ReadRegularFile("/proc/self/status", 1 << 20);
  EXPECT_EQ(contents.status, Status::kRead);
  EXPECT_EQ(std::string(contents.bytes.begin(), contents.bytes.begin() + 5), "Name:");
}

TEST(ByteViewStream, SeeksAndTellsWithinTheBytesOnly) {
  const Bytes bytes{'a', 'b', 'c', 'd'};
  qmx::File::ByteViewStream is(bytes);
  EXPECT_EQ(is.seekg(0, std::ios::end).tellg(), 4);
  EXPECT_EQ(is.seekg(-1, std::ios::cur).get(), 'd');
  EXPECT_EQ(is.seekg(1).get(), 'b');
  EXPECT_TRUE(is.unget());
  EXPECT_EQ(is.get(), 'b');
  EXPECT_FALSE(is.putback('x'));  // the bytes are never written
  is.clear();
  EXPECT_FALSE(is.seekg(5));
  is.clear();
  EXPECT_FALSE(is.seekg(-1, std::ios::beg));
  EXPECT_EQ(bytes, (Bytes{'a', 'b', 'c', 'd'}));
}

// Each reader's file: a valid file padded with zeros to exactly its bound is
// read (a hex program at the top of a memory of zero words); one byte more is
// refused, unread, with the reader's own error for it; what is not a regular
// file cannot be opened.
struct Kind {
  const char* name;
  std::function<std::string(const std::string&)> read;  // "" or the error's message
  std::size_t max_size;
  std::string valid_head;
  std::string valid_tail;
  std::string too_large;
};

template <typename Read>
std::function<std::string(const std::string&)> MessageOf(Read read) {
  return [read](const std::string& path) -> std::string {
    const auto result = read(path);
    return result.index() == 0 ? "" : std::get<1>(result).msg();
  };
}

template <typename Table>
std::string TokenText(const Table& table) {
  std::ostringstream os;
  table.ToStream(os);
  return os.str();
}

const TBF::Table kTable({TBF::Entry(TBF::Entry::Address(0x100), qmx::File::Img(Bytes{1, 2}))});

TEST(InputFileReaders, ReadUpToTheirBoundAndRefuseBeyondIt) {
  const mrl_test::TempDir dir;
  const Kind kinds[] = {
      {"hex", MessageOf(qmx::File::Hex::FromFile), qmx::File::Hex::kMaxFileSize, "", "\x12\x34",
       "Hex file is too large"},
      {"img", MessageOf(qmx::File::Img::FromFile), qmx::File::Img::kMaxFileSize, "", "",
       "Invalid memory length"},
      {"xip", MessageOf(qmx::File::Xip::FromFile), qmx::File::Xip::kMaxFileSize, "XIP ", "",
       "Invalid file format"},
      {"IS2023", MessageOf(qmx::File::IS2023::FromFile), qmx::File::IS2023::kMaxFileSize,
       std::string("\0\0", 2), "", "Firmware extends beyond EEPROM"},
      {"tbf", MessageOf(TBF::FromFile), TBF::kMaxFileSize, TokenText(kTable), "",
       "Invalid file format"},
      {"tcf", MessageOf(TCF::FromFile), TCF::kMaxFileSize,
       TokenText(TCF::Table({{"main", TCF::FirmwareFile(kTable)}})), "", "Invalid file format"},
      {"hoff", MessageOf(HOFF::FromFile), HOFF::kMaxFileSize, R"({"version":1,"entries":[]})", "",
       "HOFF file is too large (more than 64 MiB)"},
  };
  for (const Kind& k : kinds) {
    const std::string name = k.name;
    const auto size = static_cast<off_t>(k.max_size);
    const std::string at_bound = SparseFile(dir, name + ".full", k.valid_head, size, k.valid_tail);
    EXPECT_EQ(k.read(at_bound), "") << k.name;
    const std::string beyond =
        SparseFile(dir, name + ".long", k.valid_head, size + 1, k.valid_tail);
    EXPECT_EQ(k.read(beyond), k.too_large) << k.name;
    EXPECT_EQ(k.read(dir.path().string()), "Cannot open file") << k.name;
    EXPECT_EQ(k.read("/dev/zero"), "Cannot open file") << k.name;
  }
}

}  // namespace
