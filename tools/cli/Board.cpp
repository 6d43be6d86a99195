#include "Board.h"

#include <algorithm>
#include <cstdio>

#include "DownloadFrame.h"

namespace {

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
  std::string error;
  const bool opened = target.device.empty() ? line_.Open(target.port, settings, error)
                                            : line_.OpenDevice(target.device, settings, error);
  name_ = target.device.empty() ? "COM" + std::to_string(target.port) : target.device;
  if (!opened) {
    Finish(kExitFailure, "cannot open the serial port: " + error);
    return false;
  }
  usbSerial_ = UsbSerialOf(line_.DevicePath());
  events_->Note("Serial port " + Where() + " ready, " + settings + ".");
  PulseReset();
  WaitForSignal();
  return true;
}

void Board::PulseReset() {
  std::string error;
  if (!policy_.reset.empty() && !line_.PulseResetLine(policy_.reset, error)) {
    events_->Note("warning: " + error + "; reset the board by hand.");
  }
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
    Finish(kExitRefused, why.empty() ? "the download was refused" : why);
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
    Finish(kExitRefused, "no serial number for the board: " + error);
    return false;
  }
  WriteSerialNumber(state_.FlashImage, policy_.unitNumbers->place, *serialNumber_);
  return true;
}

void Board::CheckDeadline(qint64 now) {
  if (phase_ == Phase::Done || now < deadline_) return;
  if (phase_ == Phase::WaitingForSignal) {
    Finish(kExitFailure, "no signal from the bootloader within " + std::to_string(policy_.signalMs / 1000) +
                             " s on " + Where() + ": reset the board, check the port and the baud rate");
    return;
  }
  timedOut_ = FailingByte{state_.FrameIndex, state_.DownloadFrame[static_cast<size_t>(state_.FrameIndex)], {}};
  Finish(kExitFailure, "no echo of byte " + std::to_string(state_.FrameIndex) + "/" +
                           std::to_string(state_.FrameLength) + " within " + std::to_string(policy_.echoMs) +
                           " ms on " + Where());
}

void Board::LineFailed(const std::string& why) {
  OnLinkLost(state_, *this);
  if (phase_ == Phase::Done) return;
  const std::string failure = "the serial line failed: " + why;
  if (ended_ && phase_ == Phase::Transferring) {
    TakeOutcome(failure);
  } else {
    Finish(kExitFailure, failure);
  }
}

// The message names the byte in flight, with the byte sent and its echo.
void Board::TakeOutcome(const std::string& lineFailure) {
  const TransferOutcome outcome = *ended_;
  if (outcome.kind == TransferOutcome::Kind::Completed) {
    Finish(kExitSuccess, std::string(kCompletedText));
    return;
  }
  std::string text = ErrorText(outcome.slot, outcome.length);
  if (outcome.kind == TransferOutcome::Kind::WrongEcho) {
    text += ": sent " + Hex(outcome.sent) + ", echo " + Hex(outcome.received);
    const std::string hint = RefusalHint(outcome.slot, state_);
    if (outcome.received == (outcome.sent ^ 0xFF) && !hint.empty()) {
      text += "; the bootloader refused it: " + hint;
    }
  } else {
    text += ": " + lineFailure;
  }
  Finish(kExitFailure, text);
}

bool Board::TriesAgain(int exitCode) const {
  if (!line_.IsOpen() || exitCode == kExitRefused) return false;
  return policy_.loop || (exitCode != kExitSuccess && failures_ <= policy_.retries);
}

Attempt Board::MakeAttempt(int exitCode, std::string message) {
  Attempt attempt;
  attempt.name = name_;
  attempt.device = line_.DevicePath();
  attempt.usbSerial = usbSerial_;
  attempt.serialNumber = serialNumber_;
  attempt.frameSha256 = frameSha256_;
  attempt.round = ++rounds_;
  attempt.exitCode = exitCode;
  attempt.message = std::move(message);
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

void Board::Finish(int exitCode, std::string message) {
  Attempt attempt = MakeAttempt(exitCode, std::move(message));
  failures_ = exitCode == kExitSuccess ? 0 : failures_ + 1;
  const bool again = TriesAgain(exitCode);
  attempt.last = !again;
  lastMessage_ = attempt.message;
  phase_ = Phase::Done;
  events_->Attempted(attempt);
  if (!again) {
    line_.Close();
    return;
  }
  // After a success the next board signals on its own; after a failure the
  // reset line, if any, restarts this one.
  if (exitCode != kExitSuccess && failures_ <= policy_.retries) PulseReset();
  WaitForSignal();
}

void Board::Interrupt() {
  if (phase_ == Phase::Transferring) {
    Attempt attempt = MakeAttempt(kExitFailure, "interrupted");
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
  line.done = Echoed();
  line.total = state_.FrameLength;
  line.elapsedMs = phase_ == Phase::Transferring ? now - attemptStart_ : 0;
  if (phase_ == Phase::Transferring) {
    line.note = "";
  } else if (phase_ == Phase::Done) {
    line.note = lastMessage_;
  } else {
    line.note = rounds_ == 0 ? "waiting for the signal" : "waiting for the next board";
  }
  return line;
}
