#include <algorithm>
#include <iostream>

#include "ruvo/Crc.h"
#include "ruvo/LzStream.h"
#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

// Reads the stream's bits, most significant first, never past its end.
class BitReader {
 public:
  BitReader(const std::uint8_t* bytes, int count) : bytes_(bytes), count_(count) {}

  // Fills the reader up to at least 17 bits while bytes remain; false when
  // fewer than `needed` bits could be had.
  bool fill(int needed) {
    while (bits_ < 17 && next_ < count_) {
      held_ = (held_ << 8) | bytes_[next_++];
      bits_ += 8;
    }
    return bits_ >= needed;
  }
  bool peekFlag() const { return ((held_ >> (bits_ - 1)) & 1u) != 0; }
  unsigned take(int count) {
    bits_ -= count;
    const auto value = static_cast<unsigned>((held_ >> bits_) & ((1ull << count) - 1u));
    held_ &= (1ull << bits_) - 1u;
    return value;
  }
  // Drops the padding; returns the next two bytes, high byte first.
  bool checkWord(std::uint16_t& word) {
    bits_ = 0;
    held_ = 0;
    if (next_ + 2 > count_) return false;
    word = static_cast<std::uint16_t>((bytes_[next_] << 8) | bytes_[next_ + 1]);
    next_ += 2;
    return true;
  }

 private:
  const std::uint8_t* bytes_;
  int count_;
  int next_ = 0;
  std::uint64_t held_ = 0;
  int bits_ = 0;
};

}  // namespace

int LZdecoder(std::uint16_t* target, const std::uint8_t* stream, int length,
              std::array<std::uint16_t, 4> hwid) {
  LFSR0tapcfg = kStreamPoly;
  std::uint16_t S = static_cast<std::uint16_t>(Tl_crc);
  int a = Ruvo_ApplicationArea;
  bool expecting = true;
  if (Ruvo_ApplicationArea < Ruvo_CommonArea) {
    std::fill(target + Ruvo_ApplicationArea, target + Ruvo_CommonArea, 0);
  }
  if (Ruvo_ShortData <= 0xFFFF) std::fill(target + Ruvo_ShortData, target + kSpaceWords, 0);

  BitReader in(stream, std::clamp(length, 0, kStreamBytes / 2) * 2);
  for (;;) {
    if (!in.fill(16)) return kStreamOutside;
    const auto mask = rotl16(g.bitrev[S], 5);
    if (in.peekFlag()) {
      if (!in.fill(17)) return kStreamOutside;
      const auto v = static_cast<std::uint16_t>((in.take(17) & 0xFFFFu) + mask);
      if (expecting) {
        if (v == 0) break;
        S = absorb<kStreamPoly>(S, static_cast<std::uint16_t>(v + hwid[2]));
        a = v;
        expecting = false;
      } else {
        if (a >= kSpaceWords) return kStreamOutside;
        if (v != 0) target[a] = v;
        S = absorb<kStreamPoly>(S, static_cast<std::uint16_t>(v + hwid[3]));
        ++a;
      }
    } else {
      const unsigned v = ((in.take(16) & 0x7FFFu) + mask) & 0x7FFFu;
      const int d = static_cast<int>(v >> 3);
      if (d != 0) {
        const int count = static_cast<int>(v & 7u) + 1;
        if (a - d < 0 || a + count > kSpaceWords) return kStreamOutside;
        for (int i = 0; i < count; ++i) {
          const std::uint16_t h = target[a - d + i];
          if (h != 0) target[a + i] = h;
          S = absorb<kStreamPoly>(S, h);
        }
        a += count;
      } else {
        S = absorb<kStreamPoly>(S, static_cast<std::uint16_t>(a));
        expecting = true;
      }
    }
  }
  std::uint16_t check = 0;
  if (!in.checkWord(check)) return kStreamOutside;
  S = absorb<kStreamPoly>(S, check);
  if (S != 0) {
    std::cout << "checksum error\n";
    return 166;
  }
  return 0;
}

}  // namespace Ruvo::detail
