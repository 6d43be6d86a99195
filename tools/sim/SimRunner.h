#pragma once
// The simulator's loop: signals while a host is present, feeds every byte
// it reads to the device model, echoes with the line's pacing, and reports
// each finished transfer.
#include <optional>
#include <ostream>
#include <random>

#include "SimDevice.h"
#include "SimLine.h"
#include "SimOptions.h"
#include "SimReport.h"

class SimRunner {
 public:
  using Clock = LinePacer::Clock;
  // expectation may be null (no --expect).
  SimRunner(const SimOptions& options, int32_t flashSize, const Expectation* expectation,
            PseudoTerminal& line, std::ostream& out);

  // Serves until the run ends; stopFd becomes readable on SIGINT/SIGTERM.
  // Returns the exit status.
  int Run(int stopFd);

 private:
  using Outcome = std::optional<int>;  // an exit status ends the run
  static constexpr int kHostCheckMs = 20;
  static constexpr int kRecheckMs = 2;  // while the host reads what came before a signal

  void WatchHost();
  void SignalIfDue();
  bool RepeatDue(int unread);
  void SendSignal();
  int PollTimeoutMs() const;
  Outcome ServeInput();
  Outcome React(const Reaction& reaction, Clock::time_point arrival);
  Outcome Complete();
  Outcome HostGone();
  void Say(const std::string& line);

  const SimOptions& options_;
  const Expectation* expectation_;
  PseudoTerminal& line_;
  std::ostream& out_;
  SimDevice device_;
  LinePacer pacer_;
  std::mt19937 random_;
  bool hostPresent_ = false;
  bool noiseSent_ = false;
  bool signalOut_ = false;  // sent and not yet answered
  bool signalRead_ = false;  // ... and seen taken off the line by the host
  Clock::time_point nextSignal_;
  Clock::time_point transferStart_;
  int failures_ = 0;
};
