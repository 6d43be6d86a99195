#include "common/Process.h"

#include <signal.h>

#include <QFile>

#include "common/TestSupport.h"

namespace {
ProcessResult Collect(QProcess& process, int timeoutMs) {
  ProcessResult result;
  if (process.error() == QProcess::FailedToStart) return result;
  // A process that has already ended makes waitForFinished() return false.
  if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(5000);
    result.err = "did not finish in " + std::to_string(timeoutMs) + " ms\n";
  } else if (process.exitStatus() == QProcess::NormalExit) {
    result.exitCode = process.exitCode();
  }
  result.out = process.readAllStandardOutput().toStdString();
  result.err += process.readAllStandardError().toStdString();
  return result;
}
}  // namespace

ProcessResult RunProgram(const QString& program, const QStringList& args, const QString& workDir,
                         int timeoutMs) {
  QProcess process;
  if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
  process.start(program, args);
  if (!process.waitForStarted(10000)) {
    return ProcessResult{-1, "", "cannot start " + program.toStdString() + ": " +
                                     process.errorString().toStdString()};
  }
  return Collect(process, timeoutMs);
}

ProcessResult RunBuilt(const std::string& name, const QStringList& args, const QString& workDir,
                       int timeoutMs) {
  return RunProgram(Q(BinPath(name)), args, workDir, timeoutMs);
}

QString SystemPython() { return QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

SimulatedBoard::SimulatedBoard(const QStringList& args) {
  process_.start(Q(BinPath("zentrel-sim")), args);
  if (!process_.waitForStarted(10000)) return;
  const std::string line = ReadLine();
  if (line.rfind("device ", 0) == 0) device_ = line.substr(7);
}

SimulatedBoard::~SimulatedBoard() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

std::string SimulatedBoard::ReadLine(int timeoutMs) {
  while (!process_.canReadLine() && process_.waitForReadyRead(timeoutMs)) {
  }
  std::string line = process_.readLine().toStdString();
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

void SimulatedBoard::Signal(int number) {
  if (process_.state() != QProcess::NotRunning) kill(static_cast<pid_t>(process_.processId()), number);
}

ProcessResult SimulatedBoard::Finish(int timeoutMs) { return Collect(process_, timeoutMs); }
