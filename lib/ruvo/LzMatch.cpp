#include "ruvo/LzMatch.h"

#include <algorithm>

#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr int kBuckets = 0x2000;

// Chains of earlier positions keyed by their first word and their run class:
// how many equal words start there, at most 8. Position 0 ends a chain (no
// source lies there). Between two positions with the same first word v:
// with different classes the match is as long as the smaller class; with
// the same class c < 8 it is c plus the agreement of the words behind the
// runs. So the longest match comes from the own class, a match as long as
// the own class also from every higher class, shorter ones from lower
// classes; the search walks only those chains, and each position is tried
// with exactly the length and the acceptance rule of the plain scan.
class MatchSearch {
 public:
  MatchSearch(const std::uint16_t* copy, int commonArea, int shortData, std::uint16_t* scratch)
      : copy_(copy),
        commonArea_(commonArea),
        shortData_(shortData),
        head_(scratch),
        prev_(scratch + kBuckets),
        run_(reinterpret_cast<std::uint8_t*>(scratch + kBuckets + kUpperWords)) {
    std::fill(head_, head_ + kBuckets, 0);
    run_[kUpperWords - 1] = 1;
    for (int p = kSpaceWords - 2; p >= kUpperBegin; --p) {
      const int next = run_[p + 1 - kUpperBegin];
      run_[p - kUpperBegin] =
          static_cast<std::uint8_t>(copy_[p] == copy_[p + 1] ? std::min(next + 1, kMaxMatch) : 1);
    }
  }

  // Makes the positions below p available as sources.
  void insertBelow(int p) {
    for (; inserted_ < p; ++inserted_) {
      // A source that starts in the common area is never taken.
      if (inserted_ >= commonArea_ && inserted_ < shortData_) continue;
      const unsigned b = bucket(copy_[inserted_], runClass(inserted_));
      prev_[inserted_ - kUpperBegin] = head_[b];
      head_[b] = static_cast<std::uint16_t>(inserted_);
    }
  }

  std::uint16_t code(int p) const {
    const std::uint16_t v = copy_[p];
    const int own = runClass(p);
    if (own == kMaxMatch) {
      for (int c = kMaxMatch; c >= 1; --c) {
        if (const int j = nearest(p, v, c, c)) return encode(p, j, c);
      }
      return 0;
    }
    // Own class: at least `own` words, perhaps more.
    int best = 0;
    int bestSource = 0;
    for (int j = head_[bucket(v, own)]; j != 0 && p - j <= kMaxDistance;
         j = prev_[j - kUpperBegin]) {
      if (copy_[j] != v || runClass(j) != own || copy_[j + best] != copy_[p + best]) continue;
      int length = own;
      while (length < kMaxMatch && copy_[j + length] == copy_[p + length]) ++length;
      if (length > best && valid(j, length)) {
        best = length;
        bestSource = j;
        if (length == kMaxMatch) break;
      }
    }
    if (best > own) return encode(p, bestSource, best);
    // Exactly `own` words: the nearest of the own class and the higher ones.
    int source = bestSource;
    for (int c = own + 1; c <= kMaxMatch; ++c) source = std::max(source, nearest(p, v, c, own));
    if (source != 0) return encode(p, source, own);
    for (int c = own - 1; c >= 1; --c) {
      if (const int j = nearest(p, v, c, c)) return encode(p, j, c);
    }
    return 0;
  }

 private:
  static unsigned bucket(std::uint16_t word, int runClass) {
    return (((word + 0x3F4Bu * static_cast<unsigned>(runClass)) * 0x9E37u) & 0xFFFFu) >> 3;
  }

  int runClass(int p) const { return run_[p - kUpperBegin]; }

  bool valid(int source, int length) const {
    return source + length - 1 < commonArea_ || source >= shortData_;
  }

  static std::uint16_t encode(int p, int source, int length) {
    return static_cast<std::uint16_t>(((p - source) << 3) | (length - 1));
  }

  // The nearest source of class c for position p whose first `length` words
  // may be taken; 0 when there is none within reach.
  int nearest(int p, std::uint16_t v, int c, int length) const {
    for (int j = head_[bucket(v, c)]; j != 0 && p - j <= kMaxDistance; j = prev_[j - kUpperBegin]) {
      if (copy_[j] == v && runClass(j) == c && valid(j, length)) return j;
    }
    return 0;
  }

  const std::uint16_t* copy_;
  int commonArea_;
  int shortData_;
  std::uint16_t* head_;  // kBuckets
  std::uint16_t* prev_;  // one per position 0xC000 to 0xFFFF
  std::uint8_t* run_;    // one per position 0xC000 to 0xFFFF
  int inserted_ = kFirstSource;
};

}  // namespace

void matchCodes(const std::uint16_t* copy, int commonArea, int shortData, std::uint16_t* codes,
                std::uint16_t* scratch) {
  MatchSearch search(copy, commonArea, shortData, scratch);
  std::fill(codes, codes + kUpperWords, 0);
  for (int p = kUpperBegin; p <= kLastMatchStart; ++p) {
    search.insertBelow(p);
    codes[p - kUpperBegin] = search.code(p);
  }
}

}  // namespace Ruvo::detail
