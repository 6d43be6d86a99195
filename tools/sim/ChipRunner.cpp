#include "ChipRunner.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>

namespace {
// Time for the host to finish opening the line (and perhaps flushing it)
// before the chip's first signal goes out.
constexpr auto kSettle = std::chrono::milliseconds(20);
// When gpsim falls behind real time by more than this, the chip is not asked
// to catch up in one burst, which would race the line.
constexpr auto kMostBehind = std::chrono::milliseconds(20);
constexpr double kLongestRunSeconds = 0.002;
constexpr int kHostCheckUs = 20000;
// After its last echo the bootloader still writes the user's first eight
// bytes (two write blocks take a chip some 4 ms), then runs the program.
constexpr double kLongestSettleSeconds = 0.05;

// What a program printed, on one line: printable ASCII as it is, every other
// byte (a backslash too) as \xNN.
std::string PrintableText(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t value : bytes) {
    if (value >= 0x20 && value < 0x7F && value != '\\') {
      text += static_cast<char>(value);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", value);
      text += escaped;
    }
  }
  return text;
}
}  // namespace

ChipRunner::ChipRunner(const SimOptions& options, ChipModel& chip, const Expectation* expectation,
                       PseudoTerminal& line, std::ostream& out)
    : options_(options),
      chip_(chip),
      expectation_(expectation),
      line_(line),
      out_(out),
      pace_(chip.CyclesPerSecond(), kMostBehind) {}

void ChipRunner::Say(const std::string& text) { out_ << text << std::endl; }

int ChipRunner::Run(int stopFd) {
  for (;;) {
    if (!hostPresent_ && line_.HostPresent()) {
      // A new host resets the chip: the program's run ends here.
      if (runAfterEnd_ != 0) {
        if (Outcome outcome = ProgramRan()) return *outcome;
      }
      HostArrived();
    }
    if (ChipRuns()) {
      RunChip();
      if (Outcome outcome = PassChipBytes()) return *outcome;
    }
    if (runAfterEnd_ != 0 && chip_.Cycle() >= runAfterEnd_) {
      if (Outcome outcome = ProgramRan()) return *outcome;
    }
    pollfd entries[2] = {{stopFd, POLLIN, 0}, {line_.Fd(), POLLIN, 0}};
    const int waitUs = WaitMicroseconds();
    const timespec timeout{waitUs / 1000000, (waitUs % 1000000) * 1000L};
    // Without a host the master reports a hang-up at once: do not poll it.
    const int count = ppoll(entries, hostPresent_ ? 2 : 1, &timeout, nullptr);
    if (count > 0 && entries[0].revents != 0) return options_.once ? 3 : (failures_ ? 1 : 0);
    if (count > 0 && hostPresent_ && entries[1].revents != 0) {
      if (Outcome outcome = ServeInput()) return *outcome;
    }
  }
}

void ChipRunner::HostArrived() {
  // A new host resets the board, as opening a real port often does.
  hostPresent_ = true;
  chip_.Reset();
  observer_.Reset();
  pace_.Start(Clock::now() + kSettle, chip_.Cycle());
}

bool ChipRunner::ChipRuns() const { return hostPresent_ || runAfterEnd_ != 0; }

void ChipRunner::RunChip() {
  const double cps = chip_.CyclesPerSecond();
  const uint64_t now = chip_.Cycle();
  if (!hostPresent_) {
    // Nobody on the line: the program's run is watched as fast as gpsim goes.
    chip_.RunTo(std::min(runAfterEnd_, now + static_cast<uint64_t>(kLongestRunSeconds * cps)));
    return;
  }
  const uint64_t target = pace_.Target(Clock::now(), now);
  chip_.RunTo(std::min(target, now + static_cast<uint64_t>(kLongestRunSeconds * cps)));
}

int ChipRunner::WaitMicroseconds() const {
  if (!ChipRuns()) return kHostCheckUs;
  if (!hostPresent_) return 0;
  const double cps = chip_.CyclesPerSecond();
  const uint64_t next = std::min(chip_.NextLineEvent(),
                                 chip_.Cycle() + static_cast<uint64_t>(0.001 * cps));
  const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(pace_.WallTimeOf(next) - Clock::now());
  return static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 1000));
}

