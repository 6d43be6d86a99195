#include "CliCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "DeviceDescription.h"
#include "DownloadFrame.h"
#include "SettingsStore.h"
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
                                      "user's own config.txt or the one beside the program.", "PATH");
}

void PrintVersion() { std::printf("zentrel-cli %s\n", kZentrelVersion); }

QCommandLineOption QuietOption() { return QCommandLineOption({"q", "quiet"}, "Print nothing but errors."); }

QCommandLineOption JsonOption(const QString& what) {
  return QCommandLineOption("json", "Print the result on stdout as JSON: " + what + ".");
}

QCommandLineOption UsbOption(const QString& who) {
  return QCommandLineOption("usb", who + " whose USB adapter has these ids: VID:PID[:SERIAL], the ids in "
                                         "hexadecimal, * for any part; zentrel-cli ports shows them.", "ID");
}

std::optional<std::vector<UsbFilter>> UsbFiltersOf(const QCommandLineParser& parser, QString& error) {
  std::vector<UsbFilter> filters;
  for (const QString& text : parser.values("usb")) {
    std::string why;
    const auto filter = ParseUsbFilter(text.toStdString(), why);
    if (!filter) {
      error = "--usb " + QString::fromStdString(why) + ".";
      return std::nullopt;
    }
    filters.push_back(*filter);
  }
  return filters;
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
  // Opened by its bytes: QFile would write a name that is not UTF-8 as another.
  const int fd = ::open(LocalPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const QString openFailure = QString::fromLocal8Bit(std::strerror(errno));
  QFile out;
  const auto length = static_cast<qint64>(size);
  if (fd >= 0 && out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
      out.write(reinterpret_cast<const char*>(data), length) == length && out.flush()) {
    return true;
  }
  PrintError("zentrel-cli " + command + ": cannot write " + path + ": " +
             (fd < 0 ? openFailure : out.errorString()));
  return false;
}

namespace {
constexpr char16_t kEscapedByte = 0xDC00;

// Length of the UTF-8 sequence at text, or 0 when it is not a valid one.
qsizetype Utf8Sequence(const char* text, qsizetype available) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const qsizetype length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4 : 0;
  if (length == 0 || length > available) return 0;
  // Qt's decoder judges overlong forms, surrogates and the range.
  const QByteArray bytes(text, length);
  return QString::fromUtf8(bytes).toUtf8() == bytes ? length : 0;
}

bool IsEscapedByte(const QString& text, qsizetype at) {
  const char16_t c = text[at].unicode();
  return c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xFF &&
         (at == 0 || !text[at - 1].isHighSurrogate());
}
}  // namespace

QStringList ArgumentsOf(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    QString argument;
    for (qsizetype at = 0, size = qstrlen(argv[i]); at < size;) {
      const qsizetype length = Utf8Sequence(argv[i] + at, size - at);
      if (length > 0) {
        argument += QString::fromUtf8(argv[i] + at, length);
        at += length;
      } else {
        argument += QChar(static_cast<char16_t>(kEscapedByte + static_cast<unsigned char>(argv[i][at++])));
      }
    }
    arguments << argument;
  }
  return arguments;
}

std::string LocalPath(const QString& path) {
  std::string bytes;
  qsizetype runStart = 0;
  for (qsizetype at = 0; at <= path.size(); ++at) {
    const bool escaped = at < path.size() && IsEscapedByte(path, at);
    if (!escaped && at < path.size()) continue;
    bytes += path.mid(runStart, at - runStart).toUtf8().toStdString();
    if (escaped) bytes.push_back(static_cast<char>(path[at].unicode() - kEscapedByte));
    runStart = at + 1;
  }
  return bytes;
}

std::string AbsoluteLocalPath(const QString& path) {
  // Made from the bytes: QFileInfo would lose those that are not UTF-8.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(LocalPath(path), error);
  return error ? LocalPath(path) : absolute.string();
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  const auto real = std::filesystem::canonical(path, error);
  return error ? path : real.string();
}

