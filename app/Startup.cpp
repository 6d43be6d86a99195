#include "Startup.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <filesystem>
#include <system_error>

#include "AppState.h"
#include "Form1.h"
#include "ProgramFolder.h"
#include "QtDialogs.h"
#include "QtSerialLine.h"
#include "SettingsStore.h"

namespace {
// quorvel-zentrel.<ending> in $XDG_RUNTIME_DIR, else in the temporary folder,
// which every user of the machine shares, under a name that holds the user id.
// A relative runtime folder would give each working folder a copy of its own.
std::string RuntimePath(const std::string& ending) {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/')) return runtime.toStdString() + "/quorvel-zentrel." + ending;
  return QFile::encodeName(QDir::tempPath()).toStdString() + "/quorvel-zentrel-" +
         std::to_string(getuid()) + "." + ending;
}
}  // namespace

std::string SingleCopyLockPath() { return RuntimePath("lock"); }

std::string SingleCopySocketPath() { return RuntimePath("socket"); }

namespace {
// Long enough for a running copy busy with a transfer's pump to take a file.
constexpr int kHandOverMs = 5000;

// A relative path names a file from the folder the program was started in.
std::string AbsolutePath(const std::string& file) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(file, error);
  return error ? file : path.string();
}

// Listens for later starts from the beginning, so that none finds nobody;
// what they bring waits until the window is loaded. If the socket cannot be
// made, later starts just end, as they did before.
void ListenForLaterStarts(QLocalServer& server) {
  const QString name = QFile::decodeName(SingleCopySocketPath().c_str());
  server.setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(name);  // left by a copy that crashed; the lock is ours
  server.listen(name);
}

// Files from later starts: a start sends its path, NUL-ended (the one byte
// that no path holds), and hangs up.
void TakeFilesFromLaterStarts(QLocalServer& server, Form1& form) {
  auto take = [&server, &form] {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, &form, [socket, &form] {
        for (const QByteArray& path : socket->readAll().split('\0')) {
          if (!path.isEmpty()) form.OpenFromOutside(path.toStdString());
        }
        socket->deleteLater();
      });
    }
  };
  QObject::connect(&server, &QLocalServer::newConnection, &form, take);
  take();
}

// A second start hands its file to the running copy, if one listens.
void HandToRunningCopy(const std::string& file) {
  QLocalSocket socket;
  socket.connectToServer(QFile::decodeName(SingleCopySocketPath().c_str()));
  if (!socket.waitForConnected(kHandOverMs)) return;
  const std::string message = AbsolutePath(file) + '\0';
  socket.write(message.data(), static_cast<qint64>(message.size()));
  socket.waitForBytesWritten(kHandOverMs);
}

int RunWindow(const std::string& file) {
  AppState state;
  state.AppDir = ProgramDirectory();
  QtDialogs dialogs(state.AppTitle);
  SettingsStore settings;
  QtSerialLine line(SettingsStore::PortMapDirectory());
  Form1 form(state, dialogs, settings, line);
  dialogs.SetParent(&form);
  QLocalServer server;
  ListenForLaterStarts(server);
  if (!form.Load()) return kConfigErrorExit;
  TakeFilesFromLaterStarts(server, form);
  if (!file.empty()) form.OpenPath(AbsolutePath(file));
  return QApplication::exec();
}
}  // namespace

int RunZentrel(const std::string& file) {
  QLockFile lock(QFile::decodeName(SingleCopyLockPath().c_str()));
  // Only a lock whose process has died is stale, however long a copy runs.
  lock.setStaleLockTime(0);
  if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
    if (!file.empty()) HandToRunningCopy(file);
    return 0;
  }
  // A lock that cannot be written at all must not keep the program from starting.
  return RunWindow(file);
}
