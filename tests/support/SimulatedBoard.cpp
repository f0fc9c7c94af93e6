#include "support/SimulatedBoard.h"

#include <algorithm>
#include <numeric>

#include "link/LoaderCrc.h"
#include "link/XipImageLoader.h"

namespace mrl_test {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The port's reset sequence flushes twice at once and a third time 200 ms
// later: a flush report that follows the previous one of the same opening by
// this much is the last flush of a reset. Flushes closer together (setting the
// line up, then a reset) or further apart (a lone flush long after a reset) are not.
constexpr milliseconds kResetGapMin{150};
constexpr milliseconds kResetGapMax{1000};
// The boot monitor starts once no flush has come for this long.
constexpr milliseconds kResetSettle{50};
constexpr milliseconds kPoll{5};

constexpr std::uint8_t kBootStart = 0x81;
constexpr std::uint8_t kBootAck = 0x5A;
constexpr std::uint8_t kBootNack = 0x42;
constexpr unsigned kBootChunk = 512;
constexpr std::uint8_t kLoaderStart = 0x18;
constexpr std::uint8_t kLoaderAck = 0xA5;
constexpr std::uint8_t kLoaderNack = 0x24;
constexpr unsigned kLoaderChunk = 1024;
constexpr std::uint8_t kRfAnswer = 0x06;
constexpr std::uint8_t kPassthroughStart = 0x82;
constexpr std::uint8_t kPassthroughPrompt = 0x5B;
constexpr unsigned kHwidAt = 110;

}  // namespace

BoardConfig::BoardConfig()
    : loader_images{xip_loader_hexes.at(ImgProtocol::CrystalFrequency::k12_288MHz),
                    xip_loader_hexes.at(ImgProtocol::CrystalFrequency::k24_576MHz)},
      rf_loader(rf_loader_hex),
      passthrough(belto_ls_gx2_passthrough_hex) {}

SimulatedBoard::SimulatedBoard(BoardConfig config)
    : config_(std::move(config)), eeprom_(config_.faults.small_eeprom ? 32768 : 65536, 0) {
  for (unsigned i = 0; i < config_.hwid.size(); ++i) {
    eeprom_[kHwidAt + 2 * i] = static_cast<std::uint8_t>(config_.hwid[i] >> 8);
    eeprom_[kHwidAt + 2 * i + 1] = static_cast<std::uint8_t>(config_.hwid[i]);
  }
  record_.running = config_.initial_program;
  thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return listening_; });
}

SimulatedBoard::~SimulatedBoard() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void SimulatedBoard::HoldLoader(bool held) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_loader_ = held;
  }
  changed_.notify_all();
}

void SimulatedBoard::PauseWhile(const bool& holding, bool BoardRecord::*shown) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!holding) return;
  record_.*shown = true;
  changed_.notify_all();
  changed_.wait(lock, [&] { return !holding || stop_; });
  record_.*shown = false;
  if (stop_) throw Stop{};
}

BoardRecord SimulatedBoard::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

bool SimulatedBoard::WaitUntil(const std::function<bool(const BoardRecord&)>& done,
                               milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(record_); });
}

std::vector<std::uint8_t> SimulatedBoard::eeprom() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return eeprom_;
}

std::vector<std::uint8_t> SimulatedBoard::flash(std::uint32_t offset, unsigned len) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Load(true, offset, len);
}

void SimulatedBoard::SendToHost(std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  to_host_.insert(to_host_.end(), bytes.begin(), bytes.end());
}

bool SimulatedBoard::HangUp(milliseconds timeout) {
  hang_up_ = true;
  return WaitUntil([](const BoardRecord& r) { return r.hung_up; }, timeout);
}

void SimulatedBoard::Release() {
  Update([this](BoardRecord&) { hold_download_ = false; });
}

void SimulatedBoard::ResetByHand() {
  reset_by_hand_ = true;
}

void SimulatedBoard::Run() {
  Program program = config_.initial_program;
  for (;;) {
    try {
      Update([&](BoardRecord& r) { r.running = program; });
      program = Execute(program);
    } catch (const Reset& reset) {
      try {
        Settle();
      } catch (const Stop&) {
        return;
      }
      Update([&](BoardRecord& r) {
        ++r.resets;
        if (!reset.by_hand) r.passthrough_active = false;
        r.flash_mode = false;
      });
      program = Program::kBootMonitor;
    } catch (const Stop&) {
      return;
    }
  }
}

