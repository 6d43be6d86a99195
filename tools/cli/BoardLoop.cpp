#include "BoardLoop.h"

#include <poll.h>

#include <algorithm>

namespace {

constexpr int kRedrawMs = 100;

// The lines to wait on; kept from round to round, so that a byte allocates nothing.
struct PollSet {
  std::vector<pollfd> fds;
  std::vector<Board*> owners;
};

// Waits for any board's line, or the nearest deadline or redraw.
void PollOnce(std::vector<std::unique_ptr<Board>>& boards, qint64 now, PollSet& set) {
  set.fds.clear();
  set.owners.clear();
  qint64 wait = kRedrawMs;
  for (auto& board : boards) {
    if (!board->Active()) continue;
    set.fds.push_back(pollfd{board->Handle(), POLLIN, 0});
    set.owners.push_back(board.get());
    wait = std::min(wait, std::max<qint64>(0, board->Deadline() - now));
  }
  if (poll(set.fds.data(), set.fds.size(), static_cast<int>(wait)) <= 0) return;
  for (size_t i = 0; i < set.fds.size(); ++i) {
    if (set.fds[i].revents != 0) set.owners[i]->Service();
  }
}

std::vector<ProgressLine> Lines(const std::vector<std::unique_ptr<Board>>& boards, qint64 now) {
  std::vector<ProgressLine> lines;
  for (const auto& board : boards) lines.push_back(board->Progress(now));
  return lines;
}

}  // namespace

int RunBoards(std::vector<std::unique_ptr<Board>>& boards, const Timeouts& timeouts, ProgressDisplay& display) {
  QElapsedTimer clock;
  clock.start();
  for (auto& board : boards) board->Start(timeouts, clock);
  auto anyActive = [&] {
    return std::any_of(boards.begin(), boards.end(), [](const auto& board) { return board->Active(); });
  };
  qint64 nextDraw = 0;
  PollSet set;
  while (anyActive()) {
    PollOnce(boards, clock.elapsed(), set);
    const qint64 now = clock.elapsed();
    for (auto& board : boards) board->CheckDeadline(now);
    if (now >= nextDraw) {
      display.Draw(Lines(boards, now));
      nextDraw = now + kRedrawMs;
    }
  }
  int exitCode = kExitSuccess;
  for (auto& board : boards) {
    if (board->ExitCode() != kExitSuccess && exitCode == kExitSuccess) exitCode = board->ExitCode();
  }
  display.Finish(Lines(boards, clock.elapsed()));
  return exitCode;
}
