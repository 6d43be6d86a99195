#include "BoardLoop.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace {

constexpr int kRedrawMs = 100;
constexpr qint64 kRefreshMs = 1000;

// The lines to wait on; kept from round to round, so that a byte allocates
// nothing. The first entry is the stop descriptor.
struct PollSet {
  std::vector<pollfd> fds;
  std::vector<Board*> owners;
};

// The number of the signal that stopFd has taken in.
int StopSignal(int stopFd) {
  signalfd_siginfo info{};
  if (read(stopFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return SIGTERM;
  return static_cast<int>(info.ssi_signo);
}

// Waits for any board's line, or the nearest deadline or redraw, and
// serves the lines that have input; the stop signal's number once the run
// is to stop, else 0. The clock is read once a wait and once a line served.
int PollOnce(Boards& boards, const QElapsedTimer& clock, qint64& now, int stopFd, PollSet& set) {
  set.fds.assign(1, pollfd{stopFd, POLLIN, 0});
  set.owners.assign(1, nullptr);
  qint64 wait = kRedrawMs;
  for (auto& board : boards) {
    if (!board->Active()) continue;
    wait = std::min(wait, std::max<qint64>(0, board->Deadline() - now));
    if (board->Handle() < 0) continue;  // a port waiting to be tried again
    set.fds.push_back(pollfd{board->Handle(), POLLIN, 0});
    set.owners.push_back(board.get());
  }
  const int ready = poll(set.fds.data(), set.fds.size(), static_cast<int>(wait));
  now = clock.elapsed();
  if (ready <= 0) return 0;
  if (set.fds[0].revents != 0) return StopSignal(stopFd);
  for (size_t i = 1; i < set.fds.size(); ++i) {
    if (set.fds[i].revents == 0) continue;
    set.owners[i]->Service(now);
    // Serving may have synced the log or waited for the counter's lock: the
    // next board's echo deadline starts from the clock as it is then.
    now = clock.elapsed();
  }
  return 0;
}

std::vector<ProgressLine> Lines(const std::vector<std::unique_ptr<Board>>& boards, qint64 now) {
  std::vector<ProgressLine> lines;
  for (const auto& board : boards) lines.push_back(board->Progress(now));
  return lines;
}

}  // namespace

int RunBoards(Boards& boards, const QElapsedTimer& clock, ProgressDisplay& display, int stopFd,
              const std::function<void(Boards&)>& refresh) {
  auto anyActive = [&] {
    return std::any_of(boards.begin(), boards.end(), [](const auto& board) { return board->Active(); });
  };
  qint64 now = clock.elapsed(), nextDraw = 0, nextRefresh = 0;
  PollSet set;
  int stop = 0;
  while (refresh || anyActive()) {
    stop = PollOnce(boards, clock, now, stopFd, set);
    if (stop != 0) break;
    for (auto& board : boards) board->CheckDeadline(now);
    if (refresh && now >= nextRefresh) {
      refresh(boards);
      nextRefresh = now + kRefreshMs;
    }
    if (now >= nextDraw) {
      display.Draw(Lines(boards, now), now);
      nextDraw = now + kRedrawMs;
    }
  }
  display.Clear();
  for (auto& board : boards) {
    if (board->Active()) board->Interrupt(stop);
  }
  return stop;
}
