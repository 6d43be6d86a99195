#include "Startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "AppState.h"
#include "Form1.h"
#include "HandOver.h"
#include "ProgramFolder.h"
#include "QtDialogs.h"
#include "QtSerialLine.h"
#include "SettingsStore.h"

namespace {
constexpr char kLockName[] = "quorvel-zentrel.lock";
constexpr char kSocketName[] = "quorvel-zentrel.socket";

// A folder (not a link to one) of this user's that no one else may enter.
bool IsPrivateFolder(const std::string& path, std::string& why) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    why = path + ": " + std::strerror(errno);
  } else if (!S_ISDIR(info.st_mode)) {
    why = path + " is not a folder";
  } else if (info.st_uid != ::getuid()) {
    why = path + " belongs to another user";
  } else if ((info.st_mode & 077) != 0) {
    why = path + " may be entered by other users";
  } else {
    return true;
  }
  return false;
}

// A relative path names a file from the folder the program was started in.
std::string AbsolutePath(const std::string& file) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(file, error);
  return error ? file : path.string();
}
}  // namespace

std::string RuntimeFolder(std::string& why) {
  // A relative runtime folder would give each working folder a copy of its own.
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  std::string ignored;
  if (runtime.startsWith('/') && IsPrivateFolder(runtime.toStdString(), ignored)) {
    return runtime.toStdString() + "/";
  }
  const std::string own = QFile::encodeName(QDir::tempPath()).toStdString() + "/quorvel-zentrel-" +
                          std::to_string(::getuid());
  ::mkdir(own.c_str(), 0700);  // one that is there already is checked below
  return IsPrivateFolder(own, why) ? own + "/" : "";
}

namespace {
// Files handed over wait until the window is loaded and the open command
// could run; a socket that cannot be made leaves later starts to say so.
int RunWindow(const std::string& file, const std::string& socketPath) {
  AppState state;
  state.AppDir = ProgramDirectory();
  QtDialogs dialogs(state.AppTitle);
  SettingsStore settings;
  QtSerialLine line(SettingsStore::PortMapDirectory());
  Form1 form(state, dialogs, settings, line);
  dialogs.SetParent(&form);
  if (!file.empty()) form.OpenFromOutside(AbsolutePath(file));
  HandOverServer server([&form](const std::string& path) { form.OpenFromOutside(path); });
  std::string why;
  if (!socketPath.empty() && !server.Listen(socketPath, why)) {
    std::fprintf(stderr, "zentrel: later starts cannot hand files over: %s\n", why.c_str());
  }
  if (!form.Load()) return kConfigErrorExit;
  return QApplication::exec();
}
}  // namespace

int RunZentrel(const std::string& file) {
  std::string why;
  const std::string folder = RuntimeFolder(why);
  if (folder.empty()) {
    std::fprintf(stderr, "zentrel: %s; starting without looking for a running copy\n", why.c_str());
    return RunWindow(file, "");
  }
  QLockFile lock(QFile::decodeName((folder + kLockName).c_str()));
  // Only a lock whose process has died is stale, however long a copy runs.
  lock.setStaleLockTime(0);
  if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
    return file.empty() ? 0 : HandToRunningCopy(folder + kSocketName, AbsolutePath(file));
  }
  // A lock that cannot be written at all must not keep the program from
  // starting; without it, the socket may be another copy's.
  return RunWindow(file, lock.isLocked() ? folder + kSocketName : "");
}
