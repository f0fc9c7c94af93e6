#pragma once
// The command-line form of an EEPROM address (`offset`) and of a byte count
// (`length`): one unsigned 32-bit token in decimal, hexadecimal (0x) or octal
// (leading 0), even. A length may be at most 65536 and an address below
// 65536; anything else is refused as an invalid option value.

#include <boost/any.hpp>
#include <string>
#include <vector>

#include "file/CommonFirmwareFile.h"

namespace qmx::detail {

void validate(boost::any& value, const std::vector<std::string>& tokens,
              MemoryType<EEPROMAddressTraits>*, int);
void validate(boost::any& value, const std::vector<std::string>& tokens,
              MemoryType<MemoryLengthTraits>*, int);

// Shown as the default in the help text.
std::ostream& operator<<(std::ostream& os, const MemoryType<EEPROMAddressTraits>& address);
std::ostream& operator<<(std::ostream& os, const MemoryType<MemoryLengthTraits>& length);

}  // namespace qmx::detail
