#include "Startup.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>

#include "AppState.h"
#include "Form1.h"
#include "ProgramFolder.h"
#include "QtDialogs.h"
#include "QtSerialLine.h"
#include "SettingsStore.h"

std::string SingleCopyLockPath() {
  // A relative folder would give each working folder a lock of its own.
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/')) return runtime.toStdString() + "/quorvel-zentrel.lock";
  // The temporary folder is shared by every user of the machine.
  return QFile::encodeName(QDir::tempPath()).toStdString() + "/quorvel-zentrel-" +
         std::to_string(getuid()) + ".lock";
}

namespace {
int RunWindow() {
  AppState state;
  state.AppDir = ProgramDirectory();
  QtDialogs dialogs(state.AppTitle);
  SettingsStore settings;
  QtSerialLine line(SettingsStore::PortMapDirectory());
  Form1 form(state, dialogs, settings, line);
  dialogs.SetParent(&form);
  if (!form.Load()) return kConfigErrorExit;
  return QApplication::exec();
}
}  // namespace

int RunZentrel() {
  QLockFile lock(QFile::decodeName(SingleCopyLockPath().c_str()));
  // Only a lock whose process has died is stale, however long a copy runs.
  lock.setStaleLockTime(0);
  if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) return 0;
  // A lock that cannot be written at all must not keep the program from starting.
  return RunWindow();
}
