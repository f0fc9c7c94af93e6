#pragma once
// A simulated Quarn2 board behind a pseudo-terminal: the program under test
// opens device() with its own serial port, unchanged. The board plays the
// Ruvo boot monitor and, once downloaded, the loader image, the RF loader (with
// an RF target behind it) and the Belto LS passthrough (with a GX2 board behind
// it, played by this same board and memory). It recognises those programs by
// their bytes.
//
// It sees a reset the way a real board sees the port's reset sequence: a
// pseudo-terminal carries no RTS or DTR, but every flush of the slave side is
// reported to the master, and a reset flushes twice at once and a third time
// 200 ms later (then waits 100 ms). The board reads those reports by these rules:
// - Flush timing counts within one opening of the line only. The board does not
//   hold the slave side open itself, so it sees the line close when the last
//   program that had it open closes it; the next opening starts afresh, and no
//   flush of one run of the program is ever measured against one of another.
//   A test that runs programs one after another waits between them with
//   AwaitClosedLine, so that a board thread kept waiting cannot miss a closing.
// - Bytes from the host end the timing too, as a reset sends none: the first
//   flush of an opening (the program sets the line up) and the first after
//   bytes from the host end nothing.
// - A flush report that may have come 150 ms to 1 s after the previous one,
//   with nothing between them, resets the board, whose boot monitor starts
//   once no flush has come for 50 ms; the flush after that starts afresh
//   again. The board knows when a report came only to within the time between
//   two of its looks at the line, and takes the widest reading: a board
//   thread kept waiting may see a reset early, never miss one. So a slow step
//   between setting the line up and a reset resets the board early, once, and
//   the reset's own last flush then is a lone flush.
// - Any other flush is no reset; while the board waits for the answer to a
//   prompt (START of the boot monitor or the loader, the passthrough's
//   prompts), such a flush makes it send the prompt again, since the flush
//   discarded it. A flush made before the prompt went out discarded nothing of
//   it, even when the board takes it in only afterwards.
// A host that keeps the line open between tests of its own should flush less
// than 150 ms or more than 1 s after its previous flush, unless it resets.
//
// Tests read what the board saw with record() or wait for it with WaitUntil;
// the board runs on its own thread from construction to destruction. The
// constructor returns once the board has sent what it sends unasked (the
// prompt of the program it starts in) and listens, so a host that opens the
// line afterwards finds that prompt there and flushes it away.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "file/HWID.h"
#include "support/PseudoTerminal.h"

