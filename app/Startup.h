#pragma once
// Program start: one running copy per user, the window.
#include <string>

// Exit status when config.txt cannot be read.
inline constexpr int kConfigErrorExit = 2;

// The folder, ending in '/', of the lock that marks a running copy and of
// the socket on which it takes files from later starts: $XDG_RUNTIME_DIR
// when it is a folder of the user's own that no one else may enter (mode
// 0700), else quorvel-zentrel-<uid>/ in the temporary folder, made so and
// checked. "" with the reason when neither is one: names that another user
// could hold are never used.
std::string RuntimeFolder(std::string& why);

// Everything after the application object exists: with another copy
// running, hands it file (when not "") and ends; otherwise shows the window,
// loads file and runs until the window closes.
int RunZentrel(const std::string& file);
