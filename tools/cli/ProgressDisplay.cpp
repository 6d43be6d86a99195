#include "ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "CliCommon.h"

namespace {

constexpr int kBarWidth = 20;
constexpr size_t kShortestName = 12;  // below this the details give way first

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

double BytesPerSecond(const ProgressLine& line) {
  const double seconds = static_cast<double>(line.elapsedMs) / 1000.0;
  return seconds > 0 ? line.done / seconds : 0;
}

std::string Bar(const ProgressLine& line) {
  const int filled = line.total > 0 ? static_cast<int>(int64_t{line.done} * kBarWidth / line.total) : 0;
  return " [" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '.') + "]";
}

std::string Counts(const ProgressLine& line) {
  return " " + std::to_string(line.done) + "/" + std::to_string(line.total) + " bytes";
}

std::string RateAndTimeLeft(const ProgressLine& line) {
  const double rate = BytesPerSecond(line);
  if (line.total == 0 || line.finished || rate <= 0) return "";
  return "  " + Format("%.1f kB/s", rate / 1000.0) + "  " + Format("%.0f s left", (line.total - line.done) / rate);
}

// The name cut from the left to width characters, "..." marking the cut.
std::string ShortName(const std::string& name, size_t width) {
  if (name.size() <= width) return name;
  if (width <= 3) return name.substr(name.size() - width);
  return "..." + name.substr(name.size() - (width - 3));
}

size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

size_t TerminalRows() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

}  // namespace

std::string ProgressDisplay::Fit(const ProgressLine& line, size_t columns) {
  const size_t width = columns > 1 ? columns - 1 : 1;
  const std::string note = line.note.empty() ? "" : "  " + line.note;
  const bool counted = line.total > 0;
  const std::string details[] = {
      counted ? Bar(line) + Counts(line) + RateAndTimeLeft(line) + note : note,
      counted ? Bar(line) + Counts(line) + note : note,
      counted ? Counts(line) + note : note,
      note,
      "",
  };
  for (const std::string& rest : details) {
    if (rest.size() >= width) continue;
    const size_t room = width - rest.size();
    if (room >= std::min(line.name.size(), kShortestName)) return ShortName(line.name, room) + rest;
  }
  return ShortName(line.name, width);
}

void ProgressDisplay::Draw(const std::vector<ProgressLine>& lines, int64_t nowMs) {
  if (mode_ == Mode::Plain && nowMs >= nextPlainMs_) {
    nextPlainMs_ = nowMs + kPlainEveryMs;
    for (const ProgressLine& line : lines) {
      if (line.total > 0 && !line.finished) PrintLine(stderr, line.name + ":" + Counts(line));
    }
  }
  if (mode_ != Mode::Live) return;
  const size_t columns = TerminalColumns();
  // Lines beyond the screen could not be reached again to redraw them.
  const size_t room = TerminalRows() > 2 ? TerminalRows() - 2 : 1;
  std::string screen = drawn_ > 0 ? "\x1b[" + std::to_string(drawn_) + "A" : "";
  size_t count = 0;
  for (const ProgressLine& line : lines) {
    if (count == room) {
      screen += "\r\x1b[2K" + ShortName("+" + std::to_string(lines.size() - count) + " more boards", columns - 1) + "\n";
      ++count;
      break;
    }
    screen += "\r\x1b[2K" + Fit(line, columns) + "\n";
    ++count;
  }
  if (count < drawn_) screen += "\x1b[J";
  std::fputs(screen.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = count;
}

void ProgressDisplay::Clear() {
  if (drawn_ == 0) return;
  std::fputs(("\x1b[" + std::to_string(drawn_) + "A\r\x1b[J").c_str(), stderr);
  std::fflush(stderr);
  drawn_ = 0;
}
