#include "ruvo/Tables.h"

#include <algorithm>
#include <array>
#include <new>

namespace Ruvo::detail {

Tables g;
int MemoryPageSize = 64;
std::uint16_t LFSR0tapcfg = 0x8BB7;
int strP = 0;
const char* const Not_Available_String = "<not available>";

int Tl_crc = 0, TlSize = 0, TlBegin = 0, Tl_len = 0;
Buffer<std::uint16_t> Tl_spc, Tl_img;
int Ruvo_Notices = 0, Ruvo_NoticesSize = 0, Ruvo_ApplicationArea = 0, Ruvo_CommonArea = 0,
    Ruvo_ShortData = 0, Ruvo_File0ptr = 0;

namespace {

// The contents of the two lookup tables, worked out once by the compiler, so
// that building them costs one copy each.
constexpr std::array<std::uint8_t, kSpaceWords> popcountTable() {
  std::array<std::uint8_t, kSpaceWords> count{};
  for (int p = 1; p < kSpaceWords; p *= 2) {
    for (int k = 0; k < p; ++k) count[p + k] = static_cast<std::uint8_t>(count[k] + 1);
  }
  return count;
}

constexpr std::array<std::uint16_t, kSpaceWords> bitrevTable() {
  std::array<std::uint16_t, kSpaceWords> reversed{};
  // x reversed is x / 2 reversed shifted down, with x's bit 0 on top.
  for (unsigned x = 1; x < kSpaceWords; ++x) {
    reversed[x] = static_cast<std::uint16_t>((reversed[x >> 1] >> 1) | ((x & 1u) << 15));
  }
  return reversed;
}

constexpr std::array<std::uint8_t, kSpaceWords> kPopcount = popcountTable();
constexpr std::array<std::uint16_t, kSpaceWords> kBitrev = bitrevTable();

}  // namespace

int buildTables() {
  auto pool = allocZeroed<std::uint8_t>(kPoolBytes);
  std::unique_ptr<FileEntry[]> files(new (std::nothrow) FileEntry[kFileCount]);
  auto popcount = allocZeroed<std::uint8_t>(kSpaceWords);
  auto bitrev = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!pool) return 142;
  if (!files) return 143;
  if (!popcount) return 144;
  if (!bitrev) return 145;

  populatePages(popcount.get(), 0, sizeof kPopcount);
  populatePages(bitrev.get(), 0, sizeof kBitrev);
  std::copy(kPopcount.begin(), kPopcount.end(), popcount.get());
  std::copy(kBitrev.begin(), kBitrev.end(), bitrev.get());
  g.pool = std::move(pool);
  g.files = std::move(files);
  g.popcount = std::move(popcount);
  g.bitrev = std::move(bitrev);
  strP = 0;
  return 0;
}

void freeTables() {
  Tl_spc.reset();
  Tl_img.reset();
  g.files.reset();  // each entry releases its own spc and bin
  g.pool.reset();
  g.popcount.reset();
  g.bitrev.reset();
}

int alignToPage(int x) {
  return (x + MemoryPageSize - 1) & -MemoryPageSize;
}

}  // namespace Ruvo::detail
