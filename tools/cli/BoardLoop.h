#pragma once
// Drives every board from one poll loop in this thread, until each is done
// or, with a stop descriptor, until that becomes readable (Ctrl-C).
#include <memory>
#include <vector>

#include "Board.h"
#include "ProgressDisplay.h"

// Returns when no board is active or stopFd (if >= 0) is readable; boards
// still active then are interrupted.
void RunBoards(std::vector<std::unique_ptr<Board>>& boards, const QElapsedTimer& clock, ProgressDisplay& display,
               int stopFd);
