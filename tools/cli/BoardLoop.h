#pragma once
// Drives every board from one poll loop in this thread, until each is done
// or a stop signal arrives on stopFd (a signalfd: Ctrl-C, SIGTERM, SIGHUP).
#include <memory>
#include <vector>

#include "Board.h"
#include "ProgressDisplay.h"

// Returns 0 when no board is active, or the stop signal's number; boards
// still active then are interrupted.
int RunBoards(std::vector<std::unique_ptr<Board>>& boards, const QElapsedTimer& clock, ProgressDisplay& display,
               int stopFd);
