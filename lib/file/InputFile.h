#pragma once
// Reading a file named by the user with one of the readers: only a regular
// file is read (a folder, a device or a FIFO never is, and is never waited
// on), never more of it than one byte beyond the largest file of its kind.
// A reader works on the bytes read in place, or, where its memory is bounded
// by what the file carries rather than by its text, on the file as a stream.

#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "file/ByteViewStream.h"
#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// What reading a regular file, up to a size, gave.
enum class InputStatus { kRead, kCannotOpen, kTooLarge };

// What reading a regular file whole, up to a size, gave.
struct InputFileContents {
  using Status = InputStatus;
  Status status = Status::kCannotOpen;
  Bytes bytes;  // the whole file when kRead, else empty
};

// Reads the regular file at path in pieces of a fixed size, stopping one byte
// beyond maxSize. The size the system tells for the file only presizes the
// buffer. kCannotOpen when path is not a regular file that opens
// (RegularFile::OpenForReading) or a read fails; kTooLarge when it holds more
// than maxSize bytes.
InputFileContents ReadRegularFile(const std::string& path, std::size_t maxSize);

// Hands read a stream of the regular file at path, which reads the file in
// pieces of a fixed size as read asks for them; afterwards reads on, without
// keeping anything, up to one byte beyond maxSize. kCannotOpen as for
// ReadRegularFile; kTooLarge when the file holds more than maxSize bytes, and
// at once, without calling read, when the system tells a size beyond it. What
// read made of the stream counts only with kRead.
InputStatus StreamRegularFile(const std::string& path, std::size_t maxSize,
                              const std::function<void(std::istream&)>& read);

// The error of a file that was not read: tooLarge for kTooLarge, else
// Common::Error kCannotOpen.
template <typename Error>
Error UnreadFileError(InputStatus status, const Error& tooLarge) {
  return status == InputStatus::kTooLarge ? tooLarge : Error{Common::Error::kCannotOpen};
}

// A reader's result as the result of its file.
template <typename Error, typename Value, typename ReaderError>
qmx::Result<Value, Error> ReaderResult(qmx::Result<Value, ReaderError>&& value) {
  if (value.index() == 1) return Error{std::get<1>(std::move(value))};
  return std::get<0>(std::move(value));
}

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
  if (contents.status != InputStatus::kRead) return UnreadFileError(contents.status, tooLarge);
  ByteViewStream stream(contents.bytes);
  return ReaderResult<Error>(read(stream));
}

// As ReadInputFile, but read works on the file as a stream (StreamRegularFile):
// holds one piece of the file and what read makes of it.
template <typename Error, typename Value, typename ReaderError>
qmx::Result<Value, Error> StreamInputFile(const std::string& path, std::size_t maxSize,
                                          const Error& tooLarge,
                                          qmx::Result<Value, ReaderError> (*read)(std::istream&)) {
  std::optional<qmx::Result<Value, ReaderError>> value;
  const InputStatus status =
      StreamRegularFile(path, maxSize, [&](std::istream& is) { value.emplace(read(is)); });
  if (status != InputStatus::kRead) return UnreadFileError(status, tooLarge);
  return ReaderResult<Error>(std::move(*value));
}

}  // namespace qmx::File
