#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QFile>

std::string ProgramDirectory() {
  // applicationDirPath comes from /proc/self/exe, where links are resolved.
  std::string dir = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}
