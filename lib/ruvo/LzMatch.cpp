#include "ruvo/LzMatch.h"

#include <algorithm>

#include "ruvo/Tables.h"

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

namespace Ruvo::detail {
namespace {

constexpr int kClassBuckets = 0x2000;
constexpr int kFollowBuckets = 0x1000;
constexpr int kRunWordsBitmapWords = 0x1000;  // one bit per word value

int log2(int powerOfTwo) {
  int bits = 0;
  while ((1 << bits) < powerOfTwo) ++bits;
  return bits;
}

std::uint16_t encode(int p, int source, int length) {
  return static_cast<std::uint16_t>(((p - source) << 3) | (length - 1));
}

}  // namespace

MatchChains::MatchChains(std::uint16_t* head, int buckets, std::uint16_t* link)
    : head_(head), shift_(16 - log2(buckets)), link_(link) {
  std::fill(head_, head_ + buckets, 0);
}

void MatchChains::insert(int position, unsigned hash) {
  std::uint16_t& head = head_[hash >> shift_];
  link_[position & (kMatchWindow - 1)] = head;
  head = static_cast<std::uint16_t>(position);
}

MatchSearch::MatchSearch(const std::uint16_t* copy, int commonArea, int shortData,
                         std::uint16_t* scratch)
    : copy_(copy),
      commonArea_(commonArea),
      shortData_(shortData),
      classes_(scratch, kClassBuckets, scratch + kClassBuckets),
      follows_(scratch + kClassBuckets + kMatchWindow, kFollowBuckets,
               scratch + kClassBuckets + kFollowBuckets + kMatchWindow),
      inRuns_(scratch + kClassBuckets + kFollowBuckets + 2 * kMatchWindow),
      run_(reinterpret_cast<std::uint8_t*>(inRuns_ + kRunWordsBitmapWords)) {
  std::fill(inRuns_, inRuns_ + kRunWordsBitmapWords, 0);
  run_[kUpperWords - 1] = 1;
  for (int p = kSpaceWords - 2; p >= kUpperBegin; --p) {
    const int next = run_[p + 1 - kUpperBegin];
    run_[p - kUpperBegin] =
        static_cast<std::uint8_t>(copy_[p] == copy_[p + 1] ? std::min(next + 1, kMaxMatch) : 1);
  }
}

std::uint16_t MatchSearch::codeAt(int p) {
  if (p > kLastMatchStart) return 0;
  insertBelow(p);
  return code(p);
}

// Makes the positions below p available as sources.
void MatchSearch::insertBelow(int p) {
  for (; inserted_ < p; ++inserted_) {
    // A source that starts in the common area is never taken.
    if (inserted_ >= commonArea_ && inserted_ < shortData_) continue;
    const std::uint16_t v = copy_[inserted_];
    const int c = runClass(inserted_);
    classes_.insert(inserted_, hash(v, c));
    if (c < kMaxMatch) follows_.insert(inserted_, hash(v, c, behindRun(inserted_, c)));
    if (c > 1) inRuns_[v >> 4] |= static_cast<std::uint16_t>(1u << (v & 15u));
  }
}

std::uint16_t MatchSearch::code(int p) const {
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
  for (int j = follows_.first(hash(v, own, behind)); j != 0 && p - j <= kMaxDistance;
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
  // behind its run, and of the higher ones, if v ever stood in a run.
  int source = nearest(p, v, own, own, behind);
  if (inRun(v)) {
    for (int c = own + 1; c <= kMaxMatch; ++c) source = std::max(source, nearest(p, v, c, own));
  }
  if (source != 0) return encode(p, source, own);
  for (int c = own - 1; c >= 1; --c) {
    if (const int j = nearest(p, v, c, c)) return encode(p, j, c);
  }
  return 0;
}

unsigned MatchSearch::hash(std::uint16_t word, int runClass, unsigned behind) {
  return ((word + 0x3F4Bu * static_cast<unsigned>(runClass)) * 0x9E37u + behind * 0x6A09u) &
         0xFFFFu;
}

int MatchSearch::runClass(int p) const {
  return run_[p - kUpperBegin];
}

// The word behind a run of c < 8 equal words at p.
std::uint16_t MatchSearch::behindRun(int p, int c) const {
  return copy_[p + c];
}

// Whether an earlier position held v in a run of two or more words: if not,
// no position of a class above 1 holds v.
bool MatchSearch::inRun(std::uint16_t v) const {
  return ((inRuns_[v >> 4] >> (v & 15u)) & 1u) != 0;
}

bool MatchSearch::valid(int source, int length) const {
  return source + length - 1 < commonArea_ || source >= shortData_;
}

// The nearest source of class c for position p whose first `length` words
// may be taken, skipping those with the word `notBehind` behind their run;
// 0 when there is none within reach.
int MatchSearch::nearest(int p, std::uint16_t v, int c, int length, int notBehind) const {
  for (int j = classes_.first(hash(v, c)); j != 0 && p - j <= kMaxDistance; j = classes_.next(j)) {
    if (copy_[j] == v && runClass(j) == c && valid(j, length) &&
        (notBehind < 0 || behindRun(j, c) != notBehind)) {
      return j;
    }
  }
  return 0;
}

}  // namespace Ruvo::detail