ChipRunner::Outcome ChipRunner::PassChipBytes() {
  for (uint8_t value : chip_.TakeReceived()) {
    if (hostPresent_) line_.WriteByte(value);
    switch (observer_.FromChip(value)) {
      case LineObserver::Event::Completed:
        if (Outcome outcome = Complete()) return outcome;
        break;
      case LineObserver::Event::Failed:
        Say("transfer failed: " + observer_.Failure() + FlashFaultNote());
        ++failures_;
        if (options_.once) {
          line_.AwaitHostClose(std::chrono::seconds(2));
          return 1;
        }
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

std::string ChipRunner::FlashFaultNote() const {
  if (options_.flashFault < 0) return "";
  // The flash that the failing frame byte completes: its write block, or
  // for the user's eighth byte the slot in the bootloader's last block.
  const TransferRecord& transfer = observer_.Transfer();
  // The failing frame byte is number received + 1; bytes 5 on carry address 0 on.
  const int64_t address = transfer.received - 4;
  if (address < 0) return "";  // a header byte: nothing was written
  int64_t first = chip_.ProgramBytes() - transfer.eraseBlock;
  int64_t size = transfer.eraseBlock;
  if (address < transfer.programBytes && transfer.writeBlock > 0) {
    first = address - address % transfer.writeBlock;
    size = transfer.writeBlock;
  }
  if (options_.flashFault < first || options_.flashFault >= first + size) return "";
  return "; the flash at " + HexNumber(first, 6) + ".." +
         HexNumber(first + size - 1, 6) + " holds the cell that takes no write, " +
         HexNumber(options_.flashFault, 6);
}

ChipRunner::Outcome ChipRunner::ServeInput() {
  uint8_t buffer[256];
  const int count = line_.Read(buffer, sizeof buffer);
  if (count < 0) return HostGone();
  for (int i = 0; i < count; ++i) {
    chip_.Send(buffer[i]);
    if (observer_.FromHost(buffer[i]) == LineObserver::Event::Started) transferStart_ = Clock::now();
  }
  return std::nullopt;
}

ChipRunner::Outcome ChipRunner::Complete() {
  TransferRecord transfer = observer_.Transfer();
  Say(CompletionLine(transfer.received,
                     std::chrono::duration<double>(Clock::now() - transferStart_).count()));
  // The user's first eight bytes sit at the start of the bootloader's last
  // erase block; once the chip runs them, its writes are done.
  const uint32_t slot = static_cast<uint32_t>(chip_.ProgramBytes() - transfer.eraseBlock);
  chip_.RunToAddress(chip_.Cycle() + static_cast<uint64_t>(kLongestSettleSeconds * chip_.CyclesPerSecond()),
                     slot);
  // Memory as the chip holds it, bootloader included.
  const std::vector<uint8_t> bytes = chip_.ProgramMemory();
  FlashModel memory(static_cast<int32_t>(bytes.size()));
  memory.BeginTransfer(0);
  memory.WriteBlock(0, bytes);
  if (slot + 8 <= bytes.size()) std::copy_n(bytes.begin() + slot, 8, transfer.relocated.begin());
  std::vector<std::string> lines;
  const bool ok = ReportTransfer(expectation_, memory, transfer, options_.dumpPath, lines);
  for (const std::string& text : lines) Say(text);
  if (!ok) ++failures_;
  status_ = ok ? 0 : 1;
  if (options_.runAfterSeconds > 0) {
    runAfterEnd_ = chip_.Cycle() + static_cast<uint64_t>(options_.runAfterSeconds * chip_.CyclesPerSecond());
    return std::nullopt;
  }
  if (!options_.once) return std::nullopt;
  line_.AwaitHostClose(std::chrono::seconds(2));
  return status_;
}

ChipRunner::Outcome ChipRunner::ProgramRan() {
  Say("program output: " + PrintableText(observer_.ProgramOutput()));
  runAfterEnd_ = 0;
  if (!options_.once) return std::nullopt;
  line_.AwaitHostClose(std::chrono::seconds(2));
  return status_;
}

ChipRunner::Outcome ChipRunner::HostGone() {
  hostPresent_ = false;
  if (observer_.InTransfer()) Say(IncompleteLine(observer_.Transfer()));
  line_.Flush();
  if (options_.once && runAfterEnd_ == 0) return 3;
  return std::nullopt;
}