Program SimulatedBoard::Execute(Program program) {
  switch (program) {
    case Program::kBootMonitor:
      return BootMonitor();
    case Program::kLoader:
      return Loader();
    case Program::kRfLoader:
      return RfLoader();
    case Program::kPassthrough:
      return Passthrough();
    case Program::kUserProgram:
    case Program::kHalted:
      break;
  }
  return Idle();
}

// ---- Host link -------------------------------------------------------------

void SimulatedBoard::Pump(milliseconds timeout) {
  if (stop_) throw Stop{};
  if (!listening_) {
    std::lock_guard<std::mutex> lock(mutex_);
    listening_ = true;
    changed_.notify_all();
  }
  if (hang_up_ && !line_closed_) {
    pty_.HangUp();
    line_closed_ = true;
    Update([](BoardRecord& r) { r.hung_up = true; });
  }
  if (reset_by_hand_.exchange(false)) throw Reset{true};
  TakeIn(Look(timeout));
}

bool SimulatedBoard::AwaitClosedLine(milliseconds timeout) {
  const unsigned long begun = looks_begun_;
  return WaitUntil(
      [begun](const BoardRecord& r) { return r.hung_up || r.closed_line_look > begun; }, timeout);
}

PseudoTerminal::Input SimulatedBoard::Look(milliseconds timeout) {
  look_ = ++looks_begun_;
  const auto start = steady_clock::now();
  PseudoTerminal::Input input = pty_.Read(timeout);
  seen_ = {previous_look_, steady_clock::now()};
  previous_look_ = start;
  return input;
}

void SimulatedBoard::TakeIn(const PseudoTerminal::Input& input) {
  if (input.closed) {
    last_flush_.reset();
    Update([this](BoardRecord& r) { r.closed_line_look = look_; });
    return;
  }
  if (input.flushed) {
    // Measured from when the board saw them, the flushes may lie further
    // apart than they came, or closer: a reset gap is one that may lie within.
    const bool reset = last_flush_ && seen_.latest - last_flush_->earliest >= kResetGapMin &&
                       seen_.earliest - last_flush_->latest <= kResetGapMax;
    last_flush_ = seen_;
    if (reset) throw Reset{};
    flushed_ = true;
    return;
  }
  if (!input.data.empty()) last_flush_.reset();
  pending_.insert(pending_.end(), input.data.begin(), input.data.end());
}

void SimulatedBoard::Settle() {
  auto last = steady_clock::now();
  while (steady_clock::now() - last < kResetSettle) {
    if (stop_) throw Stop{};
    if (Look(kPoll).flushed) last = steady_clock::now();
  }
  // A flush after the reset has settled starts afresh: the host's flush right
  // after a download must not count as a second reset.
  last_flush_.reset();
  pending_.clear();
  pending_at_ = 0;
  flushed_ = false;
}

std::uint8_t SimulatedBoard::Receive() {
  while (pending_at_ == pending_.size()) {
    pending_.clear();
    pending_at_ = 0;
    Pump(kPoll);
  }
  return pending_[pending_at_++];
}

std::optional<std::uint8_t> SimulatedBoard::ReceiveUnlessFlushed() {
  for (;;) {
    if (pending_at_ != pending_.size()) return pending_[pending_at_++];
    if (flushed_) {
      flushed_ = false;
      return std::nullopt;
    }
    Pump(kPoll);
  }
}

Bytes SimulatedBoard::Receive(unsigned len) {
  Bytes bytes(len);
  for (std::uint8_t& b : bytes) b = Receive();
  return bytes;
}

std::uint16_t SimulatedBoard::ReceiveItem() {
  const std::uint8_t high = Receive();
  const std::uint8_t low = Receive();
  Send(config_.faults.wrong_echo ? Bytes{low, high} : Bytes{high, low});
  return static_cast<std::uint16_t>(high << 8 | low);
}

void SimulatedBoard::Send(Bytes bytes) {
  if (config_.faults.silent) return;
  // A host that stopped reading must not keep the board from stopping.
  for (std::size_t sent = 0; sent < bytes.size();) {
    if (stop_) throw Stop{};
    sent += pty_.Write(bytes.data() + sent, bytes.size() - sent, kPoll);
  }
}

