#include "ruvo/LzMatch.h"

#include <algorithm>

#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr int kBuckets = 0x4000;

unsigned bucket(std::uint16_t word) {
  return ((word * 0x9E37u) & 0xFFFFu) >> 2;
}

int matchLength(const std::uint16_t* copy, int p, int j) {
  int length = 0;
  while (length < kMaxMatch && copy[p + length] == copy[j + length]) ++length;
  return length;
}

}  // namespace

void matchCodes(const std::uint16_t* copy, int commonArea, int shortData, std::uint16_t* codes,
                std::uint16_t* scratch) {
  // head[bucket]: the latest position with a word of that bucket; prev[j]: the
  // position before j in j's bucket; 0 ends a chain (no source lies at 0).
  std::uint16_t* head = scratch;
  std::uint16_t* prev = scratch + kBuckets;
  std::fill(head, head + kBuckets, 0);
  std::fill(codes, codes + kUpperWords, 0);
  int inserted = kFirstSource;
  for (int p = kUpperBegin; p <= kLastMatchStart; ++p) {
    for (; inserted < p; ++inserted) {
      // A source that starts in the common area is never taken.
      if (inserted >= commonArea && inserted < shortData) continue;
      const unsigned b = bucket(copy[inserted]);
      prev[inserted - kUpperBegin] = head[b];
      head[b] = static_cast<std::uint16_t>(inserted);
    }
    int best = 0;
    std::uint16_t code = 0;
    for (int j = head[bucket(copy[p])]; j != 0 && p - j <= kMaxDistance;
         j = prev[j - kUpperBegin]) {
      if (copy[j] != copy[p] || copy[j + best] != copy[p + best]) continue;
      const int length = matchLength(copy, p, j);
      if (length > best && (j + length - 1 < commonArea || j >= shortData)) {
        best = length;
        code = static_cast<std::uint16_t>(((p - j) << 3) | (length - 1));
        if (length == kMaxMatch) break;
      }
    }
    codes[p - kUpperBegin] = code;
  }
}

}  // namespace Ruvo::detail
