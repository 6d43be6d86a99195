#pragma once
// Drives every board from one poll loop in this thread, until each is done
// or a stop signal arrives on stopFd (a signalfd: Ctrl-C, SIGTERM, SIGHUP).
#include <functional>
#include <memory>
#include <vector>

#include "Board.h"
#include "ProgressDisplay.h"

using Boards = std::vector<std::unique_ptr<Board>>;

// Returns 0 when no board is active, or the stop signal's number; boards
// still active then are interrupted. With refresh, which may add and drop
// boards and is called about once a second, it runs until a stop signal.
int RunBoards(Boards& boards, const QElapsedTimer& clock, ProgressDisplay& display, int stopFd,
              const std::function<void(Boards&)>& refresh = {});
