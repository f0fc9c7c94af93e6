#pragma once
// A pseudo-terminal pair: the port under test opens the terminal side by its
// name, the test plays the board on the other side.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mrl_test {

class PtyPair {
 public:
  PtyPair();  // fails the current test when no pair can be made
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The terminal side's device name.
  const std::string& name() const { return name_; }
  // Bytes the board sends to the port.
  void send(const std::vector<std::uint8_t>& bytes);
  // Up to count bytes the port sent, waiting at most timeout for them.
  std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds timeout);
  // Waits at most timeout until the port has input waiting; true when it has.
  bool port_has_input(std::chrono::milliseconds timeout);
  // Writes byte on the terminal side, bypassing any port, and waits at most 3 s
  // for it to come back there; true when it does.
  bool bare_exchange(std::uint8_t byte);
  // The board goes away (the line hangs up).
  void hang_up();

 private:
  int board_ = -1;     // the controlling side
  int terminal_ = -1;  // kept open so the terminal side outlives every port
  std::string name_;
};

}  // namespace mrl_test
