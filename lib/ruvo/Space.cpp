#include "ruvo/Space.h"

#include <algorithm>
#include <iostream>

namespace Ruvo::detail {

Space newSpc() {
  Space space = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!space) std::cout << "newSpc out of memory\n";
  return space;
}

Space cloneSpc(const std::uint16_t* space, int first, int end) {
  Space copy = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!copy) {
    std::cout << "cloneSpc out of memory\n";
    return copy;
  }
  populatePages(copy.get(), 2 * static_cast<std::size_t>(first), 2 * static_cast<std::size_t>(end));
  std::copy(space + first, space + end, copy.get() + first);
  return copy;
}

}  // namespace Ruvo::detail
