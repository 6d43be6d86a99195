#pragma once
// One board of zentrel-cli download: its own copy of the loaded state, its
// serial line, the host that the link protocol talks to, and its deadlines.
// The protocol's pauses are for a person watching the window; here the
// outcome is printed at once instead.
#include <QElapsedTimer>
#include <optional>
#include <string>

#include "CliCommon.h"
#include "LinkProtocol.h"
#include "ProgressDisplay.h"
#include "QtSerialLine.h"

// 64 bits: a time-out in seconds times 1000 may not fit an int.
struct Timeouts {
  qint64 signalMs = 30000;
  qint64 echoMs = 1000;
};

class Board : public LinkHost {
 public:
  enum class Phase { WaitingForSignal, Transferring, Done };

  Board(const AppState& loaded, const std::string& mapDir);

  bool Open(const BoardTarget& target, const std::string& settings);
  void PulseReset(const std::string& which);
  void Start(const Timeouts& timeouts, const QElapsedTimer& clock);
  // Reads what the line has; call when its Handle() is readable.
  void Service() { line_.WaitForInput(0); }
  void CheckDeadline(qint64 now);

  int Handle() const { return line_.Handle(); }
  bool Active() const { return phase_ != Phase::Done; }
  qint64 Deadline() const { return deadline_; }
  int ExitCode() const { return exitCode_; }
  ProgressLine Progress(qint64 now) const;

  bool PortIsOpen() const override { return line_.IsOpen(); }
  void WriteByte(uint8_t value) override { line_.WriteByte(value); }
  // The window's texts are for a person watching; the outcome comes as an event.
  void SetStatus(std::string_view) override {}
  void PumpEvents() override {}
  void Pause(int) override {}
  void TransferEnded(const TransferOutcome& outcome) override { ended_ = outcome; }

 private:
  void Receive();
  void BeginTransfer();
  void LineFailed(const std::string& why);
  void TakeOutcome(const std::string& lineFailure);
  void Finish(int exitCode, std::string outcome);
  std::string Where() const;
  // A frame is built when the transfer begins.
  bool TransferBegun() const { return state_.FrameLength > 0; }

  AppState state_;
  QtSerialLine line_;
  ConsoleDialogs dialogs_;
  std::string name_;
  Phase phase_ = Phase::WaitingForSignal;
  Timeouts timeouts_;
  const QElapsedTimer* clock_ = nullptr;
  qint64 deadline_ = 0, transferStart_ = 0, finishedAt_ = 0;
  int32_t lastIndex_ = 0;
  std::optional<TransferOutcome> ended_;
  std::string outcome_;
  int exitCode_ = kExitFailure;
};
