#include "process/OutputWatch.h"

#include <algorithm>
#include <cerrno>

namespace mrl {
namespace {

bool EndsLine(char c) {
  return c == '\n' || c == '\r';
}

}  // namespace

int WatchedFileBuf::Finish() {
  sync();
  // A failure inside the C library that no call here saw.
  if (std::ferror(file_)) NoteFailure(EIO);
  return first_error_.load();
}

WatchedFileBuf::int_type WatchedFileBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char character = traits_type::to_char_type(c);
  if (std::fputc(character, file_) == EOF) {
    NoteFailure(errno);
    return traits_type::eof();
  }
  if (EndsLine(character) && sync() != 0) return traits_type::eof();
  return c;
}

std::streamsize WatchedFileBuf::xsputn(const char* s, std::streamsize n) {
  const std::size_t put = std::fwrite(s, 1, static_cast<std::size_t>(n), file_);
  if (put != static_cast<std::size_t>(n)) NoteFailure(errno);
  if (std::any_of(s, s + put, EndsLine) && sync() != 0) return 0;
  return static_cast<std::streamsize>(put);
}

int WatchedFileBuf::sync() {
  if (std::fflush(file_) == 0) return 0;
  NoteFailure(errno);
  return -1;
}

void WatchedFileBuf::NoteFailure(int error) {
  int none = 0;
  first_error_.compare_exchange_strong(none, error != 0 ? error : EIO);
}

}  // namespace mrl
