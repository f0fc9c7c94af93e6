#pragma once
// The image builder's working state: the tables of one conversion (pool, file
// table, population count, bit reversal) and the results that one step leaves
// for the next. One conversion at a time, on one thread.

#include <cstdint>
#include <memory>

#include "ruvo/ZeroPages.h"

namespace Ruvo::detail {

constexpr int kSpaceWords = 0x10000;  // words of a target memory space
constexpr int kUpperBegin = 0xC000;   // first word that is stored and encoded
constexpr int kUpperWords = 0x4000;   // words 0xC000 to 0xFFFF
constexpr int kPoolBytes = 16 * 1024 * 1024;
constexpr int kFileCount = 257;  // slots 0 to 256
constexpr int kLastSlot = kFileCount - 1;

// One slot of a container. A space slot has spc, a raw slot bin only, an
// empty slot neither. The entry owns both buffers.
struct FileEntry {
  const char* name = nullptr;
  std::int32_t pos = 0;  // image byte position, tag 0x0B in bits 24 to 31
  std::int32_t len = 0;  // words of raw data or of the encoded stream
  std::int32_t aux = 0;  // slot 0: the address the Tl block moves to
  Buffer<std::uint16_t> spc;
  Buffer<std::uint16_t> bin;
};

struct Tables {
  Buffer<std::uint8_t> pool;           // kPoolBytes
  std::unique_ptr<FileEntry[]> files;  // kFileCount entries
  Buffer<std::uint8_t> popcount;       // bits set in each 16-bit value
  Buffer<std::uint16_t> bitrev;        // each 16-bit value bit-reversed
};

extern Tables g;
extern int MemoryPageSize;
extern std::uint16_t LFSR0tapcfg;  // polynomial last stored by a CRC routine
extern int strP;                   // next free byte of g.pool
extern const char* const Not_Available_String;

// Results of the boot monitor analysis.
extern int Tl_crc, TlSize, TlBegin, Tl_len;
extern Buffer<std::uint16_t> Tl_spc, Tl_img;
extern int Ruvo_Notices, Ruvo_NoticesSize, Ruvo_ApplicationArea, Ruvo_CommonArea, Ruvo_ShortData,
    Ruvo_File0ptr;

// Allocates and fills g and sets strP to 0. Returns 0, or 142 (pool), 143
// (file table), 144 (population count), 145 (bit reversal) leaving g unchanged.
int buildTables();

// Releases every buffer of the file table, the analysis buffers and the four
// tables of g. Harmless when nothing was built.
void freeTables();

// x rounded up to a multiple of MemoryPageSize (a power of two).
int alignToPage(int x);

// Builds the tables for the lifetime of one public operation and releases
// everything when it ends, on every path.
class TablesScope {
 public:
  TablesScope() : result_(buildTables()) {}
  ~TablesScope() { freeTables(); }
  TablesScope(const TablesScope&) = delete;
  TablesScope& operator=(const TablesScope&) = delete;
  bool failed() const { return result_ != 0; }

 private:
  int result_;
};

}  // namespace Ruvo::detail
