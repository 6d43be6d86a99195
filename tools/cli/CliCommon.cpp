#include "CliCommon.h"

#include <QFile>
#include <QRegularExpression>

#include "DeviceDescription.h"
#include "SettingsStore.h"
#include "ProgramFolder.h"

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

void ConsoleDialogs::ShowMessage(const std::string& text) {
  if (hold) {
    MessageCollector::ShowMessage(text);
  } else {
    PrintLine(stdout, text);
  }
}

void ConsoleDialogs::Release(std::FILE* stream) {
  for (const std::string& text : messages) PrintLine(stream, text);
  messages.clear();
}

QCommandLineOption ConfigOption() {
  return QCommandLineOption("config", "Read the device description from PATH instead of the "
                                      "user's own config.txt or the one beside the program.", "PATH");
}

std::optional<int> ParseCommand(QCommandLineParser& parser, const QString& command,
                                const QStringList& args) {
  const QCommandLineOption help = parser.addHelpOption();
  if (!parser.parse(QStringList{"zentrel-cli"} + args)) {
    return UsageError(command, parser.errorText());
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
  const std::string config =
      configPath.isEmpty() ? SettingsStore::DeviceDescriptionPath(state.AppDir) : LocalPath(configPath);
  std::string error;
  if (!ReadDeviceDescription(config, state.Device, error)) {
    PrintLine(stderr, error);
    return false;
  }
  state.LinkState = 0;
  return true;
}

LoadOutcome LoadFileArgument(AppState& state, const QString& file) {
  const FolderAndName parts = SplitFolder(LocalPath(file));
  state.LastPath = parts.folder;
  ConsoleDialogs dialogs;
  dialogs.hold = true;
  NoControls controls;
  const LoadOutcome outcome = LoadProgramFile(state, parts.name, dialogs, controls);
  dialogs.Release(outcome == LoadOutcome::Loaded ? stdout : stderr);
  return outcome;
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
