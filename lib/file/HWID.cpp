#include "file/HWID.h"

#include <bitset>

namespace HWID {
namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKLMNPQRTUVWXY";

struct ReverseTable {
  std::array<std::int8_t, 256> index{};
  constexpr ReverseTable() {
    for (auto& i : index) i = -1;
    for (int i = 0; i < 32; ++i) index[static_cast<unsigned char>(kAlphabet[i])] = i;
  }
};
constexpr ReverseTable kReverse;

int digit(char c) {
  return kReverse.index[static_cast<unsigned char>(c)];
}

}  // namespace

void itob32(std::uint16_t w, char* out) {
  out[0] = kAlphabet[(w >> 10) & 31];
  out[1] = kAlphabet[(w >> 5) & 31];
  out[2] = kAlphabet[w & 31];
}

int b32toi(const char* in) {
  const int d0 = digit(in[0]), d1 = digit(in[1]), d2 = digit(in[2]);
  if (d0 < 0 || d1 < 0 || d2 < 0) return -1;
  int v = d0 * 1024 + d1 * 32 + d2;
  if (std::bitset<16>(v).count() % 2 == 1) v |= 0x8000;
  return v;
}

Base32 rawToBase32(const Raw& raw) {
  Base32 text{};
  for (std::size_t g = 0; g < raw.size(); ++g) itob32(raw[g], &text[3 * g]);
  return text;
}

Raw base32ToRaw(const char* text) {
  Raw raw{};
  for (std::size_t g = 0; g < raw.size(); ++g) {
    const int v = b32toi(text + 3 * g);
    raw[g] = v < 0 ? 0xFFFF : static_cast<std::uint16_t>(v);
  }
  return raw;
}

Raw base32ToRaw(const Base32& text) {
  return base32ToRaw(text.data());
}

}  // namespace HWID
