#pragma once
// Where the program's own files (config.txt beside it) are found.
#include <string>

// Folder of the real program file (symbolic links resolved), ending in "/".
std::string ProgramDirectory();
