// zentrel-cli frame: the bytes that the window's download command would send.
#include <cerrno>
#include <cstring>

#include "DownloadFrame.h"
#include "CliCommon.h"
#include "Commands.h"

namespace {
// The bytes alone go to stdout, for a pipe; every line of text to stderr.
bool WriteToStdout(const uint8_t* data, size_t size) {
  if (std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0) return true;
  PrintLine(stderr, std::string("zentrel-cli frame: cannot write to standard output: ") +
                        std::strerror(errno));
  return false;
}
}  // namespace

int RunFrame(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Loads FILE.hex as \"Open HEX File\" does and writes the download frame that \"Download "
      "HEX File\" would send, first byte first.\nExit status: 0 written, 1 faulty file, 2 usage "
      "or configuration error, 3 the frame was refused.");
  parser.addPositionalArgument("FILE.hex", "The Intel HEX file to load.");
  parser.addOption(ConfigOption());
  const QCommandLineOption out(
      "out", "Write the frame bytes to PATH (required); - writes them alone to stdout.", "PATH");
  parser.addOption(out);
  if (auto done = ParseCommand(parser, "frame", args)) return *done;
  if (parser.positionalArguments().size() != 1) return UsageError("frame", "expects one HEX file.");
  if (!parser.isSet(out)) return UsageError("frame", "--out PATH is required.");

  const bool toStdout = parser.value(out) == "-";
  // Text never goes where the bytes go, whatever name reaches stdout's file.
  std::FILE* const textStream = toStdout ? stderr : TextStreamBeside(LocalPath(parser.value(out)));
  AppState state;
  if (!SetUpState(state, parser.value("config"))) return kExitUsage;
  const LoadOutcome outcome = LoadFileArgument(state, parser.positionalArguments().front(),
                                               textStream != nullptr ? Echo::All : Echo::FaultsOnly,
                                               textStream != nullptr ? textStream : stderr)
                                  .outcome;
  if (outcome != LoadOutcome::Loaded) return ExitStatus(outcome);

  const std::string refusal = BuildDownloadFrame(state);
  if (!refusal.empty()) {
    PrintLine(stderr, refusal);
    return kExitRefused;
  }
  const uint8_t* slot1 = state.DownloadFrame.data() + 1;
  const auto length = static_cast<size_t>(state.FrameLength);
  if (toStdout ? !WriteToStdout(slot1, length)
               : !WriteBytes("frame", parser.value(out), slot1, length)) {
    return kExitUsage;
  }
  if (textStream == nullptr) return kExitSuccess;
  PrintLine(textStream, "Wrote " + std::to_string(state.FrameLength) + " frame bytes to " +
                            (toStdout ? std::string("standard output") : LocalPath(parser.value(out))) +
                            ".");
  return kExitSuccess;
}
