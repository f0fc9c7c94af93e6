// Feeds arbitrary bytes to the HOFF reader: it must answer with a result, never
// crash or throw; it must answer as the document conversions of the parsed
// text do; and what it accepts must survive a write and a second read.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "HoffDocumentRead.h"
#include "file/HOFF.h"

namespace {

using Read = mrl_test::HoffRead;
using mrl_test::DocumentRead;

bool SameRead(const Read& a, const Read& b) {
  if (a.index() != b.index()) return false;
  if (a.index() == 1) return static_cast<int>(std::get<1>(a)) == static_cast<int>(std::get<1>(b));
  return std::get<0>(a) == std::get<0>(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream is(text);
  const Read result = HOFF::FromStream(is);
  if (!SameRead(result, DocumentRead(text))) std::abort();
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
