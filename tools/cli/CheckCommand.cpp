// zentrel-cli check: load a HEX file as the window does.
#include "CliCommon.h"
#include "Commands.h"

int RunCheck(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Loads FILE.hex into a program image as the window's \"Open HEX File\" does and prints "
      "the same message, then runs the download's own checks on it.\nExit status: 0 loaded, 1 faulty "
      "file (with --strict also a file without an end-of-file record), 2 usage or configuration "
      "error, 3 a download of the file would be refused (the reason is printed).");
  parser.addPositionalArgument("FILE.hex", "The Intel HEX file to load.");
  parser.addOption(ConfigOption());
  const QCommandLineOption imageOut(
      "image-out", "Write the program image (flash: bytes, 0xFF where nothing was loaded) to PATH.",
      "PATH");
  parser.addOption(imageOut);
  parser.addOption({"strict", "A file without an end-of-file record fails (exit 1)."});
  parser.addOption(JsonOption("the outcome, the reason, the message and the byte counts"));
  parser.addOption(QuietOption());
  if (auto done = ParseCommand(parser, "check", args)) return *done;
  if (parser.positionalArguments().size() != 1) return UsageError("check", "expects one HEX file.");

  AppState state;
  if (!SetUpState(state, parser.value("config"))) return kExitUsage;
  const QString file = parser.positionalArguments().front();
  LoadedFile loaded = LoadFileArgument(state, file, EchoOf(parser));
  if (loaded.outcome != LoadOutcome::Refused && parser.isSet(imageOut) &&
      !WriteBytes("check", parser.value(imageOut), state.FlashImage.data(),
                  state.FlashImage.size())) {
    return kExitUsage;
  }
  AppState framed = state;
  if (loaded.outcome == LoadOutcome::Loaded) BuildFrameOrRefuse(framed, loaded, EchoOf(parser));
  int exitCode = loaded.ExitStatus();
  if (loaded.Truncated() && parser.isSet("strict")) exitCode = kExitFailure;
  if (parser.isSet("json")) {
    PrintJson(LoadRecord(file, loaded, state, exitCode));
  }
  return exitCode;
}
