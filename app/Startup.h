#pragma once
// Program start: one running copy per user, the window.
#include <string>

// Exit status when config.txt cannot be read.
inline constexpr int kConfigErrorExit = 2;

// The per-user lock that marks a running copy: in $XDG_RUNTIME_DIR when it
// is an absolute path, else in the shared temporary folder under a name that
// holds the user id.
std::string SingleCopyLockPath();

// Everything after the application object exists: ends at once with 0 when
// another copy runs, otherwise shows the window and runs until it closes.
int RunZentrel();
