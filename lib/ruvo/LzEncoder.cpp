#include <algorithm>

#include "ruvo/Crc.h"
#include "ruvo/LzMatch.h"
#include "ruvo/LzStream.h"
#include "ruvo/Space.h"
#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr int kBlockEndZeros = 17;  // this many zero words end a block

// A word of the working copy as the encoding sees it: the lower three
// quarters hold the search's tables and read as zero.
std::uint16_t encodedWord(const std::uint16_t* copy, int address) {
  return address < kUpperBegin ? 0 : copy[address];
}

// Whitens tokens, advances the CRC chain and packs the bits into the stream.
class TokenWriter {
 public:
  TokenWriter(const std::uint16_t* copy, std::uint8_t* out, std::array<std::uint16_t, 4> hwid)
      : copy_(copy), out_(out), hwid_(hwid), state_(static_cast<std::uint16_t>(Tl_crc)) {}

  void blockStart(int address) { token(true, static_cast<std::uint16_t>(address)); }
  void literal(std::uint16_t word) { token(true, word); }
  void match(std::uint16_t code) { token(false, code); }
  void blockEnd() { token(false, 0); }

  // Writes the end token, the padding and the check word; returns the byte count.
  int finish() {
    push(1, 1);
    push(static_cast<std::uint16_t>(0 - mask()), 16);
    const int r = bits_ % 8;
    if (r != 0) push(state_ >> (r + 8), 8 - r);
    flush();
    const std::uint16_t check = crc16(state_, 0, kStreamPoly, 16);
    if (bytes_ <= kStreamBytes - 2) {
      out_[bytes_++] = static_cast<std::uint8_t>(check >> 8);
      out_[bytes_++] = static_cast<std::uint8_t>(check);
    }
    if (bytes_ % 2 != 0) out_[bytes_++] = 0;
    return bytes_;
  }

 private:
  std::uint16_t mask() const { return rotl16(g.bitrev[state_], 5); }

  void token(bool flag, std::uint16_t value) {
    const auto stored = static_cast<std::uint16_t>(value - mask());
    push(flag ? 1 : 0, 1);
    if (flag) {
      push(stored, 16);
    } else {
      push(stored & 0x7FFFu, 15);
    }
    advance(flag, value);
    flush();
  }

  void advance(bool flag, std::uint16_t value) {
    if (flag && expecting_) {
      state_ = absorb<kStreamPoly>(state_, static_cast<std::uint16_t>(value + hwid_[2]));
      address_ = value;
      expecting_ = false;
    } else if (flag) {
      state_ = absorb<kStreamPoly>(state_, static_cast<std::uint16_t>(value + hwid_[3]));
      ++address_;
    } else if (value != 0) {
      const int length = (value & 7) + 1;
      for (int i = 0; i < length; ++i)
        state_ = absorb<kStreamPoly>(state_, encodedWord(copy_, address_ + i));
      address_ += length;
    } else {
      state_ = absorb<kStreamPoly>(state_, static_cast<std::uint16_t>(address_));
      expecting_ = true;
    }
  }

  void push(unsigned value, int count) {
    held_ = (held_ << count) | (value & ((1u << count) - 1u));
    bits_ += count;
  }

  void flush() {
    while (bits_ >= 8) {
      bits_ -= 8;
      if (bytes_ < kStreamBytes) out_[bytes_++] = static_cast<std::uint8_t>(held_ >> bits_);
    }
    held_ &= (1ull << bits_) - 1u;
  }

  const std::uint16_t* copy_;
  std::uint8_t* out_;
  std::array<std::uint16_t, 4> hwid_;
  std::uint16_t state_;
  int address_ = 0;
  bool expecting_ = true;
  std::uint64_t held_ = 0;
  int bits_ = 0;
  int bytes_ = 0;
};

// The first word of the first run of 17 zero words at or after c, else the
// word after the last non-zero word of the space.
int blockEnd(const std::uint16_t* copy, int c) {
  int afterLast = c;
  int zeros = 0;
  for (int k = c; k < kSpaceWords; ++k) {
    if (encodedWord(copy, k) != 0) {
      afterLast = k + 1;
      zeros = 0;
    } else if (++zeros == kBlockEndZeros) {
      return k - kBlockEndZeros + 1;
    }
  }
  return afterLast;
}

// Emits the blocks of the working copy from the application area up.
void emitBlocks(const std::uint16_t* copy, MatchSearch& search, TokenWriter& out) {
  int c = Ruvo_ApplicationArea;
  while (c <= 0xFFFF) {
    const int e = blockEnd(copy, c);
    if (e > c) {
      out.blockStart(c);
      while (c < e) {
        const std::uint16_t code = c < kUpperBegin ? 0 : search.codeAt(c);
        if (code != 0) {
          out.match(code);
          c += (code & 7) + 1;
        } else {
          out.literal(encodedWord(copy, c));
          ++c;
        }
      }
      out.blockEnd();
    }
    while (c <= 0xFFFF && encodedWord(copy, c) == 0) ++c;
  }
}

}  // namespace

int LZencoder(const std::uint16_t* space, std::uint8_t* out, int* length,
              std::array<std::uint16_t, 4> hwid) {
  // The words below 0xC000 are never encoded: the copy leaves them zero.
  Space copy = cloneSpc(space, kUpperBegin, kSpaceWords);
  if (!copy) return -1;
  if (Ruvo_CommonArea < Ruvo_ShortData) {
    std::fill(copy.get() + Ruvo_CommonArea, copy.get() + Ruvo_ShortData, 0);
  }
  // The match search keeps its tables in the lower three quarters, which the
  // encoding reads as zero, and works out the codes of the positions that
  // the blocks reach, as they are reached.
  MatchSearch search(copy.get(), Ruvo_CommonArea, Ruvo_ShortData, copy.get());

  LFSR0tapcfg = kStreamPoly;
  TokenWriter writer(copy.get(), out, hwid);
  emitBlocks(copy.get(), search, writer);
  *length = writer.finish() / 2;
  return 0;
}

}  // namespace Ruvo::detail
