#pragma once
// Program start: one running copy per user, the program folder, the window.
#include <string>

// Exit status when config.txt cannot be read.
inline constexpr int kConfigErrorExit = 2;

// Folder of the real program file (symbolic links resolved), ending in "/".
// Needs the application object.
std::string ProgramDirectory();

// The first folder of the open dialog: programDir where the user may write
// there (a build or a copy of one's own), else the home folder (an installed
// copy). Ends in "/".
std::string DefaultFolder(const std::string& programDir);

// The per-user lock that marks a running copy: in $XDG_RUNTIME_DIR, else in
// the shared temporary folder under a name that holds the user id.
std::string SingleCopyLockPath();

// Everything after the application object exists: ends at once with 0 when
// another copy runs, otherwise shows the window, loads file (when not "")
// and runs until the window closes.
int RunZentrel(const std::string& file);
