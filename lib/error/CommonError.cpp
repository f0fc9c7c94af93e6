#include "error/CommonError.h"

namespace qmx::Error {

const std::string None::kMsg{"No Error"};

const std::string& LookupText(std::uint8_t code, std::initializer_list<CodeText> table,
                              const std::string& fallback) {
  for (const CodeText& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return fallback;
}

}  // namespace qmx::Error
