#include "cli/MemoryTypeOption.h"

#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>
#include <cerrno>
#include <cstdlib>
#include <ostream>

namespace qmx::detail {
namespace {

namespace po = boost::program_options;

// The token as an even unsigned 32-bit number of at most max, read with the C
// library's automatic base (leading blanks and a sign as it takes them); a
// negative number does not fit. Refused as an invalid value otherwise.
std::uint32_t ParseEven(const std::vector<std::string>& tokens, std::uint32_t max) {
  const std::string& token = po::validators::get_single_string(tokens);
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(token.c_str(), &end, 0);
  if (end == token.c_str() || *end != '\0' || errno == ERANGE || value % 2 != 0 || value > max) {
    throw po::invalid_option_value(token);
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

void validate(boost::any& value, const std::vector<std::string>& tokens,
              MemoryType<EEPROMAddressTraits>*, int) {
  po::validators::check_first_occurrence(value);
  value = MemoryType<EEPROMAddressTraits>(static_cast<std::uint16_t>(ParseEven(tokens, 0xFFFF)));
}

void validate(boost::any& value, const std::vector<std::string>& tokens,
              MemoryType<MemoryLengthTraits>*, int) {
  po::validators::check_first_occurrence(value);
  value = MemoryType<MemoryLengthTraits>(ParseEven(tokens, 0x10000));
}

std::ostream& operator<<(std::ostream& os, const MemoryType<EEPROMAddressTraits>& address) {
  return os << address.value();
}

std::ostream& operator<<(std::ostream& os, const MemoryType<MemoryLengthTraits>& length) {
  return os << length.value();
}

}  // namespace qmx::detail
