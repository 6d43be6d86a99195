#pragma once
// Where the program's own files (config.txt beside it) are found, and the
// folder a user starts from.
#include <string>

// Folder of the real program file (symbolic links resolved), ending in "/".
std::string ProgramDirectory();

// The user's home folder ($HOME, else the password database), without a
// trailing "/" unless it is the root.
std::string HomeFolder();

// The first folder of the open dialog: programDir where the user may write
// there (a build or a copy of one's own), else the home folder (an installed
// copy). Ends in "/".
std::string DefaultFolder(const std::string& programDir);
