#include "ruvo/ZeroPages.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Ruvo::detail {
namespace {

std::size_t pageBytes() {
  static const std::size_t bytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return bytes;
}

// The mapping of a buffer: its bytes rounded up to whole pages, and a page
// more, so that every buffer is followed by bytes that can be poisoned.
std::size_t mappedBytes(std::size_t bytes) {
  const std::size_t page = pageBytes();
  return (bytes + page - 1) / page * page + page;
}

}  // namespace

void* mapZeroPages(std::size_t bytes) {
  const std::size_t mapped = mappedBytes(bytes);
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(p) + bytes, mapped - bytes);
  return p;
}

void populatePages(void* p, std::size_t first, std::size_t end) {
  const std::size_t page = pageBytes();
  const std::size_t begin = first / page * page;
  if (end <= begin) return;
  // Only a shortcut: where the system cannot do it, the writes fault the pages in.
  madvise(static_cast<char*>(p) + begin, end - begin, MADV_POPULATE_WRITE);
}

void unmapZeroPages(void* p, std::size_t bytes) {
  if (p == nullptr) return;
  // The next mapping at these addresses starts unpoisoned.
  const std::size_t mapped = mappedBytes(bytes);
  ASAN_UNPOISON_MEMORY_REGION(static_cast<char*>(p) + bytes, mapped - bytes);
  munmap(p, mapped);
}

}  // namespace Ruvo::detail
