// zentrel-cli download: the window's download from a terminal or a script,
// with time-outs, for one board or several at once. This file holds the
// options and the set-up; Board and BoardLoop do the work.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCryptographicHash>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BoardLoop.h"
#include "ByteSource.h"
#include "Commands.h"
#include "DownloadFrame.h"
#include "NumberValue.h"
#include "RunReport.h"
#include "SettingsStore.h"

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
  // A relative path names a file from the current folder, not one in /dev.
  for (const QString& device : parser.values("device")) {
    targets.push_back(BoardTarget{0, AbsoluteLocalPath(device)});
  }
  if (targets.empty()) {
    SettingsStore store;
    const auto stored = NumberValue(ReadStored(store, kPortNumberSetting));
    if (!stored) return std::nullopt;
    targets.push_back(BoardTarget{*stored, ""});
  }
  return targets;
}

void AddOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      "Loads FILE.hex as \"Open HEX File\" does, opens the serial port, waits for the bootloader's "
      "signal, answers it and sends the download frame byte by byte, checking every echo.\n"
      "Several --port and --device options flash several boards at once; --loop flashes every "
      "board that signals, again and again, until Ctrl-C.\n"
      "Results go to stdout, one line a board (a round); the load message, progress and "
      "diagnostics to stderr.\n"
      "Exit status: 0 \"Download completed!\" on every board (with --loop: no attempt failed), "
      "1 a faulty file or a failed download (the failing byte is named), 2 usage or "
      "configuration error, 3 the frame was refused, 4 a --log record could not be written "
      "(the log is incomplete; the results on stdout are not), 128 + the signal's number (130 "
      "Ctrl-C, 143 SIGTERM, 129 SIGHUP) when a signal cut a board short.");
  parser.addPositionalArgument("FILE.hex", "The Intel HEX file to send.");
  parser.addOption(ConfigOption());
  parser.addOption({"port", "Serial port number N, through the port map (default: the stored number).", "N"});
  parser.addOption({"device", "Serial device PATH, such as /dev/ttyUSB0; a relative PATH is from the "
                              "current folder.", "PATH"});
  parser.addOption({"baud", "Baud rate (default: the stored rate, 19200 at first).", "B"});
  parser.addOption({"signal-timeout", "Seconds to wait for the bootloader's signal (default 30; none "
                                      "with --loop).", "S", "30"});
  parser.addOption({"echo-timeout", "Milliseconds to wait for each echo (default 1000).", "MS", "1000"});
  parser.addOption({"reset", "Pulse the dtr or rts line to reset the board: after opening the port "
                             "and before each retry.", "LINE"});
  parser.addOption({"retries", "After a failed attempt, reset and start over from the first byte, up "
                               "to N times (default 0).", "N", "0"});
  parser.addOption({"loop", "Keep every port open and flash each board that signals, round after "
                            "round; a port that fails is tried again every second; Ctrl-C prints "
                            "the totals."});
  parser.addOption({"settle", "With --loop: after a board is flashed, take the next one only once its "
                              "line has been quiet for S seconds (default 3), so that a program that "
                              "resets is not flashed again.", "S", "3"});
  parser.addOption({"log", "Append one JSON line per attempt to FILE, a regular file.", "FILE"});
  parser.addOption(JsonOption("one object per board (per attempt with --loop, then the totals); "
                              "the keys are in zentrel-cli(1)"));
  parser.addOption(QuietOption());
  parser.addOption({{"v", "verbose"}, "Also print every byte sent and received."});
  parser.addOption({"no-progress", "Do not draw the progress bar."});
}

std::optional<int> WholeNumber(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < 0) return std::nullopt;
  return value;
}

// Seconds, fractions allowed, as milliseconds; up to a day.
std::optional<qint64> SecondsAsMs(const QString& text) {
  bool ok = false;
  const double seconds = text.toDouble(&ok);
  if (!ok || !(seconds >= 0 && seconds <= 86400)) return std::nullopt;
  return std::llround(seconds * 1000);
}

// The policy from the options; a usage error's text otherwise.
std::optional<BoardPolicy> Policy(const QCommandLineParser& parser, QString& error) {
  const auto signalSeconds = PositiveNumber(parser.value("signal-timeout"));
  const auto echoMs = PositiveNumber(parser.value("echo-timeout"));
  const auto retries = WholeNumber(parser.value("retries"));
  const auto settleMs = SecondsAsMs(parser.value("settle"));
  const QString reset = parser.value("reset");
  if (!signalSeconds || !echoMs) {
    error = "time-outs are positive whole numbers.";
  } else if (!settleMs) {
    error = "--settle takes a number of seconds from 0 to 86400.";
  } else if (!reset.isEmpty() && reset != "dtr" && reset != "rts") {
    error = "--reset takes dtr or rts.";
  } else if (!retries) {
    error = "--retries takes a whole number.";
  } else if (parser.isSet("baud") && !PositiveNumber(parser.value("baud"))) {
    error = "--baud takes a positive whole number.";
  } else if (parser.isSet("quiet") && parser.isSet("verbose")) {
    error = "-q and -v exclude each other.";
  }
  if (!error.isEmpty()) return std::nullopt;
  BoardPolicy policy;
  policy.signalMs = qint64{*signalSeconds} * 1000;
  policy.echoMs = *echoMs;
  policy.settleMs = *settleMs;
  policy.loop = parser.isSet("loop");
  policy.retries = *retries;
  policy.reset = reset.toStdString();
  policy.verbose = parser.isSet("verbose");
  return policy;
}

