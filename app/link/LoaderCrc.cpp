#include "link/LoaderCrc.h"

#include <boost/crc.hpp>

std::uint16_t LoaderCrc(const std::uint8_t* data, unsigned len) {
  boost::crc_optimal<16, 0x1021, 0x1D0F, 0, false, false> crc;
  crc.process_bytes(data, len);
  return crc.checksum();
}
