// zentrel-cli download: the window's download from a terminal or a script,
// with time-outs, for one board or several at once: one link per port, all
// driven by one poll loop in this thread.
#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <optional>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DownloadFrame.h"
#include "LinkProtocol.h"
#include "QtSerialLine.h"
#include "NumberValue.h"
#include "SettingsStore.h"
#include "CliCommon.h"
#include "Commands.h"
#include "ProgressDisplay.h"

namespace {

constexpr int kRedrawMs = 100;

// 64 bits: a time-out in seconds times 1000 may not fit an int.
struct Timeouts {
  qint64 signalMs = 30000;
  qint64 echoMs = 1000;
};

// One board: its own copy of the loaded state, its line, and its outcome.
// The protocol's pauses are for a person watching the window; here the
// outcome is printed at once instead.
class Board : public LinkHost {
 public:
  enum class Phase { WaitingForSignal, Transferring, Done };

  Board(const AppState& loaded, const std::string& mapDir) : state_(loaded), line_(mapDir) {
    line_.onReceive = [this] { Receive(); };
    line_.onFailure = [this](const std::string& why) { LineFailed(why); };
  }

  bool Open(const BoardTarget& target, const std::string& settings);
  void PulseReset(const std::string& which);
  void Start(const Timeouts& timeouts, const QElapsedTimer& clock);
  void Service() { line_.WaitForInput(0); }
  void CheckDeadline(qint64 now);

  int Handle() const { return line_.Handle(); }
  bool Active() const { return phase_ != Phase::Done; }
  qint64 Deadline() const { return deadline_; }
  const std::string& Name() const { return name_; }
  const std::string& Outcome() const { return outcome_; }
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
  void Finish(int exitCode, std::string outcome);
  void LineFailed(const std::string& why);
  std::string Where() const {
    return name_ == line_.DevicePath() ? name_ : name_ + " (" + line_.DevicePath() + ")";
  }
  void TakeOutcome(const std::string& lineFailure);

  AppState state_;
  QtSerialLine line_;
  ConsoleDialogs dialogs_;
  std::string name_;
  Phase phase_ = Phase::WaitingForSignal;
  Timeouts timeouts_;
  const QElapsedTimer* clock_ = nullptr;
  qint64 deadline_ = 0, transferStart_ = 0, finishedAt_ = 0;
  int32_t lastIndex_ = 0;
  bool started_ = false;
  std::optional<TransferOutcome> ended_;
  std::string outcome_;
  int exitCode_ = kExitFailure;
};

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
  started_ = true;
  transferStart_ = clock_->elapsed();
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
  line.done = started_ ? std::max(0, state_.FrameIndex - (line.succeeded ? 0 : 1)) : 0;
  line.total = state_.FrameLength;
  line.elapsedMs = started_ ? end - transferStart_ : 0;
  line.note = line.finished ? outcome_ : (started_ ? "" : "waiting for the signal");
  return line;
}

// The lines to wait on; kept from round to round, so that a byte allocates nothing.
struct PollSet {
  std::vector<pollfd> fds;
  std::vector<Board*> owners;
};

// Waits for any board's line, or the nearest deadline or redraw.
void PollOnce(std::vector<std::unique_ptr<Board>>& boards, qint64 now, PollSet& set) {
  set.fds.clear();
  set.owners.clear();
  qint64 wait = kRedrawMs;
  for (auto& board : boards) {
    if (!board->Active()) continue;
    set.fds.push_back(pollfd{board->Handle(), POLLIN, 0});
    set.owners.push_back(board.get());
    wait = std::min(wait, std::max<qint64>(0, board->Deadline() - now));
  }
  if (poll(set.fds.data(), set.fds.size(), static_cast<int>(wait)) <= 0) return;
  for (size_t i = 0; i < set.fds.size(); ++i) {
    if (set.fds[i].revents != 0) set.owners[i]->Service();
  }
}

int RunBoards(std::vector<std::unique_ptr<Board>>& boards, const Timeouts& timeouts, ProgressDisplay& display) {
  QElapsedTimer clock;
  clock.start();
  for (auto& board : boards) board->Start(timeouts, clock);
  auto anyActive = [&] {
    for (auto& board : boards) {
      if (board->Active()) return true;
    }
    return false;
  };
  qint64 nextDraw = 0;
  PollSet set;
  while (anyActive()) {
    PollOnce(boards, clock.elapsed(), set);
    const qint64 now = clock.elapsed();
    for (auto& board : boards) board->CheckDeadline(now);
    if (now >= nextDraw) {
      std::vector<ProgressLine> lines;
      for (auto& board : boards) lines.push_back(board->Progress(now));
      display.Draw(lines);
      nextDraw = now + kRedrawMs;
    }
  }
  std::vector<ProgressLine> lines;
  int exitCode = kExitSuccess;
  for (auto& board : boards) {
    lines.push_back(board->Progress(clock.elapsed()));
    if (board->ExitCode() != kExitSuccess && exitCode == kExitSuccess) exitCode = board->ExitCode();
  }
  display.Finish(lines);
  return exitCode;
}

}  // namespace

