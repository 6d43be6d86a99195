#pragma once
// The download's progress on a terminal: one line a board, bytes, rate and
// time left, redrawn in place; then the outcome of every board.
#include <cstdint>
#include <string>
#include <vector>

struct ProgressLine {
  std::string name;     // COM3 or the device path
  int32_t done = 0;     // frame bytes echoed so far
  int32_t total = 0;    // frame length, 0 before the frame is built
  int64_t elapsedMs = 0;
  std::string note;     // the outcome once finished, else what it waits for
  bool finished = false;
  bool succeeded = false;
};

// Where a board is reached: a port number through the port map, or a device.
struct BoardTarget {
  int port = 0;
  std::string device;
};

class ProgressDisplay {
 public:
  explicit ProgressDisplay(bool live) : live_(live) {}
  // Redraws the lines in place; only on a terminal.
  void Draw(const std::vector<ProgressLine>& lines);
  // The outcome: for one board its message (stdout on success, stderr on
  // failure) and a summary; for several, a table on stdout.
  void Finish(const std::vector<ProgressLine>& lines);

  static std::string Bar(const ProgressLine& line);

 private:
  bool live_;
  size_t drawn_ = 0;
};
