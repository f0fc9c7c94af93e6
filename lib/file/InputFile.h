#pragma once
// Reading a file named by the user with one of the readers: only a regular
// file is read (a folder, a device or a FIFO never is, and is never waited
// on), never more of it than one byte beyond the largest file of its kind,
// and the reader works on the bytes read in place.

#include <cstddef>
#include <string>
#include <utility>
#include <variant>

#include "file/ByteViewStream.h"
#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// What reading a regular file whole, up to a size, gave.
struct InputFileContents {
  enum class Status { kRead, kCannotOpen, kTooLarge };
  Status status = Status::kCannotOpen;
  Bytes bytes;  // the whole file when kRead, else empty
};

// Reads the regular file at path in pieces of a fixed size, stopping one byte
// beyond maxSize. The size the system tells for the file only presizes the
// buffer. kCannotOpen when path is not a regular file that opens
// (RegularFile::OpenForReading) or a read fails; kTooLarge when it holds more
// than maxSize bytes.
InputFileContents ReadRegularFile(const std::string& path, std::size_t maxSize);

// read (a reader's FromStream) of the regular file at path, for the file's
// own FromFile. Its error, of type Error, is read's error; Common::Error
// kCannotOpen when the path is not a regular file that can be read; tooLarge,
// the reader's error for an oversized or malformed file, when the file holds
// more than maxSize bytes. Holds at most the bytes read and what read makes
// of them.
template <typename Error, typename Value, typename ReaderError>
qmx::Result<Value, Error> ReadInputFile(const std::string& path, std::size_t maxSize,
                                        const Error& tooLarge,
                                        qmx::Result<Value, ReaderError> (*read)(std::istream&)) {
  const InputFileContents contents = ReadRegularFile(path, maxSize);
  switch (contents.status) {
    case InputFileContents::Status::kCannotOpen:
      return Error{Common::Error::kCannotOpen};
    case InputFileContents::Status::kTooLarge:
      return tooLarge;
    case InputFileContents::Status::kRead:
      break;
  }
  ByteViewStream stream(contents.bytes);
  qmx::Result<Value, ReaderError> value = read(stream);
  if (value.index() == 1) return Error{std::get<1>(std::move(value))};
  return std::get<0>(std::move(value));
}

}  // namespace qmx::File
