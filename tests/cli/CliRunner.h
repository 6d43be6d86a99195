#pragma once
// Runs a program as a separate process and keeps what it printed.
#include <QString>
#include <QStringList>
#include <string>

struct ProcessResult {
  int exitCode = -1;
  std::string out, err;
};

ProcessResult RunProgram(const QString& program, const QStringList& args,
                         const QString& workDir = {});
ProcessResult RunCli(const QStringList& args, const QString& workDir = {});
inline QString Q(const std::string& text) { return QString::fromStdString(text); }

// Debian's python3, which has intelhex, even when another python3 comes first.
QString SystemPython();
