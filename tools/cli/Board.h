#pragma once
// One board of zentrel-cli download: its own copy of the loaded state, its
// serial line, the host that the link protocol talks to, and its deadlines.
// The protocol's pauses are for a person watching the window; here each
// attempt's outcome goes to the loop at once instead.
#include <QElapsedTimer>
#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "CliCommon.h"
#include "LinkProtocol.h"
#include "ProgressDisplay.h"
#include "QtSerialLine.h"
#include "ResetSequence.h"
#include "SerialNumber.h"

// --serial-number: where each attempt's unit number goes, and whence it comes.
struct UnitNumbers {
  SerialNumberPlace place;
  SerialCounter counter;
};

// What the command line asks of every board. Time-outs are 64 bits: seconds
// times 1000 may not fit an int.
struct BoardPolicy {
  qint64 signalMs = 30000;  // none in a loop: the operator swaps boards at leisure
  qint64 echoMs = 1000;
  // In a loop, a flashed board's line must be quiet this long before a
  // signal counts as the next board's: a program that resets, or sends 'U',
  // would otherwise be flashed again and again.
  qint64 settleMs = 3000;
  bool loop = false;     // flash again at every signal, until interrupted
  int retries = 0;       // failed attempts to start over after, when not looping
  ResetSequence reset;   // empty: no line resets the board
  bool verbose = false;  // print the line traffic
  UnitNumbers* unitNumbers = nullptr;  // shared by the boards; none without --serial-number
};

// The byte in flight when a transfer failed; its echo when a wrong one came.
struct FailingByte {
  int32_t slot = 0;
  uint8_t sent = 0;
  std::optional<uint8_t> echo;
};

// How one attempt on one board ended.
struct Attempt {
  std::string name;    // COM3, or the device as given
  std::string device;  // the device path it resolved to
  std::string usbSerial;  // of the adapter, "" where unknown
  std::optional<uint64_t> serialNumber;  // the unit's, once taken: spent whatever the result
  std::string frameSha256;  // of the frame sent, where it differs from the run's (a unit number)
  int round = 0;       // 1 for the board's first attempt
  int exitCode = kExitFailure;
  std::string message;  // "Download completed!" or why it failed
  std::string reason;   // what kind of failure, for scripts; "" when passed
  int32_t done = 0, total = 0;  // frame bytes echoed, frame length
  qint64 durationMs = 0;
  std::optional<FailingByte> failure;
  bool interrupted = false;
  bool last = false;  // the board does not try again
  bool Passed() const { return exitCode == kExitSuccess && !interrupted; }
  // Nothing was sent: the file, the description, the frame or the counter stopped it.
  bool Refused() const {
    return reason == "file" || reason == "description" || reason == "frame" || reason == "serial-number";
  }
};

// Where a board's news goes: the loop owns the terminal.
class BoardEvents {
 public:
  virtual ~BoardEvents() = default;
  virtual void Attempted(const Attempt& attempt) = 0;
  // Progress and diagnostics for stderr.
  virtual void Note(const std::string& text) = 0;
};

class Board : public LinkHost {
 public:
  // Reopening: in a loop, the port failed, went away or was busy, and is
  // tried again every second. Settling: a board was flashed, and its line
  // must fall quiet before the next board counts.
  enum class Phase { Reopening, Settling, WaitingForSignal, Transferring, Done };

  // loaded outlives the board: every attempt starts from it.
  Board(const AppState& loaded, const std::string& mapDir);

  bool Open(const BoardTarget& target, const std::string& settings);
  // Before Open: what to do, the run's clock, and where the news goes.
  void Start(const BoardPolicy& policy, const QElapsedTimer& clock, BoardEvents& events);
  // Reads what the line has; call when its Handle() is readable, with the
  // run's clock as it reads now.
  void Service(qint64 now) {
    now_ = now;
    line_.WaitForInput(0);
  }
  void CheckDeadline(qint64 now);
  // Ends the run on a signal: a transfer in flight (without a loop, also a
  // board still waiting for its signal) is reported as interrupted.
  void Interrupt(int signal);

  // -1 while the port is not open.
  int Handle() const { return line_.Handle(); }
  bool Active() const { return phase_ != Phase::Done; }
  bool Transferring() const { return phase_ == Phase::Transferring; }
  qint64 Deadline() const { return deadline_; }
  ProgressLine Progress(qint64 now) const;

  bool PortIsOpen() const override { return line_.IsOpen(); }
  void WriteByte(uint8_t value) override;
  // The window's texts are for a person watching; the outcome comes as an event.
  void SetStatus(std::string_view) override {}
  void PumpEvents() override {}
  void Pause(int) override {}
  void TransferEnded(const TransferOutcome& outcome) override { ended_ = outcome; }

 private:
  bool OpenLine();
  void PortUnavailable(const std::string& why);
  void Receive();
  void BeginTransfer();
  bool TakeUnitNumber();
  void LineFailed(const std::string& why);
  void TakeOutcome(const std::string& lineFailure);
  void Finish(int exitCode, std::string message, std::string reason);
  Attempt MakeAttempt(int exitCode, std::string message, std::string reason);
  bool TriesAgain(int exitCode) const;
  void Settle();
  void WaitForSignal();
  void PulseReset();
  std::string Where() const;
  // A frame is built when the transfer begins.
  bool TransferBegun() const { return state_.FrameLength > 0; }
  // FrameIndex is the byte in flight until the last echo has matched.
  int32_t Echoed() const { return TransferBegun() ? std::max(0, state_.FrameIndex - 1) : 0; }
  FailingByte InFlight() const {
    return {state_.FrameIndex, state_.DownloadFrame[static_cast<size_t>(state_.FrameIndex)], {}};
  }

  const AppState& loaded_;
  AppState state_;
  QtSerialLine line_;
  MessageCollector dialogs_;
  std::string name_;
  std::string usbSerial_;
  std::optional<uint64_t> serialNumber_;  // of the attempt in hand
  std::string frameSha256_;
  BoardTarget target_;
  std::string settings_;
  std::string portProblem_;  // why the port is unavailable, "" while it is open
  std::string portLost_;     // how the line failed under the attempt that ends now
  Phase phase_ = Phase::WaitingForSignal;
  BoardPolicy policy_;
  const QElapsedTimer* clock_ = nullptr;
  BoardEvents* events_ = nullptr;
  qint64 deadline_ = std::numeric_limits<qint64>::max();
  qint64 attemptStart_ = 0;
  qint64 now_ = 0;  // the run's clock when the line was last served
  int32_t lastIndex_ = 0;
  int rounds_ = 0;
  int failures_ = 0;  // in a row, for --retries
  std::optional<TransferOutcome> ended_;
  std::optional<FailingByte> timedOut_;  // the byte whose echo never came
  std::string lastMessage_;
};