std::string Sha256(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

// Read in pieces, so that a file of any size costs no more memory than
// loading it; "" with the reason when it cannot be read.
std::string FileSha256(const std::string& path, std::string& error) {
  FileSource source(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  std::vector<char> buffer(size_t{1} << 16);
  for (size_t got; (got = source.Read(buffer.data(), buffer.size())) > 0;) {
    hash.addData(QByteArrayView(buffer.data(), static_cast<qsizetype>(got)));
  }
  error = source.error();
  return error.empty() ? hash.result().toHex().toStdString() : "";
}

// The frame's facts only once it is built (FrameLength above 0); error says
// why the HEX file could not be read.
RunFacts Facts(const QString& hexFile, const LoadedFile& loaded, const AppState& framed, std::string& error) {
  RunFacts facts;
  facts.notProgrammed = loaded.notes.otherAreas;
  facts.hexPath = AbsoluteLocalPath(hexFile);
  facts.hexSha256 = FileSha256(LocalPath(hexFile), error);
  if (framed.FrameLength <= 0) return facts;
  facts.frameLength = framed.FrameLength;
  facts.frameSha256 = Sha256(QByteArray(reinterpret_cast<const char*>(framed.DownloadFrame.data()) + 1,
                                        framed.FrameLength));
  return facts;
}

// A download that stopped before any port was touched: under --json a
// download record like any other, with the reason.
int Refuse(const QCommandLineParser& parser, const QString& hexFile, const LoadedFile& loaded) {
  if (parser.isSet("json")) {
    Attempt attempt;
    attempt.exitCode = loaded.ExitStatus();
    attempt.reason = loaded.RefusalReason();
    attempt.message = loaded.refusal.empty() ? loaded.message : loaded.refusal;
    std::string unreadable;  // the message says why already
    PrintJson(AttemptRecord(attempt, Facts(hexFile, loaded, AppState{}, unreadable), RecordTime()));
  }
  return loaded.ExitStatus();
}

// Ctrl-C, SIGTERM and SIGHUP become readable on a descriptor, so that a
// board cut short is reported, logged and closed (its lock and exclusive
// mode released) before the program ends.
int StopSignalFd() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  return signalfd(-1, &stops, SFD_CLOEXEC);
}

ProgressDisplay::Mode DisplayMode(const QCommandLineParser& parser) {
  if (parser.isSet("no-progress") || parser.isSet("quiet") || parser.isSet("verbose")) {
    return ProgressDisplay::Mode::Off;
  }
  return isatty(STDERR_FILENO) != 0 ? ProgressDisplay::Mode::Live : ProgressDisplay::Mode::Plain;
}

}  // namespace

int RunDownload(const QStringList& args) {
  QCommandLineParser parser;
  AddOptions(parser);
  if (auto done = ParseCommand(parser, "download", args)) return *done;
  if (parser.positionalArguments().size() != 1) return UsageError("download", "expects one HEX file.");
  QString error;
  const auto policy = Policy(parser, error);
  if (!policy) return UsageError("download", error);
  const auto targets = Targets(parser);
  if (!targets) return UsageError("download", "a port number is a positive whole number.");

  AppState state;
  if (!SetUpState(state, parser.value("config"))) return kExitUsage;
  const QString hexFile = parser.positionalArguments().front();
  // stdout holds the results alone.
  LoadedFile loaded = LoadFileArgument(state, hexFile, EchoOf(parser), stderr);
  AppState probe = state;  // refuse before any port is touched
  if (loaded.outcome != LoadOutcome::Loaded || !BuildFrameOrRefuse(probe, loaded, EchoOf(parser))) {
    return Refuse(parser, hexFile, loaded);
  }
  AttemptLog log;
  std::string logError;
  if (parser.isSet("log") && !log.Open(LocalPath(parser.value("log")), logError)) {
    return UsageError("download", "cannot open the log " + parser.value("log") + ": " + QString::fromStdString(logError));
  }

  SettingsStore store;
  const std::string baud = parser.isSet("baud") ? parser.value("baud").toStdString()
                                                : ReadStored(store, kBaudRateSetting);
  std::string unreadable;
  const RunFacts facts = Facts(hexFile, loaded, probe, unreadable);
  if (!unreadable.empty()) {
    return UsageError("download", "cannot read " + hexFile + ": " + QString::fromStdString(unreadable));
  }
  ProgressDisplay display(DisplayMode(parser));
  RunReport report({policy->loop, parser.isSet("json"), parser.isSet("quiet")}, facts, display, log);
  const int stopFd = StopSignalFd();
  QElapsedTimer clock;
  clock.start();
  std::vector<std::unique_ptr<Board>> boards;
  for (const BoardTarget& target : *targets) {
    boards.push_back(std::make_unique<Board>(state, SettingsStore::PortMapDirectory()));
    boards.back()->Start(*policy, clock, report);
    boards.back()->Open(target, baud + ",n,8,1");
  }
  const int stop = RunBoards(boards, clock, display, stopFd);
  if (policy->loop) report.Summary();
  // Ending a loop between boards is how a shift ends; cutting a board short is not.
  if (stop != 0 && (report.Interrupted() > 0 || !policy->loop)) return 128 + stop;
  const int status = policy->loop ? (report.Failed() == 0 ? kExitSuccess : kExitFailure) : report.FirstFailure();
  // The results on stdout are whole; a log that misses some must not pass.
  const bool told = status == kExitSuccess || status == kExitFailure;
  return report.LogIncomplete() && told ? kExitLogIncomplete : status;
}
