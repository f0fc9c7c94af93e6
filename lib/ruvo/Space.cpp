#include "ruvo/Space.h"

#include <algorithm>
#include <iostream>

namespace Ruvo::detail {
namespace {

// A new space with the words from `first` up copied from space, zero below.
Space cloneFrom(const std::uint16_t* space, int first) {
  Space copy = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!copy) {
    std::cout << "cloneSpc out of memory\n";
    return copy;
  }
  std::copy(space + first, space + kSpaceWords, copy.get() + first);
  return copy;
}

}  // namespace

Space newSpc() {
  Space space = allocZeroed<std::uint16_t>(kSpaceWords);
  if (!space) std::cout << "newSpc out of memory\n";
  return space;
}

Space cloneSpc(const std::uint16_t* space) {
  return cloneFrom(space, 0);
}

Space cloneUpperSpc(const std::uint16_t* space) {
  return cloneFrom(space, kUpperBegin);
}

}  // namespace Ruvo::detail
