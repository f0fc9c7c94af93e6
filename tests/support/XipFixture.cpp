#include "support/XipFixture.h"

#include <algorithm>

namespace ruvo_test {
namespace {

std::uint16_t nonZero(std::mt19937& rng) {
  return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(1, 0xFFFF)(rng));
}

int pick(std::mt19937& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

// A non-zero word that is neither the inp nor a bra instruction.
std::uint16_t plainWord(std::mt19937& rng) {
  for (;;) {
    const std::uint16_t w = nonZero(rng);
    if (w != 0x3A01 && (w >> 8) != 0x01) return w;
  }
}

std::uint16_t rotl(std::uint16_t x, int n) {
  n &= 15;
  return n == 0 ? x : static_cast<std::uint16_t>((x << n) | (x >> (16 - n)));
}

std::uint16_t bitReverse(std::uint16_t x) {
  std::uint16_t r = 0;
  for (int b = 0; b < 16; ++b) r |= static_cast<std::uint16_t>(((x >> b) & 1) << (15 - b));
  return r;
}

// Fills [from, to) with stretches of code: random words, repeats of earlier
// words and short zero runs, and long zero runs when gaps is set.
void fillCode(Words& space, int from, int to, std::mt19937& rng, bool gaps) {
  int k = from;
  while (k < to) {
    const int kind = pick(rng, 0, 9);
    if (kind < 5) {
      space[k++] = nonZero(rng);
    } else if (kind < 8 && k - from > 16) {
      const int back = pick(rng, 1, std::min(k - from, 3000));
      const int count = pick(rng, 1, 12);
      for (int i = 0; i < count && k < to; ++i, ++k) space[k] = space[k - back];
    } else if (kind == 8) {
      k += pick(rng, 1, 16);
    } else if (gaps) {
      k += pick(rng, 17, 80);
    }
  }
}

}  // namespace

std::uint16_t refCrc(std::uint16_t crc, std::uint16_t data, std::uint16_t poly, int nbits) {
  for (int i = nbits - 1; i >= 0; --i) {
    const bool top = (crc & 0x8000) != 0;
    crc = static_cast<std::uint16_t>((crc << 1) | ((data >> i) & 1));
    if (top) crc ^= poly;
  }
  return crc;
}

Words Bootmon::analysed() const {
  Words copy = space;
  std::fill(copy.begin() + tlBegin, copy.begin() + tlBegin + tlLen, 0);
  return copy;
}

Bootmon makeBootmon(std::mt19937& rng, BootmonOptions options) {
  Bootmon b;
  b.space.assign(kSpaceWords, 0);
  Words& s = b.space;
  const int n = options.notices != 0 ? options.notices : pick(rng, 1, 60);
  b.notices = n;
  s[0xC000] = 0x0100;
  s[0xC001] = 0x4012;
  s[0xC002] = nonZero(rng);
  s[0xC003] = static_cast<std::uint16_t>(0x0100 + n);
  for (int i = 0; i < n; ++i) s[0xC004 + i] = nonZero(rng);
  s[0xC004 + n] = 0x0100;
  s[0xC006 + n] = 1000;
  b.commonArea = pick(rng, 0xF000, 0xFF40);
  s[0xC007 + n] = static_cast<std::uint16_t>(b.commonArea);

  int k = 0xC008 + n;
  for (int end = k + pick(rng, 10, 120); k < end; ++k) s[k] = plainWord(rng);
  k += 3;  // the first run of three zero words
  b.tlBegin = k;
  b.tlLen = pick(rng, 201, 257);
  for (int i = 0; i < b.tlLen; ++i) s[k + i] = plainWord(rng);
  const int zeros = pick(rng, 1, b.tlLen - 4);  // two zero words stay inside the block
  s[k + zeros] = s[k + zeros + 1] = 0;
  auto instructionSlot = [&](int avoid) {
    for (;;) {
      const int i = pick(rng, 0, b.tlLen - 2);
      if (i != zeros && i != zeros + 1 && i != avoid) return i;
    }
  };
  // inp stands below bra: the decoder finds it among the words that the
  // encoding leaves unchanged.
  int inp = instructionSlot(-1);
  int bra = instructionSlot(inp);
  if (inp > bra) std::swap(inp, bra);
  s[k + inp] = 0x3A01;
  s[k + bra] = static_cast<std::uint16_t>(0x0100 + pick(rng, 0, 255));
  k += b.tlLen + pick(rng, 300, 700);  // the free area
  for (int end = k + pick(rng, 5, 60); k < end; ++k) s[k] = plainWord(rng);
  b.applicationArea = k + pick(rng, 0, 5);
  s[0xC005 + n] = static_cast<std::uint16_t>(b.applicationArea - (0xC006 + n));

  const int ca = b.commonArea;
  s[ca] = static_cast<std::uint16_t>(ca);
  s[ca + 1] = nonZero(rng);
  s[ca + 2] = nonZero(rng);
  b.announcement = ca + pick(rng, 4, 24);
  s[ca + 3] = static_cast<std::uint16_t>(b.announcement);
  const int commonWords = pick(rng, 0, 40);
  for (int i = 0; i < commonWords; ++i) s[ca + 28 + i] = nonZero(rng);
  return b;
}

Words makeApplication(const Bootmon& bootmon, std::mt19937& rng, double density) {
  Words app = bootmon.analysed();
  std::fill(app.begin() + bootmon.applicationArea, app.end(), 0);
  const int area = bootmon.commonArea - bootmon.applicationArea;
  const int used = static_cast<int>(area * density);
  const int from = bootmon.applicationArea + pick(rng, 0, std::max(0, area - used));
  fillCode(app, from, from + used, rng, density < 0.99);
  // Common area words of an application are never encoded; put some there.
  for (int i = 0; i < 8; ++i) app[bootmon.commonArea + 40 + i] = nonZero(rng);
  // One draw per statement: the order of draws must not depend on the compiler.
  const int shortDataEnd = kSpaceWords - pick(rng, 0, 1) * 5;
  const int shortDataBegin = kShortData + pick(rng, 0, 20);
  fillCode(app, shortDataBegin, shortDataEnd, rng, false);
  return app;
}

Words makeRaw(std::mt19937& rng, int words) {
  Words raw(words);
  for (auto& w : raw) w = static_cast<std::uint16_t>(rng());
  return raw;
}

std::vector<std::uint8_t> sealContainer(const Words& content) {
  Words w(4, 0);
  w.insert(w.end(), content.begin(), content.end());
  w.push_back(0);
  const std::size_t N = w.size();
  std::uint16_t crc = 0xFFFF;
  for (std::size_t q = 4; q + 1 < N; ++q) crc = refCrc(crc, w[q], 0x1021, 16);
  w[N - 1] = crc;
  std::uint16_t state = crc;
  for (std::size_t q = N - 1; q-- > 4;) {
    const std::uint16_t plain = w[q];
    w[q] = static_cast<std::uint16_t>(plain - bitReverse(rotl(state, 5)));
    state = refCrc(state, plain ^ static_cast<std::uint16_t>(N), 0x1021, 16);
  }
  std::vector<std::uint8_t> bytes(2 * N);
  for (std::size_t q = 0; q < N; ++q) {
    bytes[2 * q] = static_cast<std::uint8_t>(w[q]);
    bytes[2 * q + 1] = static_cast<std::uint8_t>(w[q] >> 8);
  }
  const char magic[4] = {'X', 'I', 'P', ' '};
  std::copy(magic, magic + 4, bytes.begin());
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<std::uint8_t>(N >> (8 * i));
  return bytes;
}

std::vector<std::uint8_t> makeContainer(const std::vector<Slot>& slots, int lastSlot) {
  Words content{static_cast<std::uint16_t>(lastSlot)};
  Words data;
  for (int k = 0; k <= std::min(lastSlot, 256); ++k) {
    const Slot empty;
    const Slot& slot = k < static_cast<int>(slots.size()) ? slots[k] : empty;
    switch (slot.kind) {
      case Slot::Kind::kEmpty:
        content.push_back(0);
        break;
      case Slot::Kind::kSpace:
        content.push_back(0xC000);
        data.insert(data.end(), slot.words.begin() + 0xC000, slot.words.end());
        break;
      case Slot::Kind::kRaw:
        content.push_back(static_cast<std::uint16_t>(slot.words.size()));
        data.insert(data.end(), slot.words.begin(), slot.words.end());
        break;
    }
  }
  content.insert(content.end(), data.begin(), data.end());
  return sealContainer(content);
}

Scenario makeScenario(std::uint32_t seed, int maxApps, int maxRaw) {
  std::mt19937 rng(seed);
  Scenario s;
  s.bootmon = makeBootmon(rng);
  s.slots.push_back({Slot::Kind::kSpace, s.bootmon.space});
  const int apps = pick(rng, 0, maxApps);
  const int raws = pick(rng, 0, maxRaw);
  std::vector<Slot::Kind> kinds(apps, Slot::Kind::kSpace);
  kinds.insert(kinds.end(), raws, Slot::Kind::kRaw);
  kinds.insert(kinds.end(), pick(rng, 0, 2), Slot::Kind::kEmpty);
  std::shuffle(kinds.begin(), kinds.end(), rng);
  for (const auto kind : kinds) {
    Slot slot{kind, {}};
    if (kind == Slot::Kind::kSpace) {
      slot.words = makeApplication(s.bootmon, rng, std::uniform_real_distribution<>(0.05, 1)(rng));
    } else if (kind == Slot::Kind::kRaw) {
      slot.words = makeRaw(rng, pick(rng, 1, 400));
    }
    s.slots.push_back(std::move(slot));
  }
  s.container = makeContainer(s.slots, pick(rng, 0, 1) ? 256 : static_cast<int>(s.slots.size()));
  return s;
}

std::vector<std::uint8_t> makeDenseContainer(std::uint32_t seed, int apps) {
  std::mt19937 rng(seed);
  const Bootmon bootmon = makeBootmon(rng);
  std::vector<Slot> slots = {{Slot::Kind::kSpace, bootmon.space}};
  for (int i = 0; i < apps; ++i) {
    slots.push_back({Slot::Kind::kSpace, makeApplication(bootmon, rng, 1.0)});
  }
  return makeContainer(slots);
}

}  // namespace ruvo_test
