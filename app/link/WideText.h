#pragma once
// Conversions between UTF-8 text and the wide-character strings of hidapi
// (one code point per wchar_t).

#include <optional>
#include <string>

namespace mrl {

// The code points of valid UTF-8 text; nothing for text that is not valid
// UTF-8 (bad sequences, overlong forms, surrogates, beyond U+10FFFF).
std::optional<std::wstring> Utf8ToWide(const std::string& text);

// UTF-8 of a null-terminated wide string, empty for null. A character that is
// no Unicode scalar value (a surrogate, or beyond U+10FFFF) becomes U+FFFD.
std::string WideToUtf8(const wchar_t* text);

}  // namespace mrl