namespace mrl_test {

// What the board does wrong on purpose; everything off by default.
struct BoardFaults {
  bool silent = false;                    // sends nothing at all
  std::vector<std::uint8_t> stray_bytes;  // sent before every prompt the host waits for
  // Boot monitor.
  int held_download_byte = -1;  // a download's byte at which the board stops taking in more
                                // until Release()
  bool wrong_checksum = false;  // reports a checksum one higher than the real one
  int refused_chunk = -1;       // slow speed: the last byte of this 512-byte chunk is answered with
                                // NACK the first time it arrives
  // Loader image.
  bool nack_commands = false;  // answers every command byte with 0x24
  int nacked_command = -1;     // answers this one command byte with 0x24
  int nacked_after = -1;       // answers every command with 0x24 once it has
                               // accepted this many
  int held_after = -1;         // once it has accepted this many commands, the loader waits as
                               // HoldLoader(true) makes it, until HoldLoader(false)
  bool held_transfer = false;  // the loader waits, as HoldLoader(true) makes it, once the first
                               // data byte of its first transfer arrived, until HoldLoader(false)
  bool unacknowledged_commands = false;  // answers every command byte with 0x00
  bool wrong_echo = false;               // echoes every data item with its bytes swapped
  bool wrong_crc = false;                // reports every CRC one higher than the real one
  int refused_transfer_chunk = -1;       // answers this chunk of a transfer with A5 5A
  bool small_eeprom = false;             // a 256-kbit (32 KiB) EEPROM
  bool missing_notice = false;           // the information block lacks the boot monitor notice
  // RF loader.
  unsigned rf_empty_polls = 0;  // HWID polls answered with zeros before the target answers
  unsigned rf_busy_polls = 1;   // status polls of each section answered busy before done
};

// What runs on the board.
enum class Program { kBootMonitor, kLoader, kRfLoader, kPassthrough, kUserProgram, kHalted };

struct BoardConfig {
  BoardFaults faults;
  HWID::Raw hwid{};  // in the EEPROM at byte 110; all zero: the board has none
  HWID::Raw rf_target_hwid{0x1234, 0, 0, 0};
  Program initial_program = Program::kBootMonitor;
  // The programs the board recognises once downloaded; by default the embedded images.
  std::vector<std::vector<std::uint8_t>> loader_images;
  std::vector<std::uint8_t> rf_loader;
  std::vector<std::uint8_t> passthrough;
  BoardConfig();
};

// One download through the boot monitor.
struct BootDownload {
  enum class Answer { kAck, kNack, kLost };  // kLost: the host flushed it away
  bool slow = false;                         // base address 0xC000 (else 0xC001)
  std::vector<std::uint8_t> image;
  Answer answer = Answer::kLost;
  unsigned refused_chunks = 0;
};

// A command the loader image accepted, with its data items.
struct LoaderCommand {
  std::uint8_t command = 0;
  std::vector<std::uint16_t> items;
};

struct MemoryWrite {
  bool flash = false;
  std::uint32_t offset = 0;
  std::vector<std::uint8_t> bytes;
};

struct BoardRecord {
  Program running = Program::kBootMonitor;
  unsigned resets = 0;
  std::vector<BootDownload> downloads;
  std::vector<LoaderCommand> commands;
  std::vector<MemoryWrite> writes;
  unsigned erases = 0;
  bool flash_mode = false;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> passthrough_commands;  // kind, argument
  bool passthrough_active = false;
  std::uint16_t is2023_offset = 0;
  std::vector<std::uint8_t> is2023_image;
  std::vector<std::uint8_t> rf_image;
  unsigned rf_bad_check_bytes = 0;
  unsigned rf_hwid_polls = 0;
  unsigned rf_status_polls = 0;
  std::vector<std::uint8_t> received;  // what the host sent to the running user program
  bool hung_up = false;                // the board has gone away (HangUp)
  bool held = false;                   // the board has stopped at held_download_byte
  bool loader_held = false;            // the loader waits for HoldLoader(false)
  unsigned long closed_line_look = 0;  // the last look at the line that found it closed
};

class SimulatedBoard {
 public:
  explicit SimulatedBoard(BoardConfig config = {});
  ~SimulatedBoard();
  SimulatedBoard(const SimulatedBoard&) = delete;
  SimulatedBoard& operator=(const SimulatedBoard&) = delete;

  // The name the program under test opens as its serial port.
  const std::string& device() const { return pty_.slave_name(); }

