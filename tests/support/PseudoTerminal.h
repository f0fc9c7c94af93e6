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
  // read (tcflush of its input). A flush of both directions may report its two
  // halves one read apart; only this half counts, so each flush counts once.
  struct Input {
    std::vector<std::uint8_t> data;
    bool flushed = false;
  };

  // Opens the pair in raw mode; throws std::runtime_error on failure. The slave
  // side stays open here too, so the master keeps working while the program
  // under test has it closed.
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // The device name of the slave side, for instance /dev/pts/7.
  const std::string& slave_name() const { return slave_name_; }

  // Waits at most timeout for something from the slave side; empty when nothing came.
  Input Read(std::chrono::milliseconds timeout);
  // Sends bytes towards the slave side, waiting at most timeout for room;
  // returns how many went. Once the slave side is gone the bytes are lost, as
  // on a real line, and count as sent.
  std::size_t Write(const std::uint8_t* bytes, std::size_t len, std::chrono::milliseconds timeout);
  // The device goes away, as an unplugged adapter does: closes the master
  // side, which hangs the slave side up for everyone who has it open. Reads
  // then find nothing and written bytes are lost. On the thread that reads
  // and writes the master.
  void HangUp();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
};

}  // namespace mrl_test
