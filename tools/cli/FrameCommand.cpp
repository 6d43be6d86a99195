// zentrel-cli frame: the bytes that the window's download command would send.
#include "DownloadFrame.h"
#include "CliCommon.h"
#include "Commands.h"

int RunFrame(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Loads FILE.hex as \"Open HEX File\" does and writes the download frame that \"Download "
      "HEX File\" would send, first byte first.\nExit status: 0 written, 1 faulty file, 2 usage "
      "or configuration error, 3 the frame was refused.");
  parser.addPositionalArgument("FILE.hex", "The Intel HEX file to load.");
  parser.addOption(ConfigOption());
  const QCommandLineOption out("out", "Write the frame bytes to PATH (required).", "PATH");
  parser.addOption(out);
  if (auto done = ParseCommand(parser, "frame", args)) return *done;
  if (parser.positionalArguments().size() != 1) return UsageError("frame", "expects one HEX file.");
  if (!parser.isSet(out)) return UsageError("frame", "--out PATH is required.");

  AppState state;
  if (!SetUpState(state, parser.value("config"))) return kExitUsage;
  const LoadOutcome outcome = LoadFileArgument(state, parser.positionalArguments().front()).outcome;
  if (outcome != LoadOutcome::Loaded) return ExitStatus(outcome);

  const std::string refusal = BuildDownloadFrame(state);
  if (!refusal.empty()) {
    PrintLine(stderr, refusal);
    return kExitRefused;
  }
  const uint8_t* slot1 = state.DownloadFrame.data() + 1;
  if (!WriteBytes("frame", parser.value(out), slot1, static_cast<size_t>(state.FrameLength))) {
    return kExitUsage;
  }
  PrintLine(stdout, "Wrote " + std::to_string(state.FrameLength) + " frame bytes to " +
                        LocalPath(parser.value(out)) + ".");
  return kExitSuccess;
}
