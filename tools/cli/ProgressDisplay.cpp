#include "ProgressDisplay.h"

#include <cstdio>

#include "CliCommon.h"

namespace {

constexpr int kBarWidth = 24;

std::string Format(const char* format, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

double Seconds(const ProgressLine& line) { return static_cast<double>(line.elapsedMs) / 1000.0; }

double BytesPerSecond(const ProgressLine& line) {
  const double seconds = Seconds(line);
  return seconds > 0 ? line.done / seconds : 0;
}

std::string Rate(const ProgressLine& line) { return Format("%.1f kB/s", BytesPerSecond(line) / 1000.0); }

std::string TimeLeft(const ProgressLine& line) {
  const double rate = BytesPerSecond(line);
  if (rate <= 0) return "";
  return Format("%.0f s left", (line.total - line.done) / rate);
}

}  // namespace

std::string ProgressDisplay::Bar(const ProgressLine& line) {
  std::string text = line.name + " [";
  const int filled = line.total > 0 ? static_cast<int>(int64_t{line.done} * kBarWidth / line.total) : 0;
  text += std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), '.');
  text += "] " + std::to_string(line.done) + "/" + std::to_string(line.total) + " bytes";
  if (line.total > 0 && !line.finished) text += "  " + Rate(line) + "  " + TimeLeft(line);
  if (!line.note.empty()) text += "  " + line.note;
  return text;
}

void ProgressDisplay::Draw(const std::vector<ProgressLine>& lines) {
  if (!live_) return;
  std::string screen;
  if (drawn_ > 0) screen += "\x1b[" + std::to_string(drawn_) + "A";
  for (const ProgressLine& line : lines) screen += "\r\x1b[2K" + Bar(line) + "\n";
  std::fputs(screen.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = lines.size();
}

void ProgressDisplay::Finish(const std::vector<ProgressLine>& lines) {
  Draw(lines);
  if (lines.size() == 1) {
    const ProgressLine& line = lines.front();
    PrintLine(line.succeeded ? stdout : stderr, line.note);
    if (line.succeeded) {
      PrintLine(stderr, std::to_string(line.total) + " bytes in " + Format("%.2f s", Seconds(line)) + " (" +
                            Rate(line) + ")");
    }
    return;
  }
  std::printf("%-16s %-12s %-8s %s\n", "board", "bytes", "time", "outcome");
  for (const ProgressLine& line : lines) {
    const std::string bytes = std::to_string(line.done) + "/" + std::to_string(line.total);
    std::printf("%-16s %-12s %-8s %s\n", line.name.c_str(), bytes.c_str(), Format("%.2f s", Seconds(line)).c_str(),
                line.note.c_str());
  }
  std::fflush(stdout);
}
