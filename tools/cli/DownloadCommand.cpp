// zentrel-cli download: the window's download from a terminal or a script,
// with time-outs, for one board or several at once. This file holds the
// options and the set-up; Board and BoardLoop do the work.
#include <unistd.h>

#include <QCryptographicHash>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BoardLoop.h"
#include "DeviceWatch.h"
#include "ByteSource.h"
#include "Commands.h"
#include "DownloadFrame.h"
#include "NumberValue.h"
#include "RunReport.h"
#include "SettingsStore.h"
#include "StopSignals.h"

namespace {

std::optional<int> PositiveNumber(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value <= 0) return std::nullopt;
  return value;
}

// The devices that --usb chooses, each once; a filter that chooses none is
// an error, said in error, unless devices are watched for.
std::vector<BoardTarget> UsbTargets(const std::vector<UsbFilter>& filters, bool watch, QString& error) {
  std::vector<BoardTarget> targets;
  if (filters.empty()) return targets;  // listing the devices is costly
  const std::vector<SerialDevice> listed = ListSerialDevices();
  for (const UsbFilter& filter : filters) {
    if (!watch && MatchingDevices(listed, {filter}).empty()) {
      error = "no serial device matches --usb " + QString::fromStdString(filter.text) +
              " (zentrel-cli ports lists the devices and their ids).";
    }
  }
  for (const SerialDevice& device : MatchingDevices(listed, filters)) targets.push_back(BoardTarget{0, device.path});
  return targets;
}

// The boards named on the command line, or the stored port number; a
// usage error's text otherwise.
std::optional<std::vector<BoardTarget>> Targets(const QCommandLineParser& parser, QString& error) {
  std::vector<BoardTarget> targets;
  for (const QString& port : parser.values("port")) {
    const auto number = PositiveNumber(port);
    if (!number) {
      error = "a port number is a positive whole number.";
      return std::nullopt;
    }
    targets.push_back(BoardTarget{*number, ""});
  }
  // A relative path names a file from the current folder, not one in /dev.
  for (const QString& device : parser.values("device")) {
    targets.push_back(BoardTarget{0, AbsoluteLocalPath(device)});
  }
  if (targets.empty() && !parser.isSet("usb") && !parser.isSet("watch")) {
    SettingsStore store;
    const auto stored = NumberValue(ReadStored(store, kPortNumberSetting));
    if (!stored) {
      error = "the stored port number is not a positive whole number; give --port.";
      return std::nullopt;
    }
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
  parser.addOption(UsbOption("Every serial device"));
  parser.addOption({"device", "Serial device PATH, such as /dev/ttyUSB0; a relative PATH is from the "
                              "current folder.", "PATH"});
  parser.addOption({"baud", "Baud rate (default: the stored rate, 19200 at first).", "B"});
  parser.addOption({"signal-timeout", "Seconds to wait for the bootloader's signal (default 30; none "
                                      "with --loop).", "S", "30"});
  parser.addOption({"echo-timeout", "Milliseconds to wait for each echo (default 1000).", "MS", "1000"});
  parser.addOption({"reset", "Reset the board through the adapter's lines after opening the port and "
                             "before each retry: [-]LINE[:PULSE[:SETTLE]], LINE dtr or rts, - for a line "
                             "active when low, PULSE and SETTLE in ms (default 50 and 0), steps joined by "
                             "commas; e.g. dtr or -rts:50:100.", "SEQ"});
  parser.addOption({"retries", "After a failed attempt, reset and start over from the first byte, up "
                               "to N times (default 0).", "N", "0"});
  parser.addOption({"loop", "Keep every port open and flash each board that signals, round after "
                            "round; a port that fails is tried again every second; Ctrl-C prints "
                            "the totals."});
  parser.addOption({"settle", "With --loop: after a board is flashed, take the next one only once its "
                              "line has been quiet for S seconds (default 3), so that a program that "
                              "resets is not flashed again.", "S", "3"});
  parser.addOption({"watch", "With --loop: take every serial device that appears (of those --usb "
                             "chooses, if given), and every COM link that appears in the port map, as a "
                             "new board; drop a board whose device goes."});
  parser.addOption({"log", "Append one JSON line per attempt to FILE, a regular file.", "FILE"});
  parser.addOption({"station", "Name the station in every result line and record.", "NAME"});
  parser.addOption({"serial-number", "Write a unit number into each board's program: ADDR:FIRST[:BYTES], "
                                     "ADDR in hexadecimal inside the program and above 7, FIRST the "
                                     "lowest number, BYTES 1 to 8 (default 4), least significant first.",
                    "SPEC"});
  parser.addOption({"serial-file", "The counter that --serial-number takes numbers from (default: "
                                   "$XDG_STATE_HOME/quorvel-zentrel/serial-number); shared safely by "
                                   "several stations.", "PATH"});
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
  std::string resetError;
  const auto reset = parser.isSet("reset") ? ParseResetSequence(parser.value("reset").toStdString(), resetError)
                                           : ResetSequence{};
  if (!signalSeconds || !echoMs) {
    error = "time-outs are positive whole numbers.";
  } else if (!settleMs) {
    error = "--settle takes a number of seconds from 0 to 86400.";
  } else if (!reset) {
    error = "--reset " + QString::fromStdString(resetError) + ".";
  } else if (!retries) {
    error = "--retries takes a whole number.";
  } else if (parser.isSet("baud") && !PositiveNumber(parser.value("baud"))) {
    error = "--baud takes a positive whole number.";
  } else if (parser.isSet("quiet") && parser.isSet("verbose")) {
    error = "-q and -v exclude each other.";
  } else if (parser.isSet("watch") && !parser.isSet("loop")) {
    error = "--watch goes with --loop.";
  }
  if (!error.isEmpty()) return std::nullopt;
  BoardPolicy policy;
  policy.signalMs = qint64{*signalSeconds} * 1000;
  policy.echoMs = *echoMs;
  policy.settleMs = *settleMs;
  policy.loop = parser.isSet("loop");
  policy.retries = *retries;
  policy.reset = *reset;
  policy.verbose = parser.isSet("verbose");
  return policy;
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
  facts.frameSha256 = FrameSha256(framed);
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
    PrintJson(AttemptRecord(attempt, Facts(hexFile, loaded, AppState{}, unreadable),
                            parser.value("station").toStdString(), RecordTime()));
  }
  return loaded.ExitStatus();
}

