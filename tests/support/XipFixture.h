#pragma once
// Builds valid XIP containers from a seed: a boot monitor space that passes
// every header check and holds a Tl block with the inp and bra instructions,
// application spaces that agree with the boot monitor below the application
// area, and raw slots. The container writer here is independent of the one
// under test.

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace ruvo_test {

using Words = std::vector<std::uint16_t>;
constexpr int kSpaceWords = 0x10000;
constexpr int kShortData = 0xFF80;

struct Bootmon {
  Words space;      // as stored in the container
  int notices = 0;  // n
  int applicationArea = 0;
  int commonArea = 0;
  int announcement = 0;    // F
  int tlBegin = 0;         // where the Tl block stands in the space
  int tlLen = 0;           // 201 to 257 words
  Words analysed() const;  // the space with the Tl block cleared
  // Where the conversion moves the Tl block: 16 words behind its last word,
  // in the free area that follows it.
  int tlTarget() const { return tlBegin + tlLen - 1 + 16; }
};

struct Slot {
  enum class Kind { kEmpty, kSpace, kRaw };
  Kind kind = Kind::kEmpty;
  Words words;  // a whole space, or the raw data
};

struct BootmonOptions {
  int notices = 0;  // 0: a random count
};

// A boot monitor space; notices gives the notice count (0: random).
Bootmon makeBootmon(std::mt19937& rng, BootmonOptions options = {});

// An application space for the boot monitor. density (0 to 1) is the share
// of the application area that holds non-zero stretches.
Words makeApplication(const Bootmon& bootmon, std::mt19937& rng, double density);

Words makeRaw(std::mt19937& rng, int words);

// A container of the slots (slot k = slots[k]) with lastSlot in its slot count
// word; slots beyond slots.size() are empty.
std::vector<std::uint8_t> makeContainer(const std::vector<Slot>& slots, int lastSlot = 256);

// Seals plain content words (slot count, slot words, data) into a container.
std::vector<std::uint8_t> sealContainer(const Words& content);

// A random mix: boot monitor, then up to maxApps applications, raw and empty
// slots.
struct Scenario {
  Bootmon bootmon;
  std::vector<Slot> slots;
  std::vector<std::uint8_t> container;
};
Scenario makeScenario(std::uint32_t seed, int maxApps = 3, int maxRaw = 3);

// A boot monitor and `apps` applications whose areas are filled entirely.
std::vector<std::uint8_t> makeDenseContainer(std::uint32_t seed, int apps);

// The reference CRC step and the container's whitening, written plainly.
std::uint16_t refCrc(std::uint16_t crc, std::uint16_t data, std::uint16_t poly, int nbits);

}  // namespace ruvo_test
