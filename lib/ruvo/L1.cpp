#include "ruvo/L1.h"

#include <iostream>

#include "ruvo/Crc.h"
#include "ruvo/Tables.h"

namespace Ruvo::detail {
namespace {

bool isBra(std::uint16_t word) {
  return (word >> 8) == 0x01;
}

// The address-keyed rotation of the chain.
std::uint16_t rotation(std::uint16_t x, int address) {
  return rotl16(x, g.popcount[(address - 0x55) & 0xFFFF] & 15u);
}

bool fitsSpace(int start, int size) {
  return start >= 1 && size >= 0 && start + size <= 0xFFFF;
}

// Finds the inp and bra instructions in [start, start + size); returns 0, or
// missingInp / missingInp + 1 after writing who's message.
int findInstructions(const std::uint16_t* w, int start, int size, const char* who, int missingInp,
                     int& inp, int& bra) {
  const int end = start + size;
  inp = -1;
  bra = -1;
  for (int i = start; i < end; ++i) {
    if (inp < 0 && w[i] == kInpInstruction) inp = i;
    if (bra < 0 && isBra(w[i])) bra = i;
  }
  if (inp < 0) {
    std::cout << who << " missing inp instruction\n";
    return missingInp;
  }
  if (bra < 0) {
    std::cout << who << " missing bra instruction\n";
    return missingInp + 1;
  }
  return 0;
}

}  // namespace

int L1encoder(std::uint16_t* w, int start, int size) {
  if (!fitsSpace(start, size)) return kBlockOutsideSpace;
  int inp = 0, bra = 0;
  const int found = findInstructions(w, start, size, "L1encoder", 167, inp, bra);
  if (found != 0) return found;
  const int end = start + size;
  const std::uint16_t saved = w[bra];
  const std::uint16_t K = static_cast<std::uint16_t>(0x3D65 - saved);
  w[bra] = w[end];
  std::uint16_t d = static_cast<std::uint16_t>(inp);
  std::uint16_t e = static_cast<std::uint16_t>(w[end - 1] - rotation(d, end - 1));
  w[end] = e;
  for (int i = end - 1; i >= bra; --i) {
    d = static_cast<std::uint16_t>(rotation(d, i) + e);
    const std::uint16_t f = static_cast<std::uint16_t>(w[i - 1] - rotation(d, i - 1));
    w[i] = static_cast<std::uint16_t>((f ^ e) - K);
    e = f;
  }
  w[bra] = saved;
  return 0;
}

int L1decoder(std::uint16_t* w, int start, int size) {
  if (!fitsSpace(start, size)) return kBlockOutsideSpace;
  int inp = 0, bra = 0;
  const int found = findInstructions(w, start, size, "L1decoder", 169, inp, bra);
  if (found != 0) return found;
  const int end = start + size;
  const std::uint16_t K = static_cast<std::uint16_t>(0x3D65 - w[bra]);
  std::uint16_t S = 0xFFFF;
  std::uint16_t c = w[end];
  std::uint16_t d = static_cast<std::uint16_t>(inp);
  for (int i = end - 1; i >= bra; --i) {
    d = static_cast<std::uint16_t>(rotation(d, i) + c);
    S = absorb<kDirPoly>(S, d);
    const std::uint16_t t = static_cast<std::uint16_t>(w[i] + K);
    w[i] = d;
    c ^= t;
  }
  LFSR0tapcfg = kStreamPoly;
  for (int i = bra - 1; i >= start; --i) S = absorb<kStreamPoly>(S, w[i]);
  Tl_crc = S;
  return 0;
}

}  // namespace Ruvo::detail
