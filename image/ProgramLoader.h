#pragma once
// The program image and the command that fills it from a HEX file.
#include <cstdint>
#include <string>

#include "AppState.h"
#include "Controls.h"
#include "Dialogs.h"
#include "SettingsAccess.h"

enum class LoadOutcome {
  Loaded,   // the success message was shown
  Faulty,   // the file was faulty or unreadable; the image is blank
  Refused,  // FlashSize outside 1..kMaxFlashSize; nothing was loaded
};

// The open command (Command1): file dialog in LastPath, remember the
// folder, load. A cancelled dialog changes nothing.
void OpenProgramFile(AppState& state, Dialogs& dialogs, SettingsAccess& settings,
                     Controls& controls);

// The open command with its path already chosen (a file argument, a dropped
// file): LastPath becomes its folder, which is remembered, then the load.
void OpenProgramPath(AppState& state, const std::string& path, Dialogs& dialogs,
                     SettingsAccess& settings, Controls& controls);

// Loads LastPath + fileName into a fresh image and reports the outcome;
// endRecord as for ParseHexFile.
LoadOutcome LoadProgramFile(AppState& state, const std::string& fileName, Dialogs& dialogs,
                            Controls& controls, bool* endRecord = nullptr);

// A path cut after its last '/': the folder (ending in '/', or "") and the name.
struct FolderAndName {
  std::string folder;
  std::string name;
};
FolderAndName SplitFolder(const std::string& path);

// ProgramBytes / 1024 in shortest decimal form, cut to four characters.
std::string KilobyteText(int32_t programBytes);
