#include "ruvo/ZeroPages.h"

#include <sys/mman.h>
#include <unistd.h>

namespace Ruvo::detail {
namespace {

std::size_t pageBytes() {
  static const std::size_t bytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return bytes;
}

// The mapping of a buffer: its bytes rounded up to whole pages, and the guard page.
std::size_t mappedBytes(std::size_t bytes) {
  const std::size_t page = pageBytes();
  return (bytes + page - 1) / page * page + page;
}

}  // namespace

void* mapZeroPages(std::size_t bytes) {
  const std::size_t mapped = mappedBytes(bytes);
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto* guard = static_cast<char*>(p) + mapped - pageBytes();
  if (mprotect(guard, pageBytes(), PROT_NONE) != 0) {
    munmap(p, mapped);
    return nullptr;
  }
  return p;
}

void unmapZeroPages(void* p, std::size_t bytes) {
  if (p != nullptr) munmap(p, mappedBytes(bytes));
}

}  // namespace Ruvo::detail
