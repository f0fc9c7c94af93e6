#pragma once
// Feeds one fuzz input to a reader as a binary stream. A reader must return a result for any
// input: an exception, a crash or an allocation beyond the fuzzer's limit is a finding.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

template <class Read>
int FuzzReader(const std::uint8_t* data, std::size_t size, Read read) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size), std::ios::binary);
  read(is);
  return 0;
}