ProgressDisplay::Mode DisplayMode(const QCommandLineParser& parser) {
  if (parser.isSet("no-progress") || parser.isSet("quiet") || parser.isSet("verbose")) {
    return ProgressDisplay::Mode::Off;
  }
  return isatty(STDERR_FILENO) != 0 ? ProgressDisplay::Mode::Live : ProgressDisplay::Mode::Plain;
}

// With --serial-number: the place is checked against the program area of
// the frame, and the counter's next number must fit, before anything is
// sent; why not, in loaded's refusal. Nothing, or the exit status of a
// usage error.
std::optional<int> SetUpUnitNumbers(const QCommandLineParser& parser, const AppState& framed, LoadedFile& loaded,
                                    std::optional<UnitNumbers>& numbers) {
  if (!parser.isSet("serial-number")) return std::nullopt;
  std::string error;
  const auto place = ParseSerialNumberPlace(parser.value("serial-number").toStdString(), error);
  if (!place) return UsageError("download", "--serial-number " + QString::fromStdString(error) + ".");
  const std::string file = parser.isSet("serial-file") ? LocalPath(parser.value("serial-file")) : DefaultSerialFile();
  numbers.emplace(UnitNumbers{*place, SerialCounter(file)});
  error = CheckSerialNumberPlace(*place, framed.ProgramBytes);
  if (error.empty()) loaded.counterRefused = !numbers->counter.Peek(*place, error);
  if (!error.empty()) loaded.refusal = "The download was refused: " + error + ".";
  return std::nullopt;
}

// --watch: the boards that the watch made, and the keys of their devices.
struct WatchedBoards {
  DeviceWatch watch;
  std::map<const Board*, std::string> keys;
};

// A board for each device that appeared; a board whose device went is
// dropped once no transfer runs on it (one in flight fails on its line first).
void RefreshWatched(WatchedBoards& watched, Boards& boards, BoardEvents& events,
                    const std::function<Board&(const BoardTarget&)>& add) {
  const std::vector<WatchedDevice> appeared = watched.watch.Scan();
  std::erase_if(boards, [&](const std::unique_ptr<Board>& board) {
    const auto key = watched.keys.find(board.get());
    if (key == watched.keys.end() || watched.watch.Has(key->second) || board->Transferring()) return false;
    events.Note(board->Progress(0).name + " has gone; its board is dropped.");
    watched.keys.erase(key);
    return true;
  });
  for (const WatchedDevice& device : appeared) {
    events.Note(device.Name() + " appeared: a new board.");
    watched.keys[&add(device.target)] = device.key;
  }
}

