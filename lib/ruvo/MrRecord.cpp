#include "ruvo/MrRecord.h"

#include "ruvo/ByteOrder.h"
#include "ruvo/Crc.h"
#include "ruvo/Space.h"
#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr std::uint16_t kRecordMagic = 0xCE3B;
constexpr std::uint16_t kChecksumSeed = 0x1911;

class RecordWriter {
 public:
  explicit RecordWriter(std::uint8_t* record) : record_(record) {}
  void append(std::uint16_t word) { storeBe16(record_, count_++, word); }
  int count() const { return count_; }

 private:
  std::uint8_t* record_;
  int count_ = 0;
};

std::uint16_t checksum(const std::uint16_t* copy) {
  std::uint16_t sum = kChecksumSeed;
  for (int i = 0xC003; i < kSpaceWords; ++i)
    sum = rotl16(static_cast<std::uint16_t>(sum + copy[i]), 5);
  return sum;
}

// Appends every maximal run of non-zero words from 0xC000 up as its address,
// its words and a 0; two more zero words end the record unless a run reaches
// the space's last word.
void appendRuns(const std::uint16_t* copy, RecordWriter& out) {
  int k = kUpperBegin;
  while (k < kSpaceWords) {
    while (k < kSpaceWords && copy[k] == 0) ++k;
    if (k == kSpaceWords) break;
    out.append(static_cast<std::uint16_t>(k));
    while (k < kSpaceWords && copy[k] != 0) out.append(copy[k++]);
    out.append(0);
    if (k == kSpaceWords) return;
  }
  out.append(0);
  out.append(0);
}

}  // namespace

int MRencoder(const std::uint16_t* space, std::uint8_t* record, int* length,
              std::array<std::uint16_t, 4> hwid) {
  // The record reads the copy from 0xC000 up, and below that only the words
  // at the common area and the announcement, which it writes first.
  Space copy = cloneSpc(space, kUpperBegin, kSpaceWords);
  if (!copy) return -1;
  const FileEntry& directory = g.files[0];
  const std::uint16_t announcement[4] = {
      static_cast<std::uint16_t>(directory.pos >> 16), static_cast<std::uint16_t>(directory.pos),
      static_cast<std::uint16_t>(directory.len), static_cast<std::uint16_t>(directory.aux)};
  for (int i = 0; i < 4; ++i) copy[Ruvo_CommonArea + i] = hwid[i];
  for (int i = 0; i < 4; ++i) copy[Ruvo_File0ptr + i] = announcement[i];
  if (copy[0xC000] != 0x0100) return 163;
  if (copy[0xC001] != 0x4012) return 164;
  copy[0xC001] = 0x400E;
  const std::uint16_t old = copy[0xC002];
  copy[0xC002] = checksum(copy.get());

  RecordWriter out(record);
  out.append(kRecordMagic);
  out.append(old & 0xE1FF);
  out.append(static_cast<std::uint16_t>(Ruvo_Notices));
  for (int i = 0; i < Ruvo_NoticesSize; ++i) {
    std::uint16_t& notice = copy[Ruvo_Notices + i];
    out.append(notice);
    if (notice == 0) return 165;
    notice = 0;
  }
  out.append(0);
  out.append(static_cast<std::uint16_t>(Ruvo_CommonArea));
  for (int i = 0; i < 4; ++i) {
    out.append(copy[Ruvo_CommonArea + i]);
    copy[Ruvo_CommonArea + i] = 0;
  }
  out.append(0);
  appendRuns(copy.get(), out);
  *length = out.count();
  return 0;
}

}  // namespace Ruvo::detail
