#pragma once
// The download's progress on stderr: on a terminal one line a board, bytes,
// rate and time left, redrawn in place and never wider than the terminal;
// elsewhere a plain line a board now and then.
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
};

// Where a board is reached: a port number through the port map, or a device.
struct BoardTarget {
  int port = 0;
  std::string device;
};

class ProgressDisplay {
 public:
  enum class Mode { Live, Plain, Off };
  explicit ProgressDisplay(Mode mode) : mode_(mode) {}
  // Live: redraws in place. Plain: a line for each transferring board, at
  // most every few seconds of the run's clock.
  void Draw(const std::vector<ProgressLine>& lines, int64_t nowMs);
  // Takes the drawn lines off the screen, before anything else is printed.
  void Clear();

  // The line of one board in at most columns - 1 characters: the name is
  // shortened from the left, then the details go, longest first.
  static std::string Fit(const ProgressLine& line, size_t columns);

 private:
  // A plain line is for a long transfer: the first comes after this long.
  static constexpr int64_t kPlainEveryMs = 5000;

  Mode mode_;
  size_t drawn_ = 0;
  int64_t nextPlainMs_ = kPlainEveryMs;
};
