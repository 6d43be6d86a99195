#include "BoardLoop.h"

#include <poll.h>

#include <algorithm>

namespace {

constexpr int kRedrawMs = 100;
constexpr qint64 kRefreshMs = 1000;

// The lines to wait on; kept from round to round, so that a byte allocates
// nothing. The first entry is the stop descriptor.
struct PollSet {
  std::vector<pollfd> fds;
  std::vector<Board*> owners;
};

// Waits for any board's line, or the nearest deadline or redraw, and
// serves the lines that have input; false once the run is to stop. The
// clock is read once a wait, the least a byte can cost.
bool PollOnce(std::vector<std::unique_ptr<Board>>& boards, const QElapsedTimer& clock, qint64& now, int stopFd,
              PollSet& set) {
  set.fds.assign(1, pollfd{stopFd, POLLIN, 0});
  set.owners.assign(1, nullptr);
  qint64 wait = kRedrawMs;
  for (auto& board : boards) {
    if (!board->Active()) continue;
    set.fds.push_back(pollfd{board->Handle(), POLLIN, 0});
    set.owners.push_back(board.get());
    wait = std::min(wait, std::max<qint64>(0, board->Deadline() - now));
  }
  const int ready = poll(set.fds.data(), set.fds.size(), static_cast<int>(wait));
  now = clock.elapsed();
  if (ready <= 0) return true;
  if (set.fds[0].revents != 0) return false;
  for (size_t i = 1; i < set.fds.size(); ++i) {
    if (set.fds[i].revents != 0) set.owners[i]->Service(now);
  }
  return true;
}

std::vector<ProgressLine> Lines(const std::vector<std::unique_ptr<Board>>& boards, qint64 now) {
  std::vector<ProgressLine> lines;
  for (const auto& board : boards) lines.push_back(board->Progress(now));
  return lines;
}

}  // namespace

void RunBoards(Boards& boards, const QElapsedTimer& clock, ProgressDisplay& display, int stopFd,
               const std::function<void(Boards&)>& refresh) {
  auto anyActive = [&] {
    return std::any_of(boards.begin(), boards.end(), [](const auto& board) { return board->Active(); });
  };
  qint64 now = clock.elapsed(), nextDraw = 0, nextRefresh = 0;
  PollSet set;
  while (refresh || anyActive()) {
    if (!PollOnce(boards, clock, now, stopFd, set)) break;
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
  for (auto& board : boards) {
    if (board->Active()) board->Interrupt();
  }
  display.Clear();
}
