#include "file/ByteViewStream.h"

namespace qmx::File {

ByteViewBuffer::ByteViewBuffer(const Bytes& bytes) {
  // The get area is only read: putting back a character that differs from the
  // one read fails instead of writing it (the default pbackfail).
  char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
  setg(begin, begin, begin + bytes.size());
}

ByteViewBuffer::pos_type ByteViewBuffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                 std::ios_base::openmode which) {
  const pos_type failed(off_type(-1));
  if ((which & std::ios_base::in) == 0) return failed;
  const off_type size = egptr() - eback();
  off_type base = 0;
  if (direction == std::ios_base::cur) base = gptr() - eback();
  if (direction == std::ios_base::end) base = size;
  if (offset < -base || offset > size - base) return failed;
  const off_type target = base + offset;
  setg(eback(), eback() + target, egptr());
  return pos_type(target);
}

ByteViewBuffer::pos_type ByteViewBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

}  // namespace qmx::File