void SimulatedBoard::SendPrompt(std::uint8_t prompt) {
  // A flush the host made before the prompt goes out cannot discard it, even
  // when its report is still unread: take in what has come so far first.
  TakeIn(Look(milliseconds(0)));
  flushed_ = false;
  Bytes bytes = config_.faults.stray_bytes;
  bytes.push_back(prompt);
  Send(bytes);
}

std::uint8_t SimulatedBoard::AwaitAnswer(std::uint8_t prompt,
                                         std::optional<std::uint8_t> expected) {
  SendPrompt(prompt);
  for (;;) {
    const std::optional<std::uint8_t> answer = ReceiveUnlessFlushed();
    if (!answer) {
      SendPrompt(prompt);
    } else if (!expected || *answer == *expected) {
      return *answer;
    }
  }
}

// ---- Boot monitor ----------------------------------------------------------

Program SimulatedBoard::BootMonitor() {
  AwaitAnswer(kBootStart, kBootStart);
  std::uint8_t header[4];
  for (std::uint8_t& b : header) {
    SendPrompt(kBootAck);
    b = Receive();
  }
  BootDownload download;
  download.slow = header[0] == 0x00;
  const unsigned words = header[2] | header[3] << 8;
  const unsigned len = 2 * words;
  if (download.slow) SendPrompt(kBootAck);
  bool refused_once = false;
  while (download.image.size() < len) {
    if (static_cast<int>(download.image.size()) == config_.faults.held_download_byte) {
      PauseWhile(hold_download_, &BoardRecord::held);
    }
    const std::uint8_t b = Receive();
    if (download.slow) {
      const unsigned at = static_cast<unsigned>(download.image.size());
      const int chunk = static_cast<int>(at / kBootChunk);
      const bool last_of_chunk = (at + 1) % kBootChunk == 0 || at + 1 == len;
      if (!refused_once && chunk == config_.faults.refused_chunk && last_of_chunk) {
        refused_once = true;
        ++download.refused_chunks;
        Send({kBootNack});
        download.image.resize(chunk * kBootChunk);  // the host sends the chunk again
        continue;
      }
      Send({kBootAck});
    }
    download.image.push_back(b);
  }

  SendPrompt(kBootAck);
  while (Receive() != kBootAck) {
  }
  unsigned sum = words + 0xD911;
  for (unsigned i = 0; i < words; ++i)
    sum += download.image[2 * i] | download.image[2 * i + 1] << 8;
  if (config_.faults.wrong_checksum) ++sum;
  Send({static_cast<std::uint8_t>(sum)});
  Receive();
  Send({static_cast<std::uint8_t>(sum >> 8)});
  const std::optional<std::uint8_t> answer = ReceiveUnlessFlushed();
  download.answer = !answer               ? BootDownload::Answer::kLost
                    : *answer == kBootAck ? BootDownload::Answer::kAck
                                          : BootDownload::Answer::kNack;
  // An answer lost to the host's flush was the ACK of a checksum that matched.
  const bool accepted =
      download.answer == BootDownload::Answer::kAck ||
      (download.answer == BootDownload::Answer::kLost && !config_.faults.wrong_checksum);
  const Program next = accepted ? Recognise(download.image) : Program::kHalted;
  Update([&](BoardRecord& r) {
    r.downloads.push_back(download);
    r.running = next;
  });
  if (next == Program::kUserProgram) SendPrompt(kBootStart);  // the EEPROM has been written
  return next;
}

Program SimulatedBoard::Recognise(const Bytes& image) const {
  for (const Bytes& loader : config_.loader_images) {
    if (image == loader) return Program::kLoader;
  }
  if (image == config_.rf_loader) return Program::kRfLoader;
  if (image == config_.passthrough) return Program::kPassthrough;
  return Program::kUserProgram;
}

// A user program: sends what the test gave it and keeps what the host sends.
Program SimulatedBoard::Idle() {
  for (;;) {
    Bytes output;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      output.swap(to_host_);
    }
    Send(output);
    Pump(kPoll);
    if (pending_at_ == pending_.size()) continue;
    Update([&](BoardRecord& r) {
      r.received.insert(r.received.end(), pending_.begin() + pending_at_, pending_.end());
    });
    pending_.clear();
    pending_at_ = 0;
  }
}

