#pragma once
// Intel HEX reader with the PIC18 address map. Reads line by line, stores
// program-memory bytes into state.FlashImage and raises state.ProgramBytes.
#include <string>

#include "app/AppState.h"
#include "app/Dialogs.h"

// True when the file was read to its end (or its first type 01 record)
// without fault. On a fault, or when the file cannot be read, shows one
// message naming the line (or the file and the reason) and returns false.
// The caller has prepared FlashImage (FlashSize bytes) and ProgramBytes.
bool ParseHexFile(AppState& state, const std::string& path, Dialogs& dialogs);
