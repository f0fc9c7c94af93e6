#pragma once
// Lines the target protocols share on the verbose stream.

#include <ostream>

namespace mrl::narration {

// "Sending data: N% done" and a carriage return, flushed so that one console
// line is overwritten.
inline void PrintProgress(std::ostream& vout, unsigned percent) {
  vout << "Sending data: " << percent << "% done\r" << std::flush;
}

// Both checksums in hexadecimal with the base shown; the stream goes back to
// plain decimal afterwards.
inline void PrintChecksums(std::ostream& vout, unsigned remote, unsigned local) {
  vout << "Remote Checksum: " << std::hex << std::showbase << remote << "\n"
       << "Local Checksum: " << local << "\n"
       << std::dec << std::noshowbase;
}

}  // namespace mrl::narration