// ---- Loader image ----------------------------------------------------------

Program SimulatedBoard::Loader() {
  bool held_after = false;
  for (;;) {
    if (!held_after && config_.faults.held_after >= 0 &&
        record().commands.size() == static_cast<std::size_t>(config_.faults.held_after)) {
      held_after = true;
      HoldLoader(true);
    }
    PauseWhile(hold_loader_, &BoardRecord::loader_held);
    const std::uint8_t command = AwaitAnswer(kLoaderStart, std::nullopt);
    const bool nacked_now =
        config_.faults.nacked_after >= 0 &&
        record().commands.size() >= static_cast<std::size_t>(config_.faults.nacked_after);
    if (config_.faults.nack_commands || command == config_.faults.nacked_command || command > 9 ||
        nacked_now) {
      Send({kLoaderNack});
      continue;
    }
    if (config_.faults.unacknowledged_commands) {
      Send({0x00});
      continue;
    }
    // The record shows a command, and what it did at once, by the time the host sees its ACK.
    Update([&](BoardRecord& r) {
      r.commands.push_back({command, {}});
      if (command == 5) {
        flash_.clear();
        ++r.erases;
      }
      if (command == 6) r.flash_mode = true;
      if (command == 9) ++r.resets;
    });
    Send({kLoaderAck});
    const auto item = [&] {
      const std::uint16_t value = ReceiveItem();
      Update([&](BoardRecord& r) { r.commands.back().items.push_back(value); });
      return value;
    };
    const bool flash_mode = record().flash_mode;
    switch (command) {
      case 0:
        Send(InformationBlock());
        break;
      case 8:
        Send(EepromHwid());
        break;
      case 1:
      case 7: {
        const unsigned len = 2u * item();
        std::uint32_t offset = item();
        if (command == 7) offset = offset << 16 | item();
        const unsigned to_boundary = (64 - offset % 64) % 64;
        const unsigned first = std::min(len, to_boundary != 0 ? to_boundary : kLoaderChunk);
        if (std::optional<Bytes> data = ReceiveTransfer(len, first, kLoaderChunk)) {
          Store(flash_mode, offset, *data);
          SendCrc(*data);
        }
        break;
      }
      case 2: {
        const unsigned len = 2u * item();
        const std::uint16_t offset = item();
        Bytes data;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          data = Load(flash_mode, offset, len);
        }
        Send(data);
        SendCrc(data);
        break;
      }
      case 3:
        Send({static_cast<std::uint8_t>(config_.faults.small_eeprom ? 0x00 : kLoaderAck)});
        break;
      case 4: {
        const std::uint16_t offset = item();
        const unsigned len = item();
        const unsigned packet = item();
        if (std::optional<Bytes> data =
                ReceiveTransfer(len, std::min(len, packet), std::max(packet, 1u))) {
          Update([&](BoardRecord& r) {
            r.is2023_offset = offset;
            r.is2023_image = *data;
          });
          Bytes expanded;
          for (std::uint8_t b : *data) expanded.insert(expanded.end(), {0x00, b});
          SendCrc(expanded);
        }
        break;
      }
      case 9:
        return Program::kBootMonitor;
    }
  }
}

std::optional<Bytes> SimulatedBoard::ReceiveTransfer(unsigned len, unsigned first_chunk,
                                                     unsigned max_chunk) {
  Bytes data;
  unsigned chunk = first_chunk;
  for (int index = 0; data.size() < len; ++index) {
    if (config_.faults.held_transfer && !transfer_held_) {
      // The host has passed the point where its data starts to go out.
      data = Receive(1);
      --chunk;
      transfer_held_ = true;
      HoldLoader(true);
      PauseWhile(hold_loader_, &BoardRecord::loader_held);
    }
    const Bytes part = Receive(chunk);
    data.insert(data.end(), part.begin(), part.end());
    if (index == config_.faults.refused_transfer_chunk) {
      Send({kLoaderAck, 0x5A});
      return std::nullopt;
    }
    Send({kLoaderAck, kLoaderAck});
    chunk = std::min(max_chunk, len - static_cast<unsigned>(data.size()));
  }
  return data;
}

