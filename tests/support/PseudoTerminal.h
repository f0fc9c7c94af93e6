#pragma once
// The master side of a pseudo-terminal in packet mode, for a simulated device:
// the program under test opens the slave side by name as its serial port.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mrl_test {

class PseudoTerminal {
 public:
  // What one read of the master side delivered: bytes the slave side wrote, or
  // the report that the slave side discarded what it had received and not yet
  // read (tcflush of its input), or that nobody has the slave side open. A
  // flush of both directions may report its two halves one read apart; only
  // this half counts, so each flush counts once. Everything the slave side did
  // while open is reported before its closing.
  struct Input {
    std::vector<std::uint8_t> data;
    bool flushed = false;
    bool closed = false;
  };

  // Opens the pair in raw mode; throws std::runtime_error on failure. The
  // master does not keep the slave side open, so that it sees each closing:
  // the slave side is open only while a program has it open.
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // The device name of the slave side, for instance /dev/pts/7.
  const std::string& slave_name() const { return slave_name_; }

  // Waits at most timeout for something from the slave side; empty when
  // nothing came. While the slave side is closed it reports so, after waiting
  // the whole timeout.
  Input Read(std::chrono::milliseconds timeout);
  // Sends bytes towards the slave side, waiting at most timeout for room;
  // returns how many went. Bytes sent while the slave side is closed wait
  // there for its next opening. Once the line has hung up (HangUp) the bytes
  // are lost, as on a real line, and count as sent.
  std::size_t Write(const std::uint8_t* bytes, std::size_t len, std::chrono::milliseconds timeout);
  // The device goes away, as an unplugged adapter does: closes the master
  // side, which hangs the slave side up for everyone who has it open. Reads
  // then find nothing and written bytes are lost. On the thread that reads
  // and writes the master.
  void HangUp();

 private:
  int master_ = -1;
  std::string slave_name_;
};

}  // namespace mrl_test
