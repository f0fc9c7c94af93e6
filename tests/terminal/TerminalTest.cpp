#include "terminal/Terminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <future>
#include <ios>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Keyboard.h"
#include "port/LineSetup.h"
#include "port/SerialPort.h"
#include "run/RunState.h"
#include "support/ConsoleCapture.h"
#include "support/ProcessorUse.h"
#include "support/PseudoTerminal.h"
#include "support/ScriptedPort.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using mrl_test::ConsoleCapture;
using mrl_test::Keyboard;
using mrl_test::PseudoTerminal;
using mrl_test::ScriptedPort;

using TerminalAction = mrl::Result (*)(mrl::RunState&, int);

// The terminal's first line (built on first use: the text is another file's constant).
std::string StartLine() {
  return mrl::kTermStart + "\n";
}

// What the board sends for one read of the terminal, after a pause.
struct Chunk {
  std::string bytes;
  std::chrono::milliseconds pause{0};
};

// A terminal over an in-memory port, with the console captured and a keyboard.
struct ScriptedTerminal {
  ScriptedTerminal() {
    auto owned = std::make_unique<ScriptedPort>();
    port = owned.get();
    state.port = std::move(owned);
  }

  // The port hands out one chunk per read (a long one over several), then fails
  // as a port that has gone away.
  void BoardSends(std::vector<Chunk> chunks) {
    port->before_read = [this, left = std::deque<Chunk>(chunks.begin(), chunks.end())]() mutable {
      if (port->pending() > 0) return;
      if (left.empty()) {
        port->read_script.push_back(-1);
        return;
      }
      std::this_thread::sleep_for(left.front().pause);
      port->feed(std::vector<std::uint8_t>(left.front().bytes.begin(), left.front().bytes.end()));
      left.pop_front();
    };
  }

  // Runs the terminal to its end, which must be the port failure given (the
  // failed read that ends every script, unless a write fails first); what it
  // showed after its start line.
  std::string Run(TerminalAction action,
                  const qmx::GenericPort::Error& ending = qmx::GenericPort::Error::kReadFailed) {
    const mrl::Result result = action(state, keyboard.fd());
    EXPECT_EQ(static_cast<int>(result), static_cast<int>(ending)) << result.msg();
    const std::string out = console.out();
    const std::string start = StartLine();
    EXPECT_EQ(out.substr(0, start.size()), start);
    return out.substr(std::min(out.size(), start.size()));
  }

  ConsoleCapture console;
  mrl::RunState state{console.console()};
  ScriptedPort* port = nullptr;
  Keyboard keyboard;
};

TEST(TerminalOutput, ShowsEverythingButZeroBytesHoweverItIsChunked) {
  const std::string kLong(1500, 'q');
  std::string long_with_zeros = kLong;
  long_with_zeros.insert(1200, 1, '\0');
  long_with_zeros.insert(100, 1, '\0');
  const struct {
    const char* name;
    std::vector<Chunk> chunks;
    std::string shown;
  } kCases[] = {
      {"a zero byte within a chunk", {{"AB\0CD\nEF\n"s}}, "ABCD\nEF\n"},
      {"a zero byte that ends a chunk", {{"AB\0"s}, {"CD\nEF\n"}}, "ABCD\nEF\n"},
      {"a zero byte that starts a chunk", {{"AB"}, {"\0CD\nEF\n"s}}, "ABCD\nEF\n"},
      {"a zero byte alone", {{"AB"}, {"\0"s}, {"CD\nEF\n"}}, "ABCD\nEF\n"},
      {"byte by byte",
       {{"A"}, {"B"}, {"\0"s}, {"C"}, {"D"}, {"\n"}, {"E"}, {"F"}, {"\n"}},
       "ABCD\nEF\n"},
      {"several zero bytes in a row and at both ends", {{"\0\0A\0\0B\0"s}}, "AB"},
      {"a shorter chunk shows nothing of the longer one before it",
       {{"abcdef"}, {"xy"}},
       "abcdefxy"},
      {"more than one read's worth arrives whole", {{kLong}}, kLong},
      {"zero bytes in more than one read's worth", {{long_with_zeros}}, kLong},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedTerminal terminal;
    terminal.BoardSends(c.chunks);
    EXPECT_EQ(terminal.Run(mrl::RunTerminal), c.shown);
    EXPECT_EQ(terminal.console.err(), "");
    for (unsigned asked : terminal.port->read_lengths) EXPECT_EQ(asked, 1024u);
  }
}

