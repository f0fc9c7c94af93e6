#pragma once
// An in-memory port for tests: hands out the bytes a test feeds it, keeps what
// is written to it, and lets a test script the result of single calls.
// Single-threaded; every member is meant to be read and set by the test.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "port/GenericPort.h"

namespace mrl_test {

class ScriptedPort : public qmx::GenericPort {
 public:
  // Adds bytes for read_some to hand out, oldest first.
  void feed(const std::vector<std::uint8_t>& bytes);

  // Results of the next calls, one entry per call, consumed oldest first. A
  // negative entry makes the call fail with that value; otherwise at most that
  // many bytes move. With the script empty a call moves everything it can:
  // read_some all it was asked for that has been fed, write_some the whole length.
  std::deque<int> read_script;
  std::deque<int> write_script;

  // Runs at the start of every read_some call, before the script is consulted
  // (feed from here to deliver bytes on a later call, or let time pass).
  std::function<void()> before_read;
  // Runs after every write_some call that moved bytes, with those bytes; a board
  // simulation answers here by calling feed.
  std::function<void(const std::vector<std::uint8_t>& accepted)> on_write;

  std::vector<std::uint8_t> written;                     // every byte write_some accepted, in order
  std::vector<unsigned> read_lengths;                    // the length asked by each read_some call
  std::vector<unsigned> write_lengths;                   // the length asked by each write_some call
  std::size_t pending() const { return input_.size(); }  // fed bytes not yet read

  int flushes = 0;         // calls of flush; each one also drops the pending input
  int resets = 0;          // calls of reset
  bool open = true;        // what is_open answers
  std::string last_error;  // what getLastErrorString answers

  bool is_open() override { return open; }
  int close() override;
  int flush() override;
  void reset() override { ++resets; }
  int write_some(const std::uint8_t* data, unsigned len) override;
  int read_some(std::uint8_t* buf, unsigned len) override;
  std::string getLastErrorString() const override { return last_error; }

 private:
  // The scripted limit of the next call (len when the script is empty), or
  // the scripted negative result.
  static int NextLimit(std::deque<int>& script, unsigned len);

  std::deque<std::uint8_t> input_;
};

}  // namespace mrl_test
