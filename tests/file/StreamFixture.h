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

// A stream that holds a readable table but has already reported its end.
inline std::istringstream EndedStream() {
  std::istringstream is("22 serialization::archive 0 x x x x 0 x x 0 x x x x x 0 x x x x ");
  is.setstate(std::ios::eofbit);
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