// A console that can no longer be written (a full disk, a reader that has
// gone) ends the terminal: it reads no more from the board, and leaves the
// failure for the program to report.
TEST(TerminalOutput, EndsOnceTheConsoleCanNoLongerShowIt) {
  ScriptedTerminal terminal;
  std::ostream& out = terminal.console.console().out;
  unsigned reads = 0;
  terminal.port->before_read = [&] {
    ++reads;
    if (reads == 1) terminal.port->feed({'a', 'b'});
    if (reads == 2) {
      out.setstate(std::ios::badbit);
      terminal.port->feed({'c', 'd'});
    }
    if (reads > 2) terminal.port->read_script.push_back(-1);
  };
  const mrl::Result result = mrl::RunTerminal(terminal.state, terminal.keyboard.fd());
  EXPECT_FALSE(result.failed()) << result.msg();
  EXPECT_EQ(reads, 2u);
  EXPECT_EQ(terminal.console.out(), StartLine() + "ab");
  EXPECT_EQ(terminal.console.err(), "");
}

// The pattern of an expected text of letters and line feeds, in which each '@'
// stands for one stamp.
std::regex StampedPattern(const std::string& expected) {
  std::string pattern;
  for (char c : expected) pattern += c == '@' ? R"(\[ +\d+\.\d{3} \] )" : std::string(1, c);
  return std::regex(pattern);
}

