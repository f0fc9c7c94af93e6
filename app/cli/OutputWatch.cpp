#include "OutputWatch.h"

#include <cerrno>

namespace mrl {

int WatchedFileBuf::Finish() {
  sync();
  // A failure inside the C library that no call here saw.
  if (std::ferror(file_)) NoteFailure(EIO);
  return first_error_.load();
}

WatchedFileBuf::int_type WatchedFileBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (std::fputc(traits_type::to_char_type(c), file_) == EOF) {
    NoteFailure(errno);
    return traits_type::eof();
  }
  return c;
}

std::streamsize WatchedFileBuf::xsputn(const char* s, std::streamsize n) {
  const std::size_t put = std::fwrite(s, 1, static_cast<std::size_t>(n), file_);
  if (put != static_cast<std::size_t>(n)) NoteFailure(errno);
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
