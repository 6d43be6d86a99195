#pragma once
// Drives every board from one poll loop in this thread, until each is done
// or, with a stop descriptor, until that becomes readable (Ctrl-C).
#include <functional>
#include <memory>
#include <vector>

#include "Board.h"
#include "ProgressDisplay.h"

using Boards = std::vector<std::unique_ptr<Board>>;

// Returns when no board is active or stopFd (if >= 0) is readable; boards
// still active then are interrupted. With refresh, which may add and drop
// boards and is called about once a second, it runs until stopFd alone.
void RunBoards(Boards& boards, const QElapsedTimer& clock, ProgressDisplay& display, int stopFd,
               const std::function<void(Boards&)>& refresh = {});
