#include "ruvo/LzMatch.h"

#include <algorithm>

#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr int kBuckets = 0x2000;
constexpr int kWindow = 0x1000;  // a power of two above kMaxDistance

// Chains of earlier positions under a hashed key, newest first. Position 0
// ends a chain (no source lies there). Only positions within kMaxDistance of
// the searching position are ever followed, so each position keeps its link
// in a ring of kWindow slots, which a position kWindow further on reuses.
class Chains {
 public:
  Chains(std::uint16_t* head, std::uint16_t* link) : head_(head), link_(link) {
    std::fill(head_, head_ + kBuckets, 0);
  }
  void insert(int position, unsigned bucket) {
    link_[position & (kWindow - 1)] = head_[bucket];
    head_[bucket] = static_cast<std::uint16_t>(position);
  }
  int first(unsigned bucket) const { return head_[bucket]; }
  int next(int position) const { return link_[position & (kWindow - 1)]; }

 private:
  std::uint16_t* head_;  // kBuckets
  std::uint16_t* link_;  // kWindow
};

// Positions are grouped by their first word v and their run class: how many
// equal words start there, at most 8. Between two positions with the same v:
// with different classes the match is as long as the smaller class; with the
// same class c < 8 it is c when the words behind the runs differ, and more
// only when they agree. So a match longer than the own class comes from the
// own class with the same word behind the run (the follow chains), a match
// as long as the own class from the own class with another word behind the
// run or from a higher class, shorter ones from lower classes (the class
// chains); the search walks only those chains, and each position is tried
// with exactly the length and the acceptance rule of the plain scan.
class MatchSearch {
 public:
  MatchSearch(const std::uint16_t* copy, int commonArea, int shortData, std::uint16_t* scratch)
      : copy_(copy),
        commonArea_(commonArea),
        shortData_(shortData),
        classes_(scratch, scratch + kBuckets),
        follows_(scratch + kBuckets + kWindow, scratch + 2 * kBuckets + kWindow),
        run_(reinterpret_cast<std::uint8_t*>(scratch + 2 * (kBuckets + kWindow))) {
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
      const std::uint16_t v = copy_[inserted_];
      const int c = runClass(inserted_);
      classes_.insert(inserted_, bucket(v, c));
      if (c < kMaxMatch) follows_.insert(inserted_, bucket(v, c, behindRun(inserted_, c)));
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
    // Longer than the own class: the longest, the nearest of equal ones.
    const std::uint16_t behind = behindRun(p, own);
    int best = 0;
    int bestSource = 0;
    for (int j = follows_.first(bucket(v, own, behind)); j != 0 && p - j <= kMaxDistance;
         j = follows_.next(j)) {
      if (copy_[j] != v || runClass(j) != own || behindRun(j, own) != behind ||
          copy_[j + best] != copy_[p + best]) {
        continue;
      }
      int length = own + 1;
      while (length < kMaxMatch && copy_[j + length] == copy_[p + length]) ++length;
      if (length > best && valid(j, length)) {
        best = length;
        bestSource = j;
        if (length == kMaxMatch) break;
      }
    }
    if (best != 0) return encode(p, bestSource, best);
    // Exactly `own` words: the nearest of the own class with another word
    // behind its run, and of the higher ones.
    int source = nearest(p, v, own, own, behind);
    for (int c = own + 1; c <= kMaxMatch; ++c) source = std::max(source, nearest(p, v, c, own));
    if (source != 0) return encode(p, source, own);
    for (int c = own - 1; c >= 1; --c) {
      if (const int j = nearest(p, v, c, c)) return encode(p, j, c);
    }
    return 0;
  }

 private:
  static unsigned bucket(std::uint16_t word, int runClass, unsigned behind = 0) {
    return (((word + 0x3F4Bu * static_cast<unsigned>(runClass)) * 0x9E37u + behind * 0x6A09u) &
            0xFFFFu) >>
           3;
  }

  int runClass(int p) const { return run_[p - kUpperBegin]; }

  // The word behind a run of c < 8 equal words at p.
  std::uint16_t behindRun(int p, int c) const { return copy_[p + c]; }

  bool valid(int source, int length) const {
    return source + length - 1 < commonArea_ || source >= shortData_;
  }

  static std::uint16_t encode(int p, int source, int length) {
    return static_cast<std::uint16_t>(((p - source) << 3) | (length - 1));
  }

  // The nearest source of class c for position p whose first `length` words
  // may be taken, skipping those with the word `notBehind` behind their run;
  // 0 when there is none within reach.
  int nearest(int p, std::uint16_t v, int c, int length, int notBehind = -1) const {
    for (int j = classes_.first(bucket(v, c)); j != 0 && p - j <= kMaxDistance;
         j = classes_.next(j)) {
      if (copy_[j] == v && runClass(j) == c && valid(j, length) &&
          (notBehind < 0 || behindRun(j, c) != notBehind)) {
        return j;
      }
    }
    return 0;
  }

  const std::uint16_t* copy_;
  int commonArea_;
  int shortData_;
  Chains classes_;     // by first word and run class
  Chains follows_;     // classes below 8, also by the word behind the run
  std::uint8_t* run_;  // one per position 0xC000 to 0xFFFF
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
