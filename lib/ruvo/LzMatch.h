#pragma once
// The match search of the LZ stream encoder.

#include <cstdint>

namespace Ruvo::detail {

constexpr int kMaxDistance = 4095;
constexpr int kMaxMatch = 8;
constexpr int kFirstSource = 0xC003;     // lowest word a back reference may copy from
constexpr int kLastMatchStart = 0xFFF7;  // positions above have no match code
constexpr int kMatchScratchWords = 0x8000;

// Chains of earlier positions under a 16-bit hash of their key, newest
// first, in a power of two of buckets. Position 0 ends a chain (no source
// lies there). Only positions within kMaxDistance of the searching position
// are ever followed, so each position keeps its link in a ring of
// kMatchWindow slots, which a position kMatchWindow further on reuses.
constexpr int kMatchWindow = 0x1000;  // a power of two above kMaxDistance
class MatchChains {
 public:
  MatchChains(std::uint16_t* head, int buckets, std::uint16_t* link);
  void insert(int position, unsigned hash);
  int first(unsigned hash) const { return head_[hash >> shift_]; }
  int next(int position) const { return link_[position & (kMatchWindow - 1)]; }

 private:
  std::uint16_t* head_;
  int shift_;
  std::uint16_t* link_;  // kMatchWindow
};

// The match codes of the positions of the working copy: 0, or
// (distance << 3) | (length - 1) of the longest, then nearest, run of up to
// 8 equal words at most 4,095 words back and not below 0xC003, whose source
// lies entirely below commonArea or starts at or above shortData. Gives
// exactly the codes of a plain backward scan over every distance while trying
// far fewer candidates, and works out only the codes asked for. The search
// keeps its tables in scratch, kMatchScratchWords words.
class MatchSearch {
 public:
  MatchSearch(const std::uint16_t* copy, int commonArea, int shortData, std::uint16_t* scratch);

  // The code of position p, from 0xC000 to 0xFFFF (0 above 0xFFF7). The
  // positions are asked in ascending order.
  std::uint16_t codeAt(int p);

 private:
  void insertBelow(int p);
  std::uint16_t code(int p) const;
  static unsigned hash(std::uint16_t word, int runClass, unsigned behind = 0);
  bool inRun(std::uint16_t v) const;
  int runClass(int p) const;
  std::uint16_t behindRun(int p, int c) const;
  bool valid(int source, int length) const;
  int nearest(int p, std::uint16_t v, int c, int length, int notBehind = -1) const;

  const std::uint16_t* copy_;
  int commonArea_;
  int shortData_;
  MatchChains classes_;    // by first word and run class
  MatchChains follows_;    // classes below 8, also by the word behind the run
  std::uint16_t* inRuns_;  // a bit per word value: held in a run of two or more
  std::uint8_t* run_;      // one per position 0xC000 to 0xFFFF
  int inserted_ = kFirstSource;
};

}  // namespace Ruvo::detail
