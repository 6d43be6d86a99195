#include "BoardLoop.h"

#include <poll.h>

#include <algorithm>

namespace {

constexpr int kRedrawMs = 100;

// The lines to wait on; kept from round to round, so that a byte allocates
// nothing. The first entry is the stop descriptor.
struct PollSet {
  std::vector<pollfd> fds;
  std::vector<Board*> owners;
};

// Waits for any board's line, or the nearest deadline or redraw; false
// once the run is to stop.
bool PollOnce(std::vector<std::unique_ptr<Board>>& boards, qint64 now, int stopFd, PollSet& set) {
  set.fds.assign(1, pollfd{stopFd, POLLIN, 0});
  set.owners.assign(1, nullptr);
  qint64 wait = kRedrawMs;
  for (auto& board : boards) {
    if (!board->Active()) continue;
    set.fds.push_back(pollfd{board->Handle(), POLLIN, 0});
    set.owners.push_back(board.get());
    wait = std::min(wait, std::max<qint64>(0, board->Deadline() - now));
  }
  if (poll(set.fds.data(), set.fds.size(), static_cast<int>(wait)) <= 0) return true;
  if (set.fds[0].revents != 0) return false;
  for (size_t i = 1; i < set.fds.size(); ++i) {
    if (set.fds[i].revents != 0) set.owners[i]->Service();
  }
  return true;
}

std::vector<ProgressLine> Lines(const std::vector<std::unique_ptr<Board>>& boards, qint64 now) {
  std::vector<ProgressLine> lines;
  for (const auto& board : boards) lines.push_back(board->Progress(now));
  return lines;
}

}  // namespace

void RunBoards(std::vector<std::unique_ptr<Board>>& boards, const QElapsedTimer& clock, ProgressDisplay& display,
               int stopFd) {
  auto anyActive = [&] {
    return std::any_of(boards.begin(), boards.end(), [](const auto& board) { return board->Active(); });
  };
  qint64 nextDraw = 0;
  PollSet set;
  while (anyActive()) {
    if (!PollOnce(boards, clock.elapsed(), stopFd, set)) break;
    const qint64 now = clock.elapsed();
    for (auto& board : boards) board->CheckDeadline(now);
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
