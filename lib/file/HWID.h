#pragma once
// A board's hardware id: four 16-bit words, read and typed as twelve
// characters, three per word, of a 32-character alphabet.

#include <array>
#include <cstdint>

namespace HWID {

using Raw = std::array<std::uint16_t, 4>;
using Base32 = std::array<char, 12>;  // not NUL-terminated

// Writes the three characters of w to out[0..2]; bit 15 is not encoded.
void itob32(std::uint16_t w, char* out);
// Decodes in[0..2]: -1 when a character is outside the alphabet, else the word
// (bit 15 set so that the word has an even number of one bits).
int b32toi(const char* in);

Base32 rawToBase32(const Raw& raw);
// Reads exactly twelve characters; an invalid group gives 0xFFFF for its word only.
Raw base32ToRaw(const char* text);
Raw base32ToRaw(const Base32& text);

}  // namespace HWID
