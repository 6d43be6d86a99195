#include "Board.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DownloadFrame.h"

namespace {

constexpr qint64 kReopenMs = 1000;

std::string Hex(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

Board::Board(const AppState& loaded, const std::string& mapDir) : loaded_(loaded), state_(loaded), line_(mapDir) {
  line_.onReceive = [this] { Receive(); };
  line_.onFailure = [this](const std::string& why) { LineFailed(why); };
}

void Board::Start(const BoardPolicy& policy, const QElapsedTimer& clock, BoardEvents& events) {
  policy_ = policy;
  clock_ = &clock;
  events_ = &events;
}

bool Board::Open(const BoardTarget& target, const std::string& settings) {
  target_ = target;
  settings_ = settings;
  name_ = target.device.empty() ? "COM" + std::to_string(target.port) : target.device;
  return OpenLine();
}

// A port number is resolved again on every try: an adapter plugged back, or
// a board's simulator started anew, may be another device under that number.
bool Board::OpenLine() {
  std::string error;
  const bool opened = target_.device.empty() ? line_.Open(target_.port, settings_, error)
                                             : line_.OpenDevice(target_.device, settings_, error);
  if (!opened) {
    PortUnavailable("cannot open the serial port: " + error);
    return false;
  }
  portProblem_.clear();
  usbSerial_ = UsbSerialOf(line_.DevicePath());
  events_->Note("Serial port " + Where() + " ready, " + settings_ + ".");
  PulseReset();
  WaitForSignal();
  return true;
}

// Without a loop that is the board's result; a loop keeps trying, and says
// so once for each new reason.
void Board::PortUnavailable(const std::string& why) {
  if (!policy_.loop) {
    Finish(kExitFailure, why, "port");
    return;
  }
  if (why != portProblem_) events_->Note(why + "; trying again every second");
  portProblem_ = why;
  phase_ = Phase::Reopening;
  deadline_ = clock_->elapsed() + kReopenMs;
}

void Board::PulseReset() {
  std::string error;
  if (!policy_.reset.empty() && !line_.PulseResetLine(policy_.reset, error)) {
    events_->Note("warning: " + error + "; reset the board by hand.");
  }
}

// Every byte restarts the quiet time; none of them is taken for a signal.
void Board::Settle() {
  phase_ = Phase::Settling;
  deadline_ = clock_->elapsed() + policy_.settleMs;
}

void Board::WaitForSignal() {
  state_ = loaded_;
  ended_.reset();
  timedOut_.reset();
  serialNumber_.reset();
  frameSha256_.clear();
  phase_ = Phase::WaitingForSignal;
  attemptStart_ = clock_->elapsed();
  deadline_ = policy_.loop ? std::numeric_limits<qint64>::max() : attemptStart_ + policy_.signalMs;
}

std::string Board::Where() const {
  const std::string device = line_.DevicePath();
  return device.empty() || name_ == device ? name_ : name_ + " (" + device + ")";
}

void Board::WriteByte(uint8_t value) {
  if (policy_.verbose) events_->Note(name_ + " > " + Hex(value));
  line_.WriteByte(value);
}

void Board::Receive() {
  if (phase_ == Phase::Done) return;
  const std::string input = line_.ReadAll();
  if (policy_.verbose) {
    std::string bytes;
    for (char byte : input) bytes += " " + Hex(static_cast<uint8_t>(byte));
    events_->Note(name_ + " <" + bytes);
  }
  if (phase_ == Phase::Settling) {
    if (!input.empty()) Settle();
    return;
  }
  OnPortReceive(state_, *this, input);
  if (phase_ == Phase::WaitingForSignal && state_.LinkState == 1) BeginTransfer();
  if (phase_ != Phase::Transferring) return;
  if (ended_) {
    TakeOutcome("");
  } else if (state_.FrameIndex != lastIndex_) {
    lastIndex_ = state_.FrameIndex;
    deadline_ = now_ + policy_.echoMs;
  }
}

void Board::BeginTransfer() {
  // Round after round it would only push the results up the screen.
  if (!policy_.loop || rounds_ == 0) events_->Note(std::string(kReadyText) + " " + Where());
  attemptStart_ = clock_->elapsed();
  dialogs_.messages.clear();
  if (!TakeUnitNumber()) return;
  StartDownload(state_, *this, dialogs_);
  // A line that failed on the first byte has reported that already.
  if (phase_ == Phase::Done) return;
  if (!state_.TransferInProgress) {
    std::string why;
    for (const std::string& text : dialogs_.messages) why += text;
    Finish(kExitRefused, why.empty() ? "the download was refused" : why, "frame");
    return;
  }
  if (serialNumber_) frameSha256_ = FrameSha256(state_);
  phase_ = Phase::Transferring;
  lastIndex_ = state_.FrameIndex;
  deadline_ = attemptStart_ + policy_.echoMs;
}

// Taken, and on the disk, before the first byte goes: from then on the
// number is spent, whatever becomes of the attempt.
bool Board::TakeUnitNumber() {
  if (policy_.unitNumbers == nullptr) return true;
  std::string error;
  serialNumber_ = policy_.unitNumbers->counter.Take(policy_.unitNumbers->place, error);
  if (!serialNumber_) {
    Finish(kExitRefused, "no serial number for the board: " + error, "serial-number");
    return false;
  }
  WriteSerialNumber(state_.FlashImage, policy_.unitNumbers->place, *serialNumber_);
  return true;
}

void Board::CheckDeadline(qint64 now) {
  if (phase_ == Phase::Done || now < deadline_) return;
  switch (phase_) {
    case Phase::Reopening:
      OpenLine();
      return;
    case Phase::Settling:
      WaitForSignal();
      return;
    case Phase::WaitingForSignal:
      Finish(kExitFailure, "no signal from the bootloader within " + std::to_string(policy_.signalMs / 1000) +
                               " s on " + Where() + ": reset the board, check the port and the baud rate",
             "no-signal");
      return;
    default:
      break;
  }
  timedOut_ = InFlight();
  Finish(kExitFailure, "no echo of byte " + std::to_string(state_.FrameIndex) + "/" +
                           std::to_string(state_.FrameLength) + " within " + std::to_string(policy_.echoMs) +
                           " ms on " + Where(),
         "no-echo");
}

// A line that fails between transfers costs a loop no attempt: only the
// port is gone, and it is tried again.
void Board::LineFailed(const std::string& why) {
  OnLinkLost(state_, *this);
  if (phase_ == Phase::Done) return;
  const std::string failure = "the serial line failed: " + why;
  if (ended_ && phase_ == Phase::Transferring) {
    TakeOutcome(failure);
  } else if (policy_.loop && phase_ != Phase::Transferring) {
    PortUnavailable(failure);
  } else {
    Finish(kExitFailure, failure, "line-lost");
  }
}

// The message names the byte in flight, with the byte sent and its echo.
void Board::TakeOutcome(const std::string& lineFailure) {
  const TransferOutcome outcome = *ended_;
  if (outcome.kind == TransferOutcome::Kind::Completed) {
    Finish(kExitSuccess, std::string(kCompletedText), "");
    return;
  }
  std::string text = ErrorText(outcome.slot, outcome.length);
  if (outcome.kind == TransferOutcome::Kind::WrongEcho) {
    text += ": sent " + Hex(outcome.sent) + ", echo " + Hex(outcome.received);
    text += RefusalNote(outcome, state_);
    Finish(kExitFailure, text, "wrong-echo");
  } else {
    portLost_ = lineFailure;
    Finish(kExitFailure, text + ": " + lineFailure, "line-lost");
  }
}

bool Board::TriesAgain(int exitCode) const {
  if (exitCode == kExitRefused) return false;
  if (policy_.loop) return true;
  return line_.IsOpen() && exitCode != kExitSuccess && failures_ <= policy_.retries;
}

Attempt Board::MakeAttempt(int exitCode, std::string message, std::string reason) {
  Attempt attempt;
  attempt.name = name_;
  attempt.device = line_.DevicePath();
  attempt.usbSerial = usbSerial_;
  attempt.serialNumber = serialNumber_;
  attempt.frameSha256 = frameSha256_;
  attempt.round = ++rounds_;
  attempt.exitCode = exitCode;
  attempt.message = std::move(message);
  attempt.reason = std::move(reason);
  attempt.done = exitCode == kExitSuccess ? state_.FrameLength : Echoed();
  attempt.total = state_.FrameLength;
  attempt.durationMs = clock_->elapsed() - attemptStart_;
  if (ended_ && ended_->kind != TransferOutcome::Kind::Completed) {
    attempt.failure = FailingByte{ended_->slot, ended_->sent, {}};
    if (ended_->kind == TransferOutcome::Kind::WrongEcho) attempt.failure->echo = ended_->received;
  }
  if (timedOut_) attempt.failure = timedOut_;
  return attempt;
}

void Board::Finish(int exitCode, std::string message, std::string reason) {
  Attempt attempt = MakeAttempt(exitCode, std::move(message), std::move(reason));
  failures_ = exitCode == kExitSuccess ? 0 : failures_ + 1;
  const bool again = TriesAgain(exitCode);
  attempt.last = !again;
  lastMessage_ = attempt.message;
  phase_ = Phase::Done;
  events_->Attempted(attempt);
  if (!again) {
    line_.Close();
  } else if (!line_.IsOpen()) {
    PortUnavailable(portLost_.empty() ? lastMessage_ : portLost_);
  } else if (exitCode == kExitSuccess && policy_.settleMs > 0) {
    Settle();
  } else {
    // The reset line, if any, restarts the board that failed.
    if (exitCode != kExitSuccess && failures_ <= policy_.retries) PulseReset();
    WaitForSignal();
  }
  portLost_.clear();
}

void Board::Interrupt(int signal) {
  const std::string by = std::string("interrupted by SIG") + sigabbrev_np(signal);
  std::string text;
  if (phase_ == Phase::Transferring) {
    text = by + " at byte " + std::to_string(state_.FrameIndex) + "/" + std::to_string(state_.FrameLength) +
           " (board left part-programmed)";
  } else if (phase_ == Phase::WaitingForSignal && !policy_.loop) {
    text = by + " while waiting for the signal on " + Where() + "; nothing was sent";
  }
  if (!text.empty()) {
    Attempt attempt = MakeAttempt(kExitFailure, text, "signal");
    if (phase_ == Phase::Transferring) attempt.failure = InFlight();
    attempt.interrupted = true;
    attempt.last = true;
    events_->Attempted(attempt);
  }
  phase_ = Phase::Done;
  line_.Close();
}

ProgressLine Board::Progress(qint64 now) const {
  ProgressLine line;
  line.name = name_;
  line.finished = phase_ == Phase::Done;
  // Between transfers the last frame's count would read as a transfer that stopped.
  const bool counted = phase_ == Phase::Transferring || phase_ == Phase::Done;
  line.done = counted ? Echoed() : 0;
  line.total = counted ? state_.FrameLength : 0;
  line.elapsedMs = phase_ == Phase::Transferring ? now - attemptStart_ : 0;
  switch (phase_) {
    case Phase::Transferring:
      break;
    case Phase::Done:
      line.note = lastMessage_;
      break;
    case Phase::Reopening:
      line.note = "port unavailable, trying again every second";
      break;
    case Phase::Settling:
    case Phase::WaitingForSignal:
      line.note = rounds_ == 0 ? "waiting for the signal" : "waiting for the next board";
      break;
  }
  return line;
}
