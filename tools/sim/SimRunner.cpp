#include "SimRunner.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>

SimRunner::SimRunner(const SimOptions& options, int32_t flashSize,
                     const Expectation* expectation, PseudoTerminal& line, std::ostream& out)
    : options_(options),
      expectation_(expectation),
      line_(line),
      out_(out),
      device_(flashSize, options.faults),
      pacer_(options.baud, options.latencyUs),
      random_(std::random_device{}()),
      nextSignal_(Clock::now()) {}

void SimRunner::Say(const std::string& text) { out_ << text << std::endl; }

int SimRunner::Run(int stopFd) {
  for (;;) {
    WatchHost();
    SignalIfDue();
    pollfd entries[2] = {{stopFd, POLLIN, 0}, {line_.Fd(), POLLIN, 0}};
    // Without a host the master reports a hang-up at once: do not poll it.
    const int count = poll(entries, hostPresent_ ? 2 : 1, PollTimeoutMs());
    if (count > 0 && entries[0].revents != 0) return options_.once ? 3 : (failures_ ? 1 : 0);
    if (count > 0 && hostPresent_ && entries[1].revents != 0) {
      if (Outcome outcome = ServeInput()) return *outcome;
    }
  }
}

void SimRunner::WatchHost() {
  if (hostPresent_) return;
  hostPresent_ = line_.HostPresent();
}

// A signal goes out once the host has read all that came before it, so it
// never shares a read with the last echo of a transfer (which drops it).
void SimRunner::SignalIfDue() {
  if (!device_.Signalling()) signalOut_ = false;
  if (!hostPresent_ || !device_.Signalling() || Clock::now() < nextSignal_) return;
  const int unread = line_.UnreadByHost();
  if (signalOut_ ? RepeatDue(unread) : unread <= 0) {
    SendSignal();
  } else if (!signalOut_) {
    nextSignal_ = Clock::now() + std::chrono::milliseconds(kRecheckMs);
  }
}

// A signal is repeated only once the host has taken it off the line and left
// it unanswered for a whole interval: an answer to it is then not on its way,
// so the repeat cannot cross one. One still unread needs no repeat, and where
// the host's side cannot be seen there is none.
bool SimRunner::RepeatDue(int unread) {
  const auto interval = std::chrono::milliseconds(options_.signalIntervalMs);
  if (unread != 0 || options_.signalIntervalMs == 0) {
    signalRead_ = false;
    nextSignal_ = unread > 0 && options_.signalIntervalMs > 0 ? Clock::now() + interval
                                                              : Clock::time_point::max();
    return false;
  }
  if (signalRead_) return true;
  signalRead_ = true;
  nextSignal_ = Clock::now() + interval;
  return false;
}

void SimRunner::SendSignal() {
  if (!noiseSent_) {
    std::uniform_int_distribution<int> byte(0, 0xFE);
    for (int i = 0; i < options_.noise; ++i) {
      const int value = byte(random_);
      pacer_.WaitToDeliver(Clock::now());
      line_.WriteByte(static_cast<uint8_t>(value >= 0x55 ? value + 1 : value));
    }
    noiseSent_ = true;
  }
  pacer_.WaitToDeliver(Clock::now());
  line_.WriteByte(0x55);
  signalOut_ = true;
  signalRead_ = false;
  nextSignal_ = options_.signalIntervalMs > 0
                    ? Clock::now() + std::chrono::milliseconds(options_.signalIntervalMs)
                    : Clock::time_point::max();
}

int SimRunner::PollTimeoutMs() const {
  if (!hostPresent_) return kHostCheckMs;
  if (!device_.Signalling() || nextSignal_ == Clock::time_point::max()) return -1;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextSignal_ - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, wait.count()));
}

SimRunner::Outcome SimRunner::ServeInput() {
  uint8_t buffer[256];
  const int count = line_.Read(buffer, sizeof buffer);
  if (count < 0) return HostGone();
  const Clock::time_point readAt = Clock::now();
  for (int i = 0; i < count; ++i) {
    const Reaction reaction = device_.Receive(buffer[i]);
    const Clock::time_point arrival = pacer_.Arrival(readAt);
    if (device_.TransferStarted() && device_.Transfer().received == 1) transferStart_ = readAt;
    if (Outcome outcome = React(reaction, arrival)) return outcome;
  }
  return std::nullopt;
}

SimRunner::Outcome SimRunner::React(const Reaction& reaction, Clock::time_point arrival) {
  const int k = device_.Transfer().received;
  switch (reaction.reply) {
    case Reply::Echo:
      pacer_.WaitToDeliver(arrival);
      line_.WriteByte(reaction.value);
      break;
    case Reply::Restart:
      Say("restarted at frame byte " + std::to_string(k));
      nextSignal_ = arrival;
      break;
    case Reply::Close:
      Say("closed the line at frame byte " + std::to_string(k));
      line_.Close();
      return 3;
    case Reply::Nothing:
      break;
  }
  return reaction.completed ? Complete() : std::nullopt;
}

SimRunner::Outcome SimRunner::Complete() {
  const TransferRecord& transfer = device_.Transfer();
  const double seconds = std::chrono::duration<double>(Clock::now() - transferStart_).count();
  Say(CompletionLine(transfer.received, seconds));
  std::vector<std::string> lines;
  const bool ok = ReportTransfer(expectation_, device_.Memory(), transfer, options_.dumpPath, lines);
  for (const std::string& text : lines) Say(text);
  if (!ok) ++failures_;
  if (options_.once) {
    line_.AwaitHostClose(std::chrono::seconds(2));
    return ok ? 0 : 1;
  }
  nextSignal_ = Clock::now();
  return std::nullopt;
}

SimRunner::Outcome SimRunner::HostGone() {
  hostPresent_ = false;
  if (device_.TransferStarted()) {
    const TransferRecord& transfer = device_.Transfer();
    Say(IncompleteLine(transfer));
  }
  device_.Reset();
  line_.Flush();
  if (options_.once) return 3;
  signalOut_ = false;
  nextSignal_ = Clock::now();
  return std::nullopt;
}
