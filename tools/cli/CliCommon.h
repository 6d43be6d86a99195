#pragma once
// What every zentrel-cli command shares: argument parsing with --help,
// config.txt, and terminal versions of the window's dialogs and controls.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "AppState.h"
#include "Controls.h"
#include "Dialogs.h"
#include "ProgramLoader.h"
#include "UsbFilter.h"

// Exit statuses that every command uses the same way.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;  // also a configuration that cannot be used
constexpr int kExitRefused = 3;  // the download frame was refused
constexpr int kExitLogIncomplete = 4;  // a --log record could not be written
// The version of the --json and --log records: raised when a key changes
// meaning or goes; a new key leaves it as it is.
constexpr int kJsonFormat = 1;

// Which messages reach the terminal: success text to stdout, a fault to
// stderr. Under -q only faults; under --json neither (they go in the JSON).
enum class Echo { All, FaultsOnly, None };

void PrintLine(std::FILE* stream, const std::string& text);
void PrintError(const QString& text);

// --config PATH: config.txt to read instead of the user's own or the one
// beside the program.
QCommandLineOption ConfigOption();
// -q/--quiet and --json WHAT, the same on every command.
QCommandLineOption QuietOption();
QCommandLineOption JsonOption(const QString& what);
// --usb ID, repeatable: "WHO whose USB adapter has these ids ...".
QCommandLineOption UsbOption(const QString& who);
// The --usb filters; nothing, with a usage error's text, when one is malformed.
std::optional<std::vector<UsbFilter>> UsbFiltersOf(const QCommandLineParser& parser, QString& error);
// How a command's messages reach the terminal under -q and --json.
Echo EchoOf(const QCommandLineParser& parser);
// One JSON object on one line of stdout.
void PrintJson(const QJsonObject& object);

// Parses "zentrel-cli <command> args". Returns the exit status when the
// command is done already (--help printed, or a usage error reported).
std::optional<int> ParseCommand(QCommandLineParser& parser, const QString& command,
                                const QStringList& args);
// Reports a usage error of command on stderr and gives kExitUsage.
int UsageError(const QString& command, const QString& text);

// Writes size bytes to path; false, with the reason on stderr, when it cannot.
bool WriteBytes(const QString& command, const QString& path, const uint8_t* data, size_t size);

// The program's arguments as texts that keep their bytes: a byte that is
// not part of valid UTF-8 becomes the lone surrogate U+DC00 + byte (shown as
// a replacement character), so that a file name in any encoding still opens.
QStringList ArgumentsOf(int argc, char** argv);

// Local file name as the file system wants it; the bytes that ArgumentsOf
// kept come back as they were.
std::string LocalPath(const QString& path);
// The same, from the current folder when relative (links are not resolved).
std::string AbsoluteLocalPath(const QString& path);

// The real path of a file (links resolved), or path itself when it has none.
std::string Canonical(const std::string& path);

// A name that is bytes, for JSON, which holds text only: UTF-8 is kept, a
// byte outside it is written \xNN and a backslash \\, so that every name
// can be told from every other.
QString EscapedName(const std::string& bytes);

// Where text lines go when bytes are written to path: stdout, unless path
// is stdout's own file (/dev/stdout, or where stdout was sent), then stderr,
// unless that is the same file too: nullptr, no text.
std::FILE* TextStreamBeside(const std::string& path);

// AppState as the window sets it up: AppDir, AppTitle, the device
// description, LinkState 0. False, with the reason on stderr, when the
// configuration file cannot be used.
bool SetUpState(AppState& state, const QString& configPath);

// SHA-256 of the frame's bytes as sent (slot 1 on), in hexadecimal.
std::string FrameSha256(const AppState& framed);

// "zentrel-cli VERSION" on stdout.
void PrintVersion();

// A HEX file loaded as the window's open command does, with LastPath its
// folder, and the message the window would show.
struct LoadedFile {
  LoadOutcome outcome = LoadOutcome::Faulty;
  LoadNotes notes;
  std::string message;
  std::string refusal;  // why a download of the loaded file would be refused
  bool counterRefused = false;  // the refusal is the serial-number counter's
  bool Truncated() const { return outcome == LoadOutcome::Loaded && !notes.endRecord; }
  // Why nothing may be sent, for scripts: "file" (unreadable or faulty),
  // "description" (config.txt), "frame" (the frame cannot be sent),
  // "serial-number" (the counter gives no number); "" if none.
  std::string RefusalReason() const;
  // The exit status of the load with the download's checks.
  int ExitStatus() const;
};
// Success text to successStream (stdout unless that carries data).
LoadedFile LoadFileArgument(AppState& state, const QString& file, Echo echo = Echo::All,
                            std::FILE* successStream = stdout);
std::string TruncationWarning(const QString& file);
// The download's own checks on a loaded file: builds the frame into framed
// (a copy of the loaded state), or keeps in loaded why it cannot be sent,
// printing that as a fault under echo. False when it was refused.
bool BuildFrameOrRefuse(AppState& framed, LoadedFile& loaded, Echo echo);
// What of a loaded file no download carries, for --json and --log: bytes by area.
QJsonObject NotProgrammedRecord(const OtherAreaBytes& bytes);
// The outcome of a load for --json: outcome, message, byte counts, exit status.
QJsonObject LoadRecord(const QString& file, const LoadedFile& loaded, const AppState& state, int exitCode);
// The exit status that a load outcome gives.
int ExitStatus(LoadOutcome outcome);