namespace {

std::optional<int> PositiveNumber(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value <= 0) return std::nullopt;
  return value;
}

// The boards named on the command line, or the stored port number.
std::optional<std::vector<BoardTarget>> Targets(const QCommandLineParser& parser) {
  std::vector<BoardTarget> targets;
  for (const QString& port : parser.values("port")) {
    const auto number = PositiveNumber(port);
    if (!number) return std::nullopt;
    targets.push_back(BoardTarget{*number, ""});
  }
  for (const QString& device : parser.values("device")) targets.push_back(BoardTarget{0, LocalPath(device)});
  if (targets.empty()) {
    const auto stored = NumberValue(SettingsStore().ReadSetting("Serial Port Number", "2"));
    if (!stored) return std::nullopt;
    targets.push_back(BoardTarget{*stored, ""});
  }
  return targets;
}

void AddOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      "Loads FILE.hex as \"Open HEX File\" does, opens the serial port, waits for the bootloader's "
      "signal, answers it and sends the download frame byte by byte, checking every echo.\n"
      "Several --port and --device options flash several boards at once.\n"
      "Exit status: 0 \"Download completed!\" on every board, 1 a faulty file or a failed "
      "download (the failing byte is named), 2 usage or configuration error, 3 the frame was "
      "refused.");
  parser.addPositionalArgument("FILE.hex", "The Intel HEX file to send.");
  parser.addOption(ConfigOption());
  parser.addOption({"port", "Serial port number N, through the port map (default: the stored number).", "N"});
  parser.addOption({"device", "Serial device PATH, such as /dev/ttyUSB0.", "PATH"});
  parser.addOption({"baud", "Baud rate (default: the stored rate, 19200 at first).", "B"});
  parser.addOption({"signal-timeout", "Seconds to wait for the bootloader's signal (default 30).", "S", "30"});
  parser.addOption({"echo-timeout", "Milliseconds to wait for each echo (default 1000).", "MS", "1000"});
  parser.addOption({"reset", "Pulse the dtr or rts line before waiting, to reset the board.", "LINE"});
  parser.addOption({"no-progress", "Do not draw the progress bar."});
}

}  // namespace

int RunDownload(const QStringList& args) {
  QCommandLineParser parser;
  AddOptions(parser);
  if (auto done = ParseCommand(parser, "download", args)) return *done;
  if (parser.positionalArguments().size() != 1) return UsageError("download", "expects one HEX file.");
  const auto signalSeconds = PositiveNumber(parser.value("signal-timeout"));
  const auto echoMs = PositiveNumber(parser.value("echo-timeout"));
  if (!signalSeconds || !echoMs) return UsageError("download", "time-outs are positive whole numbers.");
  const QString reset = parser.value("reset");
  if (!reset.isEmpty() && reset != "dtr" && reset != "rts") return UsageError("download", "--reset takes dtr or rts.");
  const auto targets = Targets(parser);
  if (!targets) return UsageError("download", "a port number is a positive whole number.");
  if (parser.isSet("baud") && !PositiveNumber(parser.value("baud"))) {
    return UsageError("download", "--baud takes a positive whole number.");
  }

  AppState state;
  if (!SetUpState(state, parser.value("config"))) return kExitUsage;
  const LoadOutcome outcome = LoadFileArgument(state, parser.positionalArguments().front());
  if (outcome != LoadOutcome::Loaded) return ExitStatus(outcome);
  AppState probe = state;  // refuse before any port is touched
  probe.LinkState = 1;
  if (const std::string why = BuildDownloadFrame(probe); !why.empty()) {
    PrintLine(stderr, why);
    return kExitRefused;
  }

  const std::string baud = parser.isSet("baud") ? parser.value("baud").toStdString()
                                                : SettingsStore().ReadSetting("Serial Port Baud Rate", "19200");
  std::vector<std::unique_ptr<Board>> boards;
  for (const BoardTarget& target : *targets) {
    boards.push_back(std::make_unique<Board>(state, SettingsStore::PortMapDirectory()));
    if (boards.back()->Open(target, baud + ",n,8,1") && !reset.isEmpty()) {
      boards.back()->PulseReset(reset.toStdString());
    }
  }
  ProgressDisplay display(isatty(STDERR_FILENO) != 0 && !parser.isSet("no-progress"));
  return RunBoards(boards, Timeouts{qint64{*signalSeconds} * 1000, *echoMs}, display);
}
