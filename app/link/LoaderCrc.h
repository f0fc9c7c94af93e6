#pragma once
#include <cstdint>

// The loader image's transfer check: CRC-16/SPI-FUJITSU (polynomial 0x1021,
// initial value 0x1D0F, not reflected, no final XOR), table-driven.
std::uint16_t LoaderCrc(const std::uint8_t* data, unsigned len);