  BoardRecord record() const;
  // Waits until done(record) holds; false when timeout passed first.
  bool WaitUntil(const std::function<bool(const BoardRecord&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const;
  std::vector<std::uint8_t> eeprom() const;
  std::vector<std::uint8_t> flash(std::uint32_t offset, unsigned len) const;  // erased: 0xFF
  // The running user program sends bytes to the host, as a program's console
  // output does; a board that runs no user program sends them once one runs.
  void SendToHost(std::vector<std::uint8_t> bytes);
  // While held, the loader image waits before it prompts for its next command
  // (record().loader_held says when it does), so a test can act at that point
  // of a run whose host waits without a deadline; releasing lets it go on.
  void HoldLoader(bool held);
  // The board goes away, as an unplugged USB serial adapter does: the line
  // hangs up and stays so. Returns once it has (false: not within timeout).
  bool HangUp(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // A board held at held_download_byte goes on, and is never held again.
  void Release();
  // The board is reset by hand, as by its reset button: whatever it runs, it
  // starts its boot monitor again. Behind the Belto LS passthrough this is the
  // GX2 board, and the passthrough stays active. Returns at once; the board
  // takes the reset at its next look at the line.
  void ResetByHand();
  // Returns once the board has found its line closed in a look begun after
  // this call (or has gone away). Called once the last program that had the
  // line open has closed it, it makes sure the board ended that opening, and
  // its flush timing, before a later program opens the line, however long the
  // board thread was kept waiting. False when timeout passed first.
  bool AwaitClosedLine(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

 private:
  struct Reset {  // thrown on the board thread when the host, or a hand, resets it
    bool by_hand = false;
  };
  struct Stop {};  // thrown on the board thread when the board is destroyed

  void Run();
  Program Execute(Program program);
  // Host link, board thread only.
  // Waits at most timeout for the host and takes in what it sent or did.
  void Pump(std::chrono::milliseconds timeout);
  // Reads the line at most timeout, noting in seen_ when what it delivered came.
  PseudoTerminal::Input Look(std::chrono::milliseconds timeout);
  // Keeps the host's bytes for Receive; a flush resets the board or marks
  // whatever was sent before it as discarded.
  void TakeIn(const PseudoTerminal::Input& input);
  std::uint8_t Receive();
  std::optional<std::uint8_t> ReceiveUnlessFlushed();
  std::vector<std::uint8_t> Receive(unsigned len);
  std::uint16_t ReceiveItem();
  void Send(std::vector<std::uint8_t> bytes);
  void SendPrompt(std::uint8_t prompt);
  // Sends prompt, then takes host bytes until one equals expected (any byte
  // when not given) and returns it; a lone flush makes it send prompt again.
  std::uint8_t AwaitAnswer(std::uint8_t prompt, std::optional<std::uint8_t> expected);
  void Settle();
  // Waits while holding (under mutex_) holds, with shown set in the record
  // meanwhile: a test holds the board at a point of its programs this way.
  void PauseWhile(const bool& holding, bool BoardRecord::*shown);
  // The programs, board thread only; each returns the program that runs next.
  Program BootMonitor();
  Program Loader();
  Program RfLoader();
  Program Passthrough();
  Program Idle();
  // Takes len bytes in acknowledged chunks; empty when a chunk was refused.
  std::optional<std::vector<std::uint8_t>> ReceiveTransfer(unsigned len, unsigned first_chunk,
                                                           unsigned max_chunk);
  void Store(bool flash, std::uint32_t offset, const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint8_t> Load(bool flash, std::uint32_t offset, unsigned len) const;
  void SendCrc(const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint8_t> InformationBlock() const;
  std::vector<std::uint8_t> EepromHwid() const;
  Program Recognise(const std::vector<std::uint8_t>& image) const;

  template <typename Change>
  void Update(Change change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change(record_);
    }
    changed_.notify_all();
  }

  const BoardConfig config_;
  PseudoTerminal pty_;
  // Shared with the test's thread, under mutex_.
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  BoardRecord record_;
  std::vector<std::uint8_t> eeprom_;
  std::map<std::uint32_t, std::uint8_t> flash_;
  std::vector<std::uint8_t> to_host_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hang_up_{false};
  std::atomic<bool> reset_by_hand_{false};
  bool hold_download_ = true;   // under mutex_; until Release()
  bool hold_loader_ = false;    // under mutex_
  bool transfer_held_ = false;  // whether held_transfer held a transfer; board thread only
  // Board thread only.
  std::vector<std::uint8_t> pending_;
  std::size_t pending_at_ = 0;
  bool flushed_ = false;
  bool listening_ = false;  // written on the board thread only, under mutex_
  bool line_closed_ = false;
  // When what the last look delivered came: after the look before began, and
  // before the last one ended. A report waiting when a look begins comes with
  // that look, so a board thread that is slow to look widens the window.
  struct Seen {
    std::chrono::steady_clock::time_point earliest;
    std::chrono::steady_clock::time_point latest;
  };
  Seen seen_{};
  std::chrono::steady_clock::time_point previous_look_{};
  std::atomic<unsigned long> looks_begun_{0};
  unsigned long look_ = 0;  // the number of the latest look, board thread only
  // The previous flush report of this opening, with no reset and no host byte since.
  std::optional<Seen> last_flush_;
  std::thread thread_;
};

}  // namespace mrl_test
