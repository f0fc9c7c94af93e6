// Feeds arbitrary bytes to the HOFF reader: it must answer with a result, never
// crash or throw, and what it accepts must survive a write and a second read.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "file/HOFF.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  const auto result = HOFF::FromStream(is);
  if (result.index() != 0) return 0;
  const HOFF::File& file = std::get<0>(result);
  static_cast<void>(file.IsValid());
  std::ostringstream os;
  try {
    file.ToStream(os);
  } catch (const std::exception&) {
    return 0;  // the writer refuses strings that are not UTF-8
  }
  std::istringstream again(os.str());
  const auto back = HOFF::FromStream(again);
  if (back.index() != 0 || !(std::get<0>(back) == file)) std::abort();
  return 0;
}
