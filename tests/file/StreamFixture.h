#pragma once
// Streams over test bytes, and the streams a reader must refuse.

#include <cstdint>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace fixture {

inline std::istringstream BytesStream(const std::vector<std::uint8_t>& bytes) {
  return std::istringstream(std::string(bytes.begin(), bytes.end()), std::ios::binary);
}

// A stream whose open failed.
inline std::istringstream FailedStream() {
  std::istringstream is("22 serialization::archive 0 ");
  is.setstate(std::ios::failbit);
  return is;
}

// A readable buffer that cannot seek, as a pipe.
class UnseekableBuffer : public std::stringbuf {
 public:
  explicit UnseekableBuffer(const std::string& text) : std::stringbuf(text, std::ios::in) {}

 protected:
  pos_type seekoff(off_type, std::ios::seekdir, std::ios::openmode) override { return -1; }
  pos_type seekpos(pos_type, std::ios::openmode) override { return -1; }
};

}  // namespace fixture
