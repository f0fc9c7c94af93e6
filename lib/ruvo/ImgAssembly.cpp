// The conversion of an XIP container into the img image the boot monitor
// loads: MR record, image directory, Tl block, LZ streams and raw slots.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iostream>
#include <vector>

#include "ruvo/Bootmon.h"
#include "ruvo/ByteOrder.h"
#include "ruvo/Crc.h"
#include "ruvo/LzStream.h"
#include "ruvo/MrRecord.h"
#include "ruvo/Ruvo.h"
#include "ruvo/Space.h"
#include "ruvo/Tables.h"
#include "ruvo/XipContainer.h"

namespace Ruvo {
namespace detail {
namespace {

constexpr std::int32_t kPositionTag = 0x0B000000;
constexpr std::int32_t kFirstDirectoryGuess = 0x0B0007D0;
constexpr int kFreeAreaZeros = 288;  // more zero words than this make room for the Tl block
constexpr int kTlBlockGap = 16;
constexpr int kMaxPageSize = 0x10000;
constexpr int kMrEncodings = 3;
constexpr int kGenericFailure = 1;
constexpr int kImageTooLarge = 153;  // the image would reach the pool's end

// The highest slot that holds a space or raw data; 0 when only slot 0 does.
int lastUsedSlot() {
  int last = 0;
  for (int k = 0; k < kFileCount; ++k) {
    if (g.files[k].spc || g.files[k].bin) last = k;
  }
  return last;
}

// Finds words that no slot's space uses for the Tl block and stores the
// address in aux of entry 0: more than 288 words from 0xC003 up that are zero
// in every space, the block 16 words behind the last word used before them.
// It reads the spaces from 0xC003 up only. False when there are no such words.
bool placeTlBlock() {
  std::vector<const std::uint16_t*> spaces;
  for (int k = 0; k < kFileCount; ++k) {
    if (g.files[k].spc) spaces.push_back(g.files[k].spc.get());
  }
  const auto used = [&spaces](int address) {
    return std::any_of(spaces.begin(), spaces.end(),
                       [address](const std::uint16_t* space) { return space[address] != 0; });
  };
  int last = kFirstHeaderAddress;
  for (int k = kFirstHeaderAddress; k < kSpaceWords; ++k) {
    if (used(k)) {
      last = k;
    } else if (k - last > kFreeAreaZeros) {
      g.files[0].aux = last + kTlBlockGap;
      return true;
    }
  }
  return false;
}

// Encodes the MR record three times, the directory following the record of
// the encoding before; false when encoding fails or the record grows.
bool encodeRecord(std::uint8_t* record, int& recordWords, std::array<std::uint16_t, 4> hwid) {
  FileEntry& directory = g.files[0];
  for (int i = 0; i < kMrEncodings; ++i) {
    if (MRencoder(g.files[0].spc.get(), record, &recordWords, hwid) != 0) return false;
    const std::int32_t behindRecord = kPositionTag + 2 * recordWords;
    if (i + 1 < kMrEncodings) directory.pos = behindRecord;
    if (i + 1 == kMrEncodings && behindRecord > directory.pos) return false;
  }
  return true;
}

// Hands out image positions behind a cursor that never reaches the pool's end.
class Cursor {
 public:
  explicit Cursor(std::int64_t offset) : offset_(offset) {}
  bool fits() const { return offset_ < kPoolBytes; }
  std::int32_t position() const { return kPositionTag + static_cast<std::int32_t>(offset_); }
  void advanceWords(std::int64_t words) { offset_ += 2 * words; }
  void alignToPage() {
    if (fits()) offset_ = detail::alignToPage(static_cast<int>(offset_));
  }
  std::int64_t offset() const { return offset_; }

