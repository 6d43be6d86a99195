#pragma once
// Programs run as separate processes, as users and scripts run them.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <string>

struct ProcessResult {
  int exitCode = -1;  // -1 when it crashed or was killed
  std::string out, err;
};

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

// Runs program to its end in workDir (the current folder when empty); after
// timeoutMs it is killed and exitCode is -1.
ProcessResult RunProgram(const QString& program, const QStringList& args, const QString& workDir = {},
                         int timeoutMs = 120000);
// The same for a program of this build, e.g. RunBuilt("zentrel-cli", ...).
ProcessResult RunBuilt(const std::string& name, const QStringList& args, const QString& workDir = {},
                       int timeoutMs = 120000);
inline ProcessResult RunCli(const QStringList& args, const QString& workDir = {}) {
  return RunBuilt("zentrel-cli", args, workDir);
}

// Debian's python3, which has intelhex, even when another python3 comes first.
QString SystemPython();

// A zentrel-sim that runs alongside the test, killed with the object if
// still running. Its first line names its pseudo-terminal.
class SimulatedBoard {
 public:
  explicit SimulatedBoard(const QStringList& args);
  ~SimulatedBoard();
  SimulatedBoard(const SimulatedBoard&) = delete;
  SimulatedBoard& operator=(const SimulatedBoard&) = delete;

  // "" when it refused to start.
  const std::string& device() const { return device_; }
  // Its next line of output without the line end; "" on its end or after timeoutMs.
  std::string ReadLine(int timeoutMs = 10000);
  void Signal(int number);
  // Waits for it to end: its exit status and what it printed after the lines read.
  ProcessResult Finish(int timeoutMs = 30000);

 private:
  QProcess process_;
  std::string device_;
};
