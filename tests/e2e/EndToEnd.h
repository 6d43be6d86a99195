#pragma once
// Runs the built programs as a user would: zentrel-sim on a pseudo-terminal,
// zentrel-cli against it, each a real process.
#include <QProcess>
#include <QStringList>
#include <string>

struct ProcessResult {
  int exitCode = -1;
  std::string out, err;
};

// A simulated bootloader, killed with the object if still running.
class SimulatedBoard {
 public:
  explicit SimulatedBoard(const QStringList& args);
  ~SimulatedBoard();
  const std::string& device() const { return device_; }
  // Waits for it to end; its exit status and what it printed.
  ProcessResult Finish(int timeoutMs = 30000);
  // Ends one that serves host after host, as Ctrl-C would, then Finish.
  ProcessResult Stop();

 private:
  QProcess process_;
  std::string device_;
};

// Runs a built program to its end (or kills it after timeoutMs).
ProcessResult RunProgram(const std::string& program, const QStringList& args, int timeoutMs = 120000);

// A HEX file of the given program bytes from address 0, 16 bytes a record.
std::string HexText(const std::string& bytes);
