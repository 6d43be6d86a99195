#include "Board.h"

#include <algorithm>
#include <cstdio>

#include "DownloadFrame.h"

Board::Board(const AppState& loaded, const std::string& mapDir) : state_(loaded), line_(mapDir) {
  line_.onReceive = [this] { Receive(); };
  line_.onFailure = [this](const std::string& why) { LineFailed(why); };
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
  PrintLine(stderr, "Serial port " + Where() + " ready, " + settings + ".");
  return true;
}

void Board::PulseReset(const std::string& which) {
  std::string error;
  if (!line_.PulseResetLine(which, error)) PrintLine(stderr, "warning: " + error + "; reset the board by hand.");
}

void Board::Start(const Timeouts& timeouts, const QElapsedTimer& clock) {
  timeouts_ = timeouts;
  clock_ = &clock;
  deadline_ = clock.elapsed() + timeouts.signalMs;
  dialogs_.hold = true;
}

std::string Board::Where() const {
  return name_ == line_.DevicePath() ? name_ : name_ + " (" + line_.DevicePath() + ")";
}

void Board::Receive() {
  if (phase_ == Phase::Done) return;
  OnPortReceive(state_, *this, line_.ReadAll());
  if (phase_ == Phase::WaitingForSignal && state_.LinkState == 1) BeginTransfer();
  if (phase_ != Phase::Transferring) return;
  if (ended_) {
    TakeOutcome("");
  } else if (state_.FrameIndex != lastIndex_) {
    lastIndex_ = state_.FrameIndex;
    deadline_ = clock_->elapsed() + timeouts_.echoMs;
  }
}

void Board::BeginTransfer() {
  PrintLine(stderr, std::string(kReadyText) + " " + Where());
  transferStart_ = clock_->elapsed();
  StartDownload(state_, *this, dialogs_);
  // A line that failed on the first byte has reported that already.
  if (phase_ == Phase::Done) return;
  if (!state_.TransferInProgress) {
    std::string why;
    for (const std::string& text : dialogs_.messages) why += text;
    Finish(kExitRefused, why.empty() ? "the download was refused" : why);
    return;
  }
  phase_ = Phase::Transferring;
  lastIndex_ = state_.FrameIndex;
  deadline_ = transferStart_ + timeouts_.echoMs;
}

void Board::CheckDeadline(qint64 now) {
  if (phase_ == Phase::Done || now < deadline_) return;
  if (phase_ == Phase::WaitingForSignal) {
    Finish(kExitFailure, "no signal from the bootloader within " + std::to_string(timeouts_.signalMs / 1000) +
                             " s on " + Where() + ": reset the board, check the port and the baud rate");
  } else {
    Finish(kExitFailure, "no echo of byte " + std::to_string(state_.FrameIndex) + "/" +
                             std::to_string(state_.FrameLength) + " within " +
                             std::to_string(timeouts_.echoMs) + " ms on " + Where());
  }
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
    char detail[32];
    std::snprintf(detail, sizeof detail, ": sent 0x%02X, echo 0x%02X", outcome.sent, outcome.received);
    text += detail;
  } else {
    text += ": " + lineFailure;
  }
  Finish(kExitFailure, text);
}

void Board::Finish(int exitCode, std::string outcome) {
  phase_ = Phase::Done;
  exitCode_ = exitCode;
  outcome_ = std::move(outcome);
  finishedAt_ = clock_ != nullptr ? clock_->elapsed() : 0;
  line_.Close();
}

ProgressLine Board::Progress(qint64 now) const {
  const qint64 end = phase_ == Phase::Done ? finishedAt_ : now;
  ProgressLine line;
  line.name = name_;
  line.finished = phase_ == Phase::Done;
  line.succeeded = line.finished && exitCode_ == kExitSuccess;
  // FrameIndex is the byte in flight until the last echo has matched.
  line.done = TransferBegun() ? std::max(0, state_.FrameIndex - (line.succeeded ? 0 : 1)) : 0;
  line.total = state_.FrameLength;
  line.elapsedMs = TransferBegun() ? end - transferStart_ : 0;
  line.note = line.finished ? outcome_ : (TransferBegun() ? "" : "waiting for the signal");
  return line;
}