 private:
  std::int64_t offset_;
};

int offsetOf(std::int32_t position) {
  return position & 0xFFFFFF;
}

// Encodes every application space behind the cursor and verifies its stream.
// Returns 0 or the error code.
int encodeStreams(int lastIdx, Cursor& cursor, std::array<std::uint16_t, 4> hwid) {
  for (int i = 1; i <= lastIdx; ++i) {
    FileEntry& entry = g.files[i];
    if (!entry.spc) continue;
    entry.bin = newSpc();
    if (!entry.bin) return kGenericFailure;
    auto* stream = reinterpret_cast<std::uint8_t*>(entry.bin.get());
    int words = 0;
    if (LZencoder(entry.spc.get(), stream, &words, hwid) != 0) return kGenericFailure;
    entry.pos = cursor.position();
    entry.len = words;
    cursor.advanceWords(words);
    if (!cursor.fits()) return kImageTooLarge;
    // Slot 0's space is zero below 0xC000, as the container reader made it.
    Space check = cloneSpc(g.files[0].spc.get(), kUpperBegin, kSpaceWords);
    if (!check || LZdecoder(check.get(), stream, words, hwid) != 0) return kGenericFailure;
  }
  return 0;
}

// Places the raw and empty slots at page boundaries behind the streams and
// pads the image to a whole page; false when it would reach the pool's end.
bool placeRawSlots(int lastIdx, Cursor& cursor) {
  for (int i = 1; i <= lastIdx; ++i) {
    FileEntry& entry = g.files[i];
    if (entry.spc) continue;
    cursor.alignToPage();
    if (!cursor.fits()) return false;
    entry.pos = cursor.position();
    cursor.advanceWords(entry.len);
  }
  cursor.alignToPage();
  return cursor.fits();
}

void writeDirectory(int lastIdx, std::uint8_t* at) {
  for (int i = 1; i <= lastIdx; ++i) {
    const FileEntry& entry = g.files[i];
    const std::uint16_t words[3] = {static_cast<std::uint16_t>(entry.pos >> 16),
                                    static_cast<std::uint16_t>(entry.pos),
                                    static_cast<std::uint16_t>(entry.len)};
    std::uint16_t check = 0xFFFF;
    for (std::uint16_t w : words) check = absorb<kDirPoly>(check, w);
    check = absorb<kDirPoly>(check, 0);
    const std::size_t first = 4 * static_cast<std::size_t>(i - 1);
    for (int k = 0; k < 3; ++k) storeBe16(at, first + k, words[k]);
    storeBe16(at, first + 3, check);
  }
  LFSR0tapcfg = kDirPoly;
}

void assemble(int lastIdx, const std::uint8_t* record, int recordWords) {
  std::uint8_t* pool = g.pool.get();
  std::copy(record, record + 2 * recordWords, pool);
  const FileEntry& directory = g.files[0];
  std::uint8_t* dir = pool + offsetOf(directory.pos);
  writeDirectory(lastIdx, dir);
  std::uint8_t* tl = dir + 8 * lastIdx;
  for (int i = 0; i < Tl_len; ++i) storeLe16(tl, i, Tl_img[i]);  // Tl_img is byte-swapped
  for (int i = 1; i <= lastIdx; ++i) {
    const FileEntry& entry = g.files[i];
    if (!entry.bin) continue;
    std::uint8_t* at = pool + offsetOf(entry.pos);
    if (entry.spc) {
      const auto* stream = reinterpret_cast<const std::uint8_t*>(entry.bin.get());
      std::copy(stream, stream + 2 * entry.len, at);
    } else {
      for (int k = 0; k < entry.len; ++k) storeLe16(at, k, entry.bin[k]);
    }
  }
}

bool validPageSize(int pageSize) {
  return pageSize > 0 && pageSize <= kMaxPageSize && (pageSize & (pageSize - 1)) == 0;
}

}  // namespace
}  // namespace detail

qmx::Result<std::vector<std::uint8_t>, Error> XipToImg(std::array<std::uint16_t, 4> hwid,
                                                       std::vector<std::uint8_t> xip,
                                                       int pageSize) {
  using namespace detail;
  const Error failed(kGenericFailure);
  if (!validPageSize(pageSize) || xip.size() > static_cast<std::size_t>(INT_MAX)) return failed;
  MemoryPageSize = pageSize;
  TablesScope tables;
  if (tables.failed()) return failed;
  if (getXIP(xip.data(), static_cast<int>(xip.size())) != 0) return failed;
  FileEntry& directory = g.files[0];
  if (!directory.spc) return Error(156);
  const int lastIdx = lastUsedSlot();
  if (!placeTlBlock()) return failed;
  if (bootmonParser(directory.spc.get()) != 0) return failed;

  directory.pos = kFirstDirectoryGuess;
  directory.len = 4 * lastIdx;
  auto record = allocZeroed<std::uint8_t>(2 * kRecordWords);
  if (!record) {
    std::cout << "newSpc out of memory\n";
    return failed;
  }
  int recordWords = 0;
  if (!encodeRecord(record.get(), recordWords, hwid)) return failed;

  Cursor cursor(offsetOf(directory.pos) + 2 * (4 * lastIdx) + 2 * Tl_len);
  const int streams = encodeStreams(lastIdx, cursor, hwid);
  if (streams != 0) return Error(static_cast<std::uint8_t>(streams));
  if (!placeRawSlots(lastIdx, cursor)) return Error(kImageTooLarge);
  assemble(lastIdx, record.get(), recordWords);
  return std::vector<std::uint8_t>(g.pool.get(), g.pool.get() + cursor.offset());
}

}  // namespace Ruvo