QString EscapedName(const std::string& bytes) {
  QString name;
  for (size_t at = 0; at < bytes.size();) {
    const qsizetype length = Utf8Sequence(bytes.data() + at, static_cast<qsizetype>(bytes.size() - at));
    if (bytes[at] == '\\') {
      name += "\\\\";
    } else if (length > 0) {
      name += QString::fromUtf8(bytes.data() + at, length);
    } else {
      name += QString::asprintf("\\x%02X", static_cast<unsigned char>(bytes[at]));
    }
    at += length > 0 ? static_cast<size_t>(length) : 1;
  }
  return name;
}

std::FILE* TextStreamBeside(const std::string& path) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return stdout;  // a new file is nobody's stream
  auto isTarget = [&target](int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && info.st_dev == target.st_dev && info.st_ino == target.st_ino;
  };
  if (!isTarget(STDOUT_FILENO)) return stdout;
  return isTarget(STDERR_FILENO) ? nullptr : stderr;
}

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

std::string FrameSha256(const AppState& framed) {
  const QByteArrayView bytes(framed.DownloadFrame.data() + 1, framed.FrameLength);
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

LoadedFile LoadFileArgument(AppState& state, const QString& file, Echo echo, std::FILE* successStream) {
  const FolderAndName parts = SplitFolder(LocalPath(file));
  state.LastPath = parts.folder;
  MessageCollector dialogs;
  NoControls controls;
  LoadedFile loaded;
  loaded.outcome = LoadProgramFile(state, parts.name, dialogs, controls, &loaded.notes);
  for (const std::string& text : dialogs.messages) loaded.message += (loaded.message.empty() ? "" : "\n") + text;
  const bool success = loaded.outcome == LoadOutcome::Loaded;
  if (echo == Echo::All || (echo == Echo::FaultsOnly && !success)) {
    PrintLine(success ? successStream : stderr, loaded.message);
  }
  // A cut-off file would flash a partial program: worth saying even when quiet.
  if (loaded.Truncated()) PrintLine(stderr, TruncationWarning(file));
  // Configuration words left out change how the program runs: said even when quiet.
  if (success && loaded.notes.otherAreas.Any()) {
    PrintLine(stderr, "warning: " + UnprogrammedText(loaded.notes.otherAreas));
  }
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

std::string LoadedFile::RefusalReason() const {
  switch (outcome) {
    case LoadOutcome::Loaded:
      if (refusal.empty()) return "";
      return counterRefused ? "serial-number" : "frame";
    case LoadOutcome::Faulty:
      return "file";
    case LoadOutcome::Refused:
      break;
  }
  return "description";
}

int LoadedFile::ExitStatus() const { return refusal.empty() ? ::ExitStatus(outcome) : kExitRefused; }

bool BuildFrameOrRefuse(AppState& framed, LoadedFile& loaded, Echo echo) {
  loaded.refusal = BuildDownloadFrame(framed);
  if (!loaded.refusal.empty() && echo != Echo::None) PrintLine(stderr, loaded.refusal);
  return loaded.refusal.empty();
}

QJsonObject NotProgrammedRecord(const OtherAreaBytes& bytes) {
  return {{"config", static_cast<qint64>(bytes.config)},
          {"id", static_cast<qint64>(bytes.id)},
          {"eeprom", static_cast<qint64>(bytes.eeprom)},
          {"deviceId", static_cast<qint64>(bytes.deviceId)}};
}

QJsonObject LoadRecord(const QString& file, const LoadedFile& loaded, const AppState& state, int exitCode) {
  const std::string reason = loaded.RefusalReason();
  const std::string& message = loaded.refusal.empty() ? loaded.message : loaded.refusal;
  return {{"format", kJsonFormat},
          {"file", EscapedName(LocalPath(file))},
          {"outcome", loaded.refusal.empty() ? OutcomeName(loaded.outcome) : "refused"},
          {"reason", reason.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(reason))},
          {"message", QString::fromStdString(message).replace("\r\n", "\n")},
          {"programBytes", state.ProgramBytes},
          {"flashSize", state.Device.FlashSize},
          {"endRecord", loaded.notes.endRecord},
          {"notProgrammed", NotProgrammedRecord(loaded.notes.otherAreas)},
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
