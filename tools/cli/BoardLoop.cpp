#include "BoardLoop.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace {

constexpr int kRedrawMs = 100;

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

// Waits for any board's line, or the nearest deadline or redraw; the stop
// signal's number once the run is to stop, else 0.
int PollOnce(std::vector<std::unique_ptr<Board>>& boards, qint64 now, int stopFd, PollSet& set) {
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
  if (poll(set.fds.data(), set.fds.size(), static_cast<int>(wait)) <= 0) return 0;
  if (set.fds[0].revents != 0) return StopSignal(stopFd);
  for (size_t i = 1; i < set.fds.size(); ++i) {
    if (set.fds[i].revents != 0) set.owners[i]->Service();
  }
  return 0;
}

std::vector<ProgressLine> Lines(const std::vector<std::unique_ptr<Board>>& boards, qint64 now) {
  std::vector<ProgressLine> lines;
  for (const auto& board : boards) lines.push_back(board->Progress(now));
  return lines;
}

}  // namespace

int RunBoards(std::vector<std::unique_ptr<Board>>& boards, const QElapsedTimer& clock, ProgressDisplay& display,
              int stopFd) {
  auto anyActive = [&] {
    return std::any_of(boards.begin(), boards.end(), [](const auto& board) { return board->Active(); });
  };
  qint64 nextDraw = 0;
  PollSet set;
  int stop = 0;
  while (anyActive()) {
    stop = PollOnce(boards, clock.elapsed(), stopFd, set);
    if (stop != 0) break;
    const qint64 now = clock.elapsed();
    for (auto& board : boards) board->CheckDeadline(now);
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
