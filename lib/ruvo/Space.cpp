#include "ruvo/Space.h"

#include <algorithm>
#include <iostream>

namespace Ruvo::detail {

Space newSpc() {
  Space space = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!space) std::cout << "newSpc out of memory\n";
  return space;
}

Space cloneSpc(const std::uint16_t* space) {
  Space copy = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!copy) {
    std::cout << "cloneSpc out of memory\n";
    return copy;
  }
  std::copy(space, space + kSpaceWords, copy.get());
  return copy;
}

void iorSpc(std::uint16_t* dst, const std::uint16_t* src) {
  for (int i = 0; i < kSpaceWords; ++i) dst[i] |= src[i];
}

}  // namespace Ruvo::detail
