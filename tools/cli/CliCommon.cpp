#include "CliCommon.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include "DeviceDescription.h"
#include "ProgramFolder.h"
#include "ZentrelVersion.h"

void PrintLine(std::FILE* stream, const std::string& text) {
  std::string line;
  line.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    line.push_back(text[i]);
  }
  line.push_back('\n');
  std::fputs(line.c_str(), stream);
  std::fflush(stream);
}

void PrintError(const QString& text) { PrintLine(stderr, text.toStdString()); }

QCommandLineOption ConfigOption() {
  return QCommandLineOption("config", "Read the device description from PATH instead of the "
                                      "config.txt beside the program.", "PATH");
}

void PrintVersion() { std::printf("zentrel-cli %s\n", kZentrelVersion); }

QCommandLineOption QuietOption() { return QCommandLineOption({"q", "quiet"}, "Print nothing but errors."); }

QCommandLineOption JsonOption(const QString& what) {
  return QCommandLineOption("json", "Print the result on stdout as JSON: " + what + ".");
}

Echo EchoOf(const QCommandLineParser& parser) {
  if (parser.isSet("json")) return Echo::None;
  return parser.isSet("quiet") ? Echo::FaultsOnly : Echo::All;
}

void PrintJson(const QJsonObject& object) {
  std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
  std::fflush(stdout);
}

std::optional<int> ParseCommand(QCommandLineParser& parser, const QString& command,
                                const QStringList& args) {
  const QCommandLineOption help = parser.addHelpOption();
  // Qt's own version option takes -v, which download uses for --verbose.
  const QCommandLineOption version("version", "Displays version information.");
  parser.addOption(version);
  if (!parser.parse(QStringList{"zentrel-cli"} + args)) {
    return UsageError(command, parser.errorText());
  }
  if (parser.isSet(version)) {
    PrintVersion();
    return kExitSuccess;
  }
  if (parser.isSet(help) || parser.isSet("help-all")) {
    // Qt names only the program in the usage line; the command belongs there too.
    QString text = parser.helpText();
    text.replace(QRegularExpression("^Usage: \\S+"), "Usage: zentrel-cli " + command);
    std::fputs(text.toStdString().c_str(), stdout);
    return kExitSuccess;
  }
  return std::nullopt;
}

int UsageError(const QString& command, const QString& text) {
  PrintError("zentrel-cli " + command + ": " + text);
  PrintError("Try 'zentrel-cli " + command + " --help'.");
  return kExitUsage;
}

bool WriteBytes(const QString& command, const QString& path, const uint8_t* data, size_t size) {
  QFile out(path);
  const auto length = static_cast<qint64>(size);
  if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
      out.write(reinterpret_cast<const char*>(data), length) == length && out.flush()) {
    return true;
  }
  PrintError("zentrel-cli " + command + ": cannot write " + path + ": " + out.errorString());
  return false;
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

bool SetUpState(AppState& state, const QString& configPath) {
  state.AppDir = ProgramDirectory();
  const std::string config = configPath.isEmpty() ? state.AppDir + "config.txt" : LocalPath(configPath);
  std::string error;
  if (!ReadDeviceDescription(config, state.Device, error)) {
    PrintLine(stderr, error);
    return false;
  }
  state.LinkState = 0;
  return true;
}

LoadedFile LoadFileArgument(AppState& state, const QString& file, Echo echo) {
  const FolderAndName parts = SplitFolder(LocalPath(file));
  state.LastPath = parts.folder;
  MessageCollector dialogs;
  NoControls controls;
  LoadedFile loaded;
  loaded.outcome = LoadProgramFile(state, parts.name, dialogs, controls, &loaded.endRecord);
  for (const std::string& text : dialogs.messages) loaded.message += (loaded.message.empty() ? "" : "\n") + text;
  const bool success = loaded.outcome == LoadOutcome::Loaded;
  if (echo == Echo::All || (echo == Echo::FaultsOnly && !success)) {
    PrintLine(success ? stdout : stderr, loaded.message);
  }
  // A cut-off file would flash a partial program: worth saying even when quiet.
  if (loaded.Truncated()) PrintLine(stderr, TruncationWarning(file));
  return loaded;
}

namespace {

const char* OutcomeName(LoadOutcome outcome) {
  switch (outcome) {
    case LoadOutcome::Loaded:
      return "loaded";
    case LoadOutcome::Faulty:
      return "faulty";
    case LoadOutcome::Refused:
      break;
  }
  return "refused";
}

}  // namespace

QJsonObject LoadRecord(const QString& file, const LoadedFile& loaded, const AppState& state, int exitCode) {
  return {{"file", file},
          {"outcome", OutcomeName(loaded.outcome)},
          {"message", QString::fromStdString(loaded.message).replace("\r\n", "\n")},
          {"programBytes", state.ProgramBytes},
          {"flashSize", state.Device.FlashSize},
          {"endRecord", loaded.endRecord},
          {"exitStatus", exitCode}};
}

std::string TruncationWarning(const QString& file) {
  return "warning: " + LocalPath(file) + " has no end-of-file record; it may be truncated.";
}

int ExitStatus(LoadOutcome outcome) {
  switch (outcome) {
    case LoadOutcome::Loaded:
      return kExitSuccess;
    case LoadOutcome::Faulty:
      return kExitFailure;
    case LoadOutcome::Refused:
      break;
  }
  return kExitUsage;
}
