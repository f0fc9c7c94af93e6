#include "link/WideText.h"

#include <cstdint>
#include <type_traits>

namespace mrl {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// What a lead byte says: how many continuation bytes follow, its own value
// bits, and the smallest code point a sequence of that length may encode.
struct Lead {
  int continuations;
  char32_t value;
  char32_t smallest;
};

std::optional<Lead> DecodeLead(unsigned char b) {
  if (b < 0x80) return Lead{0, b, 0};
  if ((b & 0xE0) == 0xC0) return Lead{1, b & 0x1Fu, 0x80};
  if ((b & 0xF0) == 0xE0) return Lead{2, b & 0x0Fu, 0x800};
  if ((b & 0xF8) == 0xF0) return Lead{3, b & 0x07u, 0x10000};
  return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<std::wstring> Utf8ToWide(const std::string& text) {
  std::wstring wide;
  for (std::size_t i = 0; i < text.size();) {
    const std::optional<Lead> lead = DecodeLead(static_cast<unsigned char>(text[i++]));
    if (!lead) return std::nullopt;
    char32_t c = lead->value;
    for (int more = lead->continuations; more > 0; --more, ++i) {
      if (i == text.size()) return std::nullopt;
      const auto b = static_cast<unsigned char>(text[i]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < lead->smallest || c > kLastCodePoint || IsSurrogate(c)) return std::nullopt;
    wide += static_cast<wchar_t>(c);
  }
  return wide;
}

std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (; *text != L'\0'; ++text) {
    const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(*text));
    AppendUtf8(out, c > kLastCodePoint || IsSurrogate(c) ? kReplacement : c);
  }
  return out;
}

}  // namespace mrl
