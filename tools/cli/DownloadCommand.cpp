// zentrel-cli download: the window's download from a terminal or a script,
// with time-outs, for one board or several at once. This file holds the
// options and the set-up; Board and BoardLoop do the work.
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BoardLoop.h"
#include "Commands.h"
#include "DownloadFrame.h"
#include "NumberValue.h"
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
  for (const QString& device : parser.values("device")) targets.push_back(BoardTarget{0, LocalPath(device)});
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
  if (const std::string why = BuildDownloadFrame(probe); !why.empty()) {
    PrintLine(stderr, why);
    return kExitRefused;
  }

  SettingsStore store;
  const std::string baud = parser.isSet("baud") ? parser.value("baud").toStdString()
                                                : ReadStored(store, kBaudRateSetting);
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
