#pragma once
// An input stream over bytes held in memory, read in place: a reader can seek
// and tell positions in them as in a file, and nothing is copied.

#include <istream>
#include <streambuf>

#include "file/CommonFirmwareFile.h"

namespace qmx::File {

// A read-only, seekable stream buffer over bytes it borrows; they must
// outlive it and stay unchanged.
class ByteViewBuffer final : public std::streambuf {
 public:
  explicit ByteViewBuffer(const Bytes& bytes);

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
};

// A stream reading borrowed bytes through a ByteViewBuffer.
class ByteViewStream final : public std::istream {
 public:
  explicit ByteViewStream(const Bytes& bytes) : std::istream(nullptr), buffer_(bytes) {
    rdbuf(&buffer_);
  }

 private:
  ByteViewBuffer buffer_;
};

}  // namespace qmx::File
