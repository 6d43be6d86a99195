#include "ProgramFolder.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

std::string ProgramDirectory() {
  // applicationDirPath comes from /proc/self/exe, where links are resolved.
  std::string dir = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string DefaultFolder(const std::string& programDir) {
  if (access(programDir.c_str(), W_OK) == 0) return programDir;
  std::string home = QFile::encodeName(QDir::homePath()).toStdString();
  if (home.empty() || home.back() != '/') home += '/';
  return home;
}