void SimulatedBoard::Store(bool flash, std::uint32_t offset, const Bytes& bytes) {
  Update([&](BoardRecord& r) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (flash) {
        flash_[offset + static_cast<std::uint32_t>(i)] = bytes[i];
      } else {
        eeprom_[(offset + i) % eeprom_.size()] = bytes[i];
      }
    }
    r.writes.push_back({flash, offset, bytes});
  });
}

Bytes SimulatedBoard::Load(bool flash, std::uint32_t offset, unsigned len) const {
  Bytes bytes(len);
  for (unsigned i = 0; i < len; ++i) {
    if (flash) {
      const auto it = flash_.find(offset + i);
      bytes[i] = it == flash_.end() ? 0xFF : it->second;
    } else {
      bytes[i] = eeprom_[(offset + i) % eeprom_.size()];
    }
  }
  return bytes;
}

void SimulatedBoard::SendCrc(const Bytes& bytes) {
  std::uint16_t crc = LoaderCrc(bytes.data(), static_cast<unsigned>(bytes.size()));
  if (config_.faults.wrong_crc) ++crc;
  Send({static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
}

Bytes SimulatedBoard::EepromHwid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Bytes(eeprom_.begin() + kHwidAt, eeprom_.begin() + kHwidAt + 8);
}

Bytes SimulatedBoard::InformationBlock() const {
  Bytes block(128, 0);
  if (config_.faults.missing_notice) {
    std::fill(block.begin() + 4, block.begin() + 108, 0xEE);
  } else {
    std::copy(kBootMonitorNotice.begin(), kBootMonitorNotice.end(), block.begin() + 4);
  }
  const Bytes hwid = EepromHwid();
  std::copy(hwid.begin(), hwid.end(), block.begin() + kHwidAt);
  return block;
}

// ---- RF loader -------------------------------------------------------------

Program SimulatedBoard::RfLoader() {
  unsigned busy_left = config_.faults.rf_busy_polls;
  for (;;) {
    const std::uint8_t command = Receive();
    const std::uint8_t length = Receive();
    const Bytes data = Receive(length);
    const std::uint8_t check = Receive();
    const unsigned sum = std::accumulate(data.begin(), data.end(), unsigned{command} + length);
    const bool bad_check = static_cast<std::uint8_t>(~sum) != check;
    Send({kRfAnswer});
    unsigned polls = 0;
    Update([&](BoardRecord& r) {
      r.rf_bad_check_bytes += bad_check;
      if (command == 0x40) polls = ++r.rf_hwid_polls;
      if (command == 0x45) ++r.rf_status_polls;
      if (command == 0x20) r.rf_image.insert(r.rf_image.end(), data.begin(), data.end());
    });
    if (command == 0x40) {
      Bytes reply(8, 0);
      if (polls > config_.faults.rf_empty_polls) {
        for (unsigned i = 0; i < 4; ++i) {
          reply[2 * i] = static_cast<std::uint8_t>(config_.rf_target_hwid[i]);
          reply[2 * i + 1] = static_cast<std::uint8_t>(config_.rf_target_hwid[i] >> 8);
        }
      }
      Send(reply);
    } else if (command == 0x45) {
      const bool busy = busy_left > 0;
      busy_left = busy ? busy_left - 1 : config_.faults.rf_busy_polls;
      Send({static_cast<std::uint8_t>(busy ? 1 : 0), 0, 0});
    }
  }
}

// ---- Belto LS passthrough --------------------------------------------------

Program SimulatedBoard::Passthrough() {
  AwaitAnswer(kPassthroughStart, kPassthroughStart);
  for (;;) {
    const std::uint8_t kind = AwaitAnswer(kPassthroughPrompt, std::nullopt);
    const std::uint8_t argument = AwaitAnswer(kPassthroughPrompt, std::nullopt);
    Update([&](BoardRecord& r) { r.passthrough_commands.emplace_back(kind, argument); });
    if (kind == 2) break;
  }
  // From here on the host talks to the GX2 board behind, which waits in its boot monitor.
  Update([](BoardRecord& r) { r.passthrough_active = true; });
  return Program::kBootMonitor;
}

}  // namespace mrl_test
