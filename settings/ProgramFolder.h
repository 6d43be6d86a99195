#pragma once
// Where the program's own files (config.txt beside it) are found, and the
// folder a user starts from.
#include <string>

// Folder of the real program file (symbolic links resolved), ending in "/".
// Needs the application object.
std::string ProgramDirectory();

// The first folder of the open dialog: programDir where the user may write
// there (a build or a copy of one's own), else the home folder (an installed
// copy). Ends in "/".
std::string DefaultFolder(const std::string& programDir);
