#include "ruvo/XipContainer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>

#include "ruvo/ByteOrder.h"
#include "ruvo/Crc.h"
#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr std::uint8_t kMagic[4] = {'X', 'I', 'P', ' '};
constexpr std::uint32_t kFirstContentWord = 4;

// The bit reversal of the rotated state, worked out rather than looked up in
// g.bitrev (the same values), so that sealing a container needs no tables and
// the chain of states does not wait for a load.
std::uint16_t whiteningMask(std::uint16_t state) {
  return reverseBits16(rotl16(state, 5));
}

// CRC of the plain words 4 to N - 2.
std::uint16_t contentCrc(const std::uint8_t* bytes, std::uint32_t N) {
  std::uint16_t crc = 0xFFFF;
  std::uint32_t q = kFirstContentWord;
  for (; q + 3 <= N; q += 2) {
    crc = absorbPair<kXipPoly>(crc, loadLe16(bytes, q), loadLe16(bytes, q + 1));
  }
  if (q + 2 <= N) crc = absorb<kXipPoly>(crc, loadLe16(bytes, q));
  return crc;
}

// Walks words N - 2 down to 4, the state seeded with the CRC word and advanced
// with each plain word XOR the low half of N. whiten chooses the direction.
void whitening(std::uint8_t* bytes, std::uint32_t N, bool whiten) {
  const std::uint16_t low = static_cast<std::uint16_t>(N);
  std::uint16_t state = loadLe16(bytes, N - 1);
  for (std::uint32_t q = N - 2; q >= kFirstContentWord; --q) {
    const std::uint16_t stored = loadLe16(bytes, q);
    const std::uint16_t mask = whiteningMask(state);
    std::uint16_t plain = stored;
    if (whiten) {
      storeLe16(bytes, q, static_cast<std::uint16_t>(plain - mask));
    } else {
      plain = static_cast<std::uint16_t>(stored + mask);
      storeLe16(bytes, q, plain);
    }
    state = absorb<kXipPoly>(state, plain ^ low);
  }
}

// Loads the data of slot k at the cursor; returns 0 or a reader code.
int loadSlot(FileEntry& entry, const std::uint8_t* bytes, std::uint32_t N, std::uint32_t& cursor) {
  const std::uint32_t end = N - 1;  // the CRC word
  if (entry.len < 0) {
    if (entry.len != -0x4000) return 205;
    if (cursor + kUpperWords > end) return kXipSlotsOutside;
    entry.name = Not_Available_String;
    entry.spc = allocZeroed<std::uint16_t>(kSpaceWords);
    if (!entry.spc) {
      std::cout << "newSpc out of memory\n";
      return -1;
    }
    entry.len = 0;
    populatePages(entry.spc.get(), 2 * kUpperBegin, 2 * kSpaceWords);
    loadLe16s(entry.spc.get() + kUpperBegin, bytes, cursor, kUpperWords);
    cursor += kUpperWords;
  } else if (entry.len > 0) {
    const auto words = static_cast<std::uint32_t>(entry.len);
    if (cursor + words > end) return kXipSlotsOutside;
    entry.name = Not_Available_String;
    entry.bin = allocZeroed<std::uint16_t>(kSpaceWords);
    if (!entry.bin) {
      std::cout << "newSpc out of memory\n";
      return -1;
    }
    populatePages(entry.bin.get(), 0, 2 * std::size_t{words});
    loadLe16s(entry.bin.get(), bytes, cursor, words);
    cursor += words;
  }
  return 0;
}

}  // namespace

int getXIP(std::uint8_t* data, int length) {
  if (length < 10) return 201;
  if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return 202;
  const std::uint32_t N = loadLe32(data + 4);
  if (2 * static_cast<std::uint64_t>(N) != static_cast<std::uint64_t>(length)) return 203;
  LFSR0tapcfg = kXipPoly;
  if (N - 2 > 3) whitening(data, N, false);
  if (contentCrc(data, N) != loadLe16(data, N - 1)) return 204;

  // The slot count and slot 0's word must stand before the CRC word.
  if (N < 7) return kXipSlotsOutside;
  const std::uint32_t lastSlot = std::min<std::uint32_t>(loadLe16(data, 4), kLastSlot);
  if (5 + lastSlot > N - 2) return kXipSlotsOutside;
  for (std::uint32_t k = 0; k <= lastSlot; ++k) {
    g.files[k].len = static_cast<std::int16_t>(loadLe16(data, 5 + k));
  }
  std::uint32_t cursor = 6 + lastSlot;
  for (std::uint32_t k = 0; k <= lastSlot; ++k) {
    const int rc = loadSlot(g.files[k], data, N, cursor);
    if (rc != 0) return rc;
  }
  return 0;
}

void sealXIP(std::uint8_t* bytes, std::uint32_t N) {
  std::memcpy(bytes, kMagic, sizeof kMagic);
  storeLe32(bytes + 4, N);
  storeLe16(bytes, N - 1, contentCrc(bytes, N));
  if (N - 2 > 3) whitening(bytes, N, true);
}

qmx::Error::Result<qmx::Error::None, Error> putXIP(const char* path) {
  std::uint64_t words = 5 + kFileCount + 1;  // header, slot words, CRC word
  for (int k = 0; k < kFileCount; ++k) {
    const FileEntry& entry = g.files[k];
    if (entry.spc) {
      words += kUpperWords;
    } else if (entry.bin) {
      if (entry.len > kMaxRawWords) return Error(153);
      words += static_cast<std::uint32_t>(std::max(entry.len, 0));
    }
  }
  const std::uint64_t base = static_cast<std::uint64_t>(alignToPage(strP));
  if (base + 2 * words > static_cast<std::uint64_t>(kPoolBytes)) return Error(1);

  std::uint8_t* container = g.pool.get() + base;
  storeLe16(container, 4, kLastSlot);
  std::uint32_t c = 5 + kFileCount;
  for (int k = 0; k < kFileCount; ++k) {
    const FileEntry& entry = g.files[k];
    const std::uint16_t slotWord = entry.spc   ? kSpaceSlotWord
                                   : entry.bin ? static_cast<std::uint16_t>(entry.len)
                                               : 0;
    storeLe16(container, 5 + k, slotWord);
  }
  for (int k = 0; k < kFileCount; ++k) {
    const FileEntry& entry = g.files[k];
    if (entry.spc) {
      for (int i = 0; i < kUpperWords; ++i) storeLe16(container, c++, entry.spc[kUpperBegin + i]);
    } else if (entry.bin) {
      for (int i = 0; i < entry.len; ++i) storeLe16(container, c++, entry.bin[i]);
    }
  }
  LFSR0tapcfg = kXipPoly;
  const std::uint32_t N = c + 1;
  sealXIP(container, N);

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return Error(201);
  out.write(reinterpret_cast<const char*>(container), 2 * static_cast<std::streamsize>(N));
  out.close();
  if (!out) return Error(1);  // a full disk, for instance: the file is incomplete
  return qmx::Error::None{};
}

}  // namespace Ruvo::detail
