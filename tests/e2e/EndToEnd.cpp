#include "e2e/EndToEnd.h"

#include <cstdio>

#include "common/TestSupport.h"

namespace {
std::string Text(const QByteArray& bytes) { return bytes.toStdString(); }
}  // namespace

SimulatedBoard::SimulatedBoard(const QStringList& args) {
  process_.start(QString::fromStdString(BinPath("zentrel-sim")), args);
  if (!process_.waitForStarted(10000)) return;
  while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
  }
  const std::string line = Text(process_.readLine()).substr(0);
  if (line.rfind("device ", 0) == 0) device_ = line.substr(7, line.find_last_not_of("\r\n") - 6);
}

SimulatedBoard::~SimulatedBoard() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

ProcessResult SimulatedBoard::Finish(int timeoutMs) {
  if (!process_.waitForFinished(timeoutMs)) process_.kill();
  process_.waitForFinished(5000);
  return ProcessResult{process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1,
                       Text(process_.readAllStandardOutput()), Text(process_.readAllStandardError())};
}

ProcessResult SimulatedBoard::Stop() {
  process_.terminate();
  return Finish();
}

ProcessResult RunProgram(const std::string& program, const QStringList& args, int timeoutMs) {
  QProcess process;
  process.start(QString::fromStdString(BinPath(program)), args);
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(5000);
    return ProcessResult{-1, Text(process.readAllStandardOutput()), "timed out\n" + Text(process.readAllStandardError())};
  }
  return ProcessResult{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                       Text(process.readAllStandardOutput()), Text(process.readAllStandardError())};
}

std::string HexText(const std::string& bytes) {
  std::string text;
  char line[80];
  for (size_t at = 0; at < bytes.size(); at += 16) {
    const size_t count = std::min<size_t>(16, bytes.size() - at);
    unsigned sum = count + ((at >> 8) & 0xFF) + (at & 0xFF);
    int used = std::snprintf(line, sizeof line, ":%02zX%04zX00", count, at & 0xFFFF);
    for (size_t i = 0; i < count; ++i) {
      const auto value = static_cast<unsigned char>(bytes[at + i]);
      sum += value;
      used += std::snprintf(line + used, sizeof line - used, "%02X", value);
    }
    std::snprintf(line + used, sizeof line - used, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  return text + ":00000001FF\r\n";
}