// The boards of the command line, and with --watch those that come and go,
// driven until done or stopped; the stop signal's number, or 0.
int RunStation(const QCommandLineParser& parser, const AppState& state, const BoardPolicy& policy,
               const std::vector<UsbFilter>& filters, const std::vector<BoardTarget>& targets, RunReport& report,
               ProgressDisplay& display) {
  SettingsStore store;
  const std::string baud = parser.isSet("baud") ? parser.value("baud").toStdString()
                                                : ReadStored(store, kBaudRateSetting);
  const int stopFd = OpenStopSignals();
  QElapsedTimer clock;
  clock.start();
  Boards boards;
  auto add = [&](const BoardTarget& target) -> Board& {
    boards.push_back(std::make_unique<Board>(state, SettingsStore::PortMapDirectory()));
    boards.back()->Start(policy, clock, report);
    boards.back()->Open(target, baud + ",n,8,1");
    return *boards.back();
  };
  for (const BoardTarget& target : targets) add(target);
  std::optional<WatchedBoards> watched;
  std::function<void(Boards&)> refresh;
  if (parser.isSet("watch")) {
    watched.emplace(WatchedBoards{DeviceWatch(filters, SettingsStore::PortMapDirectory()), {}});
    watched->watch.Start(targets);
    refresh = [&](Boards& all) { RefreshWatched(*watched, all, report, add); };
    report.Note("Watching for serial devices" + std::string(filters.empty() ? "" : " that --usb chooses") +
                " and COM links in " + SettingsStore::PortMapDirectory() + " that appear.");
  }
  return RunBoards(boards, clock, display, stopFd, refresh);
}

}  // namespace

int RunDownload(const QStringList& args) {
  QCommandLineParser parser;
  AddOptions(parser);
  if (auto done = ParseCommand(parser, "download", args)) return *done;
  if (parser.positionalArguments().size() != 1) return UsageError("download", "expects one HEX file.");
  QString error;
  auto policy = Policy(parser, error);
  const auto filters = policy ? UsbFiltersOf(parser, error) : std::nullopt;
  auto targets = filters ? Targets(parser, error) : std::nullopt;
  if (!targets) return UsageError("download", error);

  AppState state;
  if (!SetUpState(state, parser.value("config"))) return kExitUsage;
  const QString hexFile = parser.positionalArguments().front();
  // stdout holds the results alone.
  LoadedFile loaded = LoadFileArgument(state, hexFile, EchoOf(parser), stderr);
  AppState probe = state;  // refuse before any port is touched
  std::optional<UnitNumbers> unitNumbers;
  if (loaded.outcome != LoadOutcome::Loaded || !BuildFrameOrRefuse(probe, loaded, EchoOf(parser))) {
    return Refuse(parser, hexFile, loaded);
  }
  if (auto usage = SetUpUnitNumbers(parser, probe, loaded, unitNumbers)) return *usage;
  if (!loaded.refusal.empty()) {
    if (EchoOf(parser) != Echo::None) PrintLine(stderr, loaded.refusal);
    return Refuse(parser, hexFile, loaded);
  }
  const std::vector<BoardTarget> chosen = UsbTargets(*filters, parser.isSet("watch"), error);
  if (!error.isEmpty()) {
    PrintError("zentrel-cli download: " + error);
    return kExitFailure;
  }
  targets->insert(targets->end(), chosen.begin(), chosen.end());
  AttemptLog log;
  std::string logError;
  if (parser.isSet("log") && !log.Open(LocalPath(parser.value("log")), logError)) {
    return UsageError("download", "cannot open the log " + parser.value("log") + ": " + QString::fromStdString(logError));
  }
  std::string unreadable;
  const RunFacts facts = Facts(hexFile, loaded, probe, unreadable);
  if (!unreadable.empty()) {
    return UsageError("download", "cannot read " + hexFile + ": " + QString::fromStdString(unreadable));
  }
  ProgressDisplay display(DisplayMode(parser));
  RunReport report({policy->loop, parser.isSet("json"), parser.isSet("quiet"), parser.value("station").toStdString()},
                   facts, display, log);
  if (unitNumbers) policy->unitNumbers = &*unitNumbers;
  const int stop = RunStation(parser, state, *policy, *filters, *targets, report, display);
  if (policy->loop) report.Summary();
  // Ending a loop between boards is how a shift ends; cutting a board short is not.
  if (stop != 0 && (report.Interrupted() > 0 || !policy->loop)) return 128 + stop;
  const int status = policy->loop ? (report.Failed() == 0 ? kExitSuccess : kExitFailure) : report.FirstFailure();
  // The results on stdout are whole; a log that misses some must not pass.
  const bool told = status == kExitSuccess || status == kExitFailure;
  return report.LogIncomplete() && told ? kExitLogIncomplete : status;
}
