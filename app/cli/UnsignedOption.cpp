#include "cli/UnsignedOption.h"

#include <algorithm>
#include <cctype>

namespace mrl {

bool IsNegativeToken(const std::string& token) {
  const auto number = std::find_if_not(token.begin(), token.end(),
                                       [](unsigned char c) { return std::isspace(c) != 0; });
  return number != token.end() && *number == '-';
}

}  // namespace mrl
