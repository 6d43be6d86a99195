#pragma once
// Program start: one running copy per user, the window.
#include <string>

// Exit status when config.txt cannot be read.
inline constexpr int kConfigErrorExit = 2;

// The per-user lock that marks a running copy: in $XDG_RUNTIME_DIR when it
// is an absolute path, else in the shared temporary folder under a name that
// holds the user id.
std::string SingleCopyLockPath();
// Beside it, the socket on which the running copy takes files from a second
// start ("zentrel FILE.hex", "Open with"), one path a line.
std::string SingleCopySocketPath();

// Everything after the application object exists: ends at once with 0 when
// another copy runs, otherwise shows the window, loads file (when not "")
// and runs until the window closes.
int RunZentrel(const std::string& file);
