#pragma once
// zentrel-sim --chip: serves hosts on the pseudo-terminal with a real PIC18
// in gpsim. The chip starts (from reset) when a host opens the line and
// keeps to real time while a host is there; after a completed transfer it
// runs on, and with --run-after the simulator reports what the program sent.
#include <chrono>
#include <optional>
#include <ostream>

#include "ChipModel.h"
#include "LineObserver.h"
#include "RealTimePace.h"
#include "SimLine.h"
#include "SimOptions.h"
#include "SimReport.h"

class ChipRunner {
 public:
  // expectation may be null (no --expect).
  ChipRunner(const SimOptions& options, ChipModel& chip, const Expectation* expectation,
             PseudoTerminal& line, std::ostream& out);

  // Serves until the run ends; stopFd becomes readable on SIGINT/SIGTERM.
  // Returns the exit status.
  int Run(int stopFd);

 private:
  using Clock = std::chrono::steady_clock;
  using Outcome = std::optional<int>;

  void HostArrived();
  bool ChipRuns() const;
  void RunChip();
  Outcome PassChipBytes();
  Outcome ServeInput();
  Outcome Complete();
  Outcome HostGone();
  Outcome ProgramRan();
  // What --flash-fault has to do with the failure, if anything.
  std::string FlashFaultNote() const;
  int WaitMicroseconds() const;
  void Say(const std::string& text);

  const SimOptions& options_;
  ChipModel& chip_;
  const Expectation* expectation_;
  PseudoTerminal& line_;
  std::ostream& out_;
  LineObserver observer_;
  bool hostPresent_ = false;
  bool started_ = false;  // the chip has run since the first host came
  RealTimePace pace_;
  Clock::time_point transferStart_;
  uint64_t runAfterEnd_ = 0;  // 0: no program run being watched
  int status_ = 0;            // of the last transfer, for --once
  int failures_ = 0;
};
