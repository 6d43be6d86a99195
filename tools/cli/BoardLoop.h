#pragma once
// Drives every board from one poll loop in this thread, until each is done.
#include <memory>
#include <vector>

#include "Board.h"
#include "ProgressDisplay.h"

// Returns the exit status: 0 when every board completed, else the first
// board's failure.
int RunBoards(std::vector<std::unique_ptr<Board>>& boards, const Timeouts& timeouts, ProgressDisplay& display);
