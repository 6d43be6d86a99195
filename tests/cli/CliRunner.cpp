#include "cli/CliRunner.h"

#include <QFile>
#include <QProcess>

#include "common/TestSupport.h"

ProcessResult RunProgram(const QString& program, const QStringList& args, const QString& workDir) {
  QProcess process;
  if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
  process.start(program, args);
  ProcessResult result;
  if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
    process.kill();
    process.waitForFinished();
    result.err = "did not finish: " + process.errorString().toStdString();
    return result;
  }
  result.exitCode = process.exitCode();
  result.out = process.readAllStandardOutput().toStdString();
  result.err = process.readAllStandardError().toStdString();
  return result;
}

ProcessResult RunCli(const QStringList& args, const QString& workDir) {
  return RunProgram(QString::fromStdString(BinPath("zentrel-cli")), args, workDir);
}

QString SystemPython() { return QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
