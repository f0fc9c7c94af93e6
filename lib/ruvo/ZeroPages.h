#pragma once
// Zero-filled buffers taken from the system as untouched pages: nothing
// writes them before use, so only the pages that a conversion writes become
// resident, and handing out a large table costs no clearing. Under
// AddressSanitizer the bytes behind each buffer, up to the end of its last
// page and one page more, are poisoned, so that an access past its end is
// reported as it would be for a buffer from the heap.

#include <cstddef>
#include <memory>

namespace Ruvo::detail {

// Maps bytes of zero pages; null when unavailable.
void* mapZeroPages(std::size_t bytes);

// Returns a mapping of mapZeroPages to the system.
void unmapZeroPages(void* p, std::size_t bytes);

// Makes the pages that hold bytes first to end - 1 of a mapping of
// mapZeroPages resident in one call rather than one page fault at a time. For
// bytes that are written right away; the buffer's contents stay zero.
void populatePages(void* p, std::size_t first, std::size_t end);

class PageDeleter {
 public:
  PageDeleter() = default;
  explicit PageDeleter(std::size_t bytes) : bytes_(bytes) {}
  void operator()(void* p) const { unmapZeroPages(p, bytes_); }

 private:
  std::size_t bytes_ = 0;
};

// A buffer of zero pages, released with its mapping; null when unavailable.
template <typename T>
using Buffer = std::unique_ptr<T[], PageDeleter>;

template <typename T>
Buffer<T> allocZeroed(std::size_t count) {
  const std::size_t bytes = count * sizeof(T);
  return Buffer<T>(static_cast<T*>(mapZeroPages(bytes)), PageDeleter(bytes));
}

}  // namespace Ruvo::detail