TEST(StampedTerminalOutput, StampsEveryLineWhereItStarts) {
  const struct {
    const char* name;
    std::vector<Chunk> chunks;
    std::string shown;  // '@': a stamp
  } kCases[] = {
      {"the first character is stamped", {{"ab"}}, "@ab"},
      {"a line feed followed by more in the chunk", {{"one\ntwo"}}, "@one\n@two"},
      {"no stamp after a line feed that ends the chunk", {{"one\n"}}, "@one\n"},
      {"the next chunk starts a line", {{"one\n"}, {"t"}}, "@one\n@t"},
      {"a chunk continues the line of the one before", {{"on"}, {"e\nt"}}, "@one\n@t"},
      {"a line feed first at line start", {{"\nx"}}, "@\n@x"},
      {"a line feed first within a line", {{"a"}, {"\nb"}}, "@a\n@b"},
      {"a zero byte after a line feed", {{"a\n\0b"s}, {"c"}}, "@a\n@bc"},
      {"a zero byte that starts a chunk", {{"a\n"}, {"\0b"s}}, "@a\n@b"},
      {"a chunk of zero bytes keeps the line state", {{"a"}, {"\0\0"s}, {"b"}}, "@ab"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedTerminal terminal;
    terminal.BoardSends(c.chunks);
    const std::string shown = terminal.Run(mrl::RunStampedTerminal);
    EXPECT_TRUE(std::regex_match(shown, StampedPattern(c.shown))) << shown;
  }
}

TEST(StampedTerminalOutput, StampsALineWhenItsFirstCharacterArrives) {
  ScriptedTerminal terminal;
  terminal.BoardSends({{"a\n"}, {"b", 300ms}});
  const std::string shown = terminal.Run(mrl::RunStampedTerminal);
  const std::regex stamp(R"(\[ ( *\d+\.\d{3}) \] )");
  std::vector<std::string> numbers;
  for (auto it = std::sregex_iterator(shown.begin(), shown.end(), stamp);
       it != std::sregex_iterator(); ++it) {
    numbers.push_back((*it)[1]);
  }
  ASSERT_EQ(numbers.size(), 2u) << shown;
  for (const std::string& number : numbers) EXPECT_EQ(number.size(), 8u) << '"' << number << '"';
  const double gap = std::stod(numbers[1]) - std::stod(numbers[0]);
  EXPECT_GT(gap, 0.2) << shown;
  EXPECT_LT(gap, 2.0) << shown;
  // Fixed notation with 3 decimals stays set on the console's stream.
  std::ostream& out = terminal.console.console().out;
  EXPECT_EQ(out.flags() & std::ios::floatfield, std::ios::fixed);
  EXPECT_EQ(out.precision(), 3);
}

TEST(TerminalInput, SendsEachTypedByteInAWriteOfItsOwnUntilAWriteFails) {
  const struct {
    const char* name;
    std::string typed;
    std::deque<int> write_results;  // one per write call
    std::string sent;
    std::size_t writes;
    std::string left_unread;
  } kCases[] = {
      {"0xFF is never sent", "ab\377cde", {1, 1, 1, -1}, "abc", 4, "e"},
      {"a driver without room is waited on", "abcd", {1, 0, 0, 1, -1}, "ab", 5, "d"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedTerminal terminal;
    terminal.port->write_script = c.write_results;
    terminal.keyboard.Type(c.typed);
    EXPECT_EQ(terminal.Run(mrl::RunTerminal, qmx::GenericPort::Error::kWriteFailed), "");
    const std::vector<std::uint8_t>& written = terminal.port->written;
    EXPECT_EQ(std::string(written.begin(), written.end()), c.sent);
    EXPECT_EQ(terminal.port->write_lengths, std::vector<unsigned>(c.writes, 1u));
    EXPECT_EQ(terminal.keyboard.TakeUnread(), c.left_unread);
  }
}

TEST(TerminalInput, EndsBeforeTheTerminalReturns) {
  ScriptedTerminal terminal;
  terminal.port->read_script = {-1};
  EXPECT_EQ(terminal.Run(mrl::RunTerminal), "");

  terminal.keyboard.Type("x");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(terminal.keyboard.TakeUnread(), "x");
  EXPECT_TRUE(terminal.port->written.empty());
}

TEST(TerminalInput, AtItsEndLeavesTheBoardOutputShown) {
  ScriptedTerminal terminal;
  terminal.keyboard.EndInput();
  terminal.BoardSends({{"early "}, {"late", 200ms}});
  EXPECT_EQ(terminal.Run(mrl::RunTerminal), "early late");
}

// The product's serial port on a pseudo-terminal's slave side, whose reads fail
// like those of a port that has gone away once it has delivered budget bytes
// or once the test ends it.
class EndingSerialPort : public qmx::SerialPort {
 public:
  EndingSerialPort(const std::string& device, std::size_t budget)
      : SerialPort(device.c_str()), budget_(budget) {}
  // Makes the next reads fail; any thread.
  void End() { ended_ = true; }
  // True once a read failed because of End or the budget; any thread.
  bool failed_a_read() const { return failed_a_read_; }

  int read_some(std::uint8_t* buf, unsigned len) override {
    if (ended_ || delivered_ >= budget_) {
      failed_a_read_ = true;
      return -1;
    }
    const auto count = SerialPort::read_some(
        buf, static_cast<unsigned>(std::min<std::size_t>(len, budget_ - delivered_)));
    delivered_ += static_cast<std::size_t>(count);
    return count;
  }

 private:
  std::atomic<bool> ended_{false};
  std::atomic<bool> failed_a_read_{false};
  std::size_t budget_;
  std::size_t delivered_ = 0;
};

// A terminal over the product's serial port, with a pseudo-terminal as the
// board, running on a thread of its own.
struct BoardTerminal {
  explicit BoardTerminal(std::size_t budget = SIZE_MAX) {
    auto serial = std::make_unique<EndingSerialPort>(board.slave_name(), budget);
    qmx::SetUpBoardLine(*serial, 115200);
    port = serial.get();
    state.port = std::move(serial);
  }
  ~BoardTerminal() {
    if (!run.valid()) return;
    port->End();
    run.wait();
  }

  void Start() {
    run = std::async(std::launch::async, [this] { return mrl::RunTerminal(state, keyboard.fd()); });
  }
  // The terminal's own result once it has returned; ends it when it does not.
  mrl::Result Ended() {
    if (run.wait_for(5s) != std::future_status::ready) {
      ADD_FAILURE() << "the terminal did not return";
      port->End();
    }
    return run.get();
  }
  // True when the terminal returned through the read failure by which the
  // port ends it for the test (End, the budget), and through nothing else.
  bool EndedByTheTest() {
    const mrl::Result result = Ended();
    return static_cast<int>(result) == static_cast<int>(qmx::GenericPort::Error::kReadFailed) &&
           port->failed_a_read();
  }
  // Collects what the board receives until it has want bytes or time is up.
  std::string BoardReceives(std::size_t want) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (received.size() < want && std::chrono::steady_clock::now() < deadline) {
      const auto input = board.Read(100ms);
      received.append(input.data.begin(), input.data.end());
    }
    return received;
  }

  PseudoTerminal board;
  ConsoleCapture console;
  mrl::RunState state{console.console()};
  EndingSerialPort* port = nullptr;
  Keyboard keyboard;
  std::future<mrl::Result> run;
};

TEST(TerminalOverSerialPort, CarriesTypedBytesToTheBoardAndTheBoardsOutputToTheConsole) {
  const std::string kBoardSays = "hello\n";
  BoardTerminal terminal(kBoardSays.size());
  terminal.Start();
  terminal.keyboard.Type("ok\377!");
  EXPECT_EQ(terminal.BoardReceives(3), "ok!");

  const auto* bytes = reinterpret_cast<const std::uint8_t*>(kBoardSays.data());
  ASSERT_EQ(terminal.board.Write(bytes, kBoardSays.size(), 1s), kBoardSays.size());
  EXPECT_TRUE(terminal.EndedByTheTest());
  EXPECT_EQ(terminal.console.out(), StartLine() + kBoardSays);
}

TEST(TerminalOverSerialPort, IdlesWithoutUsingTheProcessor) {
  const struct {
    const char* name;
    bool input_ended;
  } kCases[] = {{"input open and silent", false}, {"input at its end", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    BoardTerminal terminal;
    if (c.input_ended) terminal.keyboard.EndInput();
    terminal.Start();
    std::this_thread::sleep_for(100ms);  // the terminal has started

    const mrl_test::CostMeter meter(mrl_test::ThisProcessUse);
    std::this_thread::sleep_for(1s);
    const mrl_test::Cost cost = meter.cost();
    RecordProperty(c.input_ended ? "idle_cost_input_ended" : "idle_cost_input_open",
                   ::testing::PrintToString(cost));
    // Its two threads look at the running flag every 10 ms: about 200 sleeps a
    // second, where a poll of a millisecond would make a thousand.
    EXPECT_TRUE(mrl_test::CostsLikeWaiting(cost, 1, 400));

    terminal.port->End();
    EXPECT_TRUE(terminal.EndedByTheTest());
  }
}

// A board that goes away ends the terminal by itself, with the port's text
// for the hang-up on the error stream, while the user types nothing.
TEST(TerminalOverSerialPort, EndsWhenTheBoardHangsUp) {
  BoardTerminal terminal;
  terminal.Start();
  terminal.board.HangUp();

  const mrl::Result result = terminal.Ended();
  EXPECT_EQ(static_cast<int>(result), static_cast<int>(qmx::GenericPort::Error::kReadFailed));
  EXPECT_FALSE(terminal.port->failed_a_read()) << "the test's own failure ended it";
  EXPECT_EQ(terminal.console.err(), "Error 5: " + std::string(std::strerror(EIO)) + "\n");
  EXPECT_EQ(terminal.console.out(), StartLine());
}

// A port failure ends the terminal with its error, after one line of the
// port's own text for it (none when the port has no text).
TEST(TerminalOutput, EndsOnAPortFailureWithThePortsText) {
  const struct {
    const char* name;
    bool write_fails;  // a typed byte cannot be written; else a read fails
    std::string port_text;
    const qmx::GenericPort::Error& ending;
    std::string err;
  } kCases[] = {
      {"a read fails", false, "Error: device gone", qmx::GenericPort::Error::kReadFailed,
       "Error: device gone\n"},
      {"a read fails without a text", false, "", qmx::GenericPort::Error::kReadFailed, ""},
      {"a typed byte is not written", true, "Error 5: Input/output error",
       qmx::GenericPort::Error::kWriteFailed, "Error 5: Input/output error\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedTerminal terminal;
    terminal.port->last_error = c.port_text;
    if (c.write_fails) {
      terminal.port->write_script = {-1};
      terminal.keyboard.Type("x");
    } else {
      terminal.BoardSends({{"ab"}});
    }
    EXPECT_EQ(terminal.Run(mrl::RunStampedTerminal, c.ending).empty(), c.write_fails);
    EXPECT_EQ(terminal.console.err(), c.err);
  }
}

}  // namespace
