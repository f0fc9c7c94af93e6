#include "ruvo/Bootmon.h"

#include "ruvo/ByteOrder.h"
#include "ruvo/Crc.h"
#include "ruvo/L1.h"
#include "ruvo/Space.h"
#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

constexpr int kMinTlSize = 200;
constexpr int kMaxTlSize = 256;
constexpr int kZeroRunEnd = 3;  // three zero words end a stretch

// The first address behind `from` at which three zero words follow the last
// non-zero word; kSpaceWords when the space ends first.
int endOfStretch(const std::uint16_t* space, int from, int& last) {
  last = from;
  for (int k = from; k < kSpaceWords; ++k) {
    if (space[k] != 0) {
      last = k;
    } else if (k - last == kZeroRunEnd) {
      return k;
    }
  }
  return kSpaceWords;
}

// Cuts the Tl block out of the space and leaves it L1-encoded in Tl_spc at
// aux of entry 0, with Tl_crc and Tl_img made from it.
int extractTlBlock(std::uint16_t* space) {
  Tl_spc = newSpc();
  if (!Tl_spc) return -1;
  int last = 0;
  const int k = endOfStretch(space, kFirstHeaderAddress, last);
  if (k >= kSpaceWords || k + 1 >= kSpaceWords) return 157;
  TlBegin = k + 1;
  endOfStretch(space, TlBegin, last);
  TlSize = last - TlBegin;
  if (TlSize < kMinTlSize || TlSize > kMaxTlSize) return 157;
  Tl_len = TlSize + 1;

  const int target = g.files[0].aux & 0xFFFF;
  if (target < 1 || target + TlSize > 0xFFFF) return kBlockOutsideSpace;
  for (int i = 0; i < Tl_len; ++i) {
    Tl_spc[target + i] = space[TlBegin + i];
    space[TlBegin + i] = 0;
  }
  TlBegin = target;

  const int encoded = L1encoder(Tl_spc.get(), TlBegin, TlSize);
  if (encoded != 0) return encoded;
  // The decoding reads and writes only the block.
  Space copy = cloneSpc(Tl_spc.get(), TlBegin, TlBegin + Tl_len);
  if (!copy) return -1;
  const int decoded = L1decoder(copy.get(), TlBegin, TlSize);
  copy.reset();
  if (decoded != 0) return decoded;

  Tl_img = newSpc();
  if (!Tl_img) return -1;
  for (int i = 0; i < Tl_len; ++i) Tl_img[i] = swap16(Tl_spc[TlBegin + i]);
  return 0;
}

int checkHeader(const std::uint16_t* space) {
  const std::uint16_t count = space[0xC003];
  if ((count >> 8) != 0x01) return 158;
  const int n = count & 0xFF;
  if (n == 0) return 159;
  Ruvo_NoticesSize = n;
  Ruvo_Notices = 0xC004;
  if (space[0xC004 + n] != 0x0100) return 160;
  Ruvo_ApplicationArea = (0xC006 + n + space[0xC005 + n]) & 0xFFFF;
  if (space[0xC006 + n] != 1000) return 161;
  Ruvo_ShortData = kShortDataArea;
  Ruvo_CommonArea = space[0xC007 + n];
  if (Ruvo_CommonArea > 0xFFFC) return kCommonAreaOutside;
  Ruvo_File0ptr = space[Ruvo_CommonArea + 3];
  if (space[Ruvo_CommonArea] != Ruvo_CommonArea) return 162;
  if (Ruvo_File0ptr > 0xFFFC) return kAnnouncementOutside;
  return 0;
}

}  // namespace

int bootmonParser(std::uint16_t* space) {
  if (space == nullptr) return 156;
  const int extracted = extractTlBlock(space);
  if (extracted != 0) return extracted;
  const int header = checkHeader(space);
  if (header != 0) return header;
  // LFSR0tapcfg holds the stream polynomial that the L1 decoding stored.
  std::uint16_t crc = static_cast<std::uint16_t>(Tl_crc);
  for (int i = kFirstHeaderAddress; i < Ruvo_ApplicationArea; ++i) {
    crc = absorb(crc, space[i], LFSR0tapcfg);
  }
  Tl_crc = crc;
  return 0;
}

}  // namespace Ruvo::detail
