#pragma once
// The program image and the command that fills it from a HEX file.
#include <cstdint>
#include <string>

#include "AppState.h"
#include "Controls.h"
#include "Dialogs.h"
#include "HexParser.h"
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
// notes as for ParseHexFile. label_hex's tooltip says what of the file the
// download leaves out.
LoadOutcome LoadProgramFile(AppState& state, const std::string& fileName, Dialogs& dialogs,
                            Controls& controls, LoadNotes* notes = nullptr);

// The sentence that names the areas of a file a download does not program,
// and how many bytes of each; "" when the file has none.
std::string UnprogrammedText(const OtherAreaBytes& bytes);

// A path cut after its last '/': the folder (ending in '/', or "") and the name.
struct FolderAndName {
  std::string folder;
  std::string name;
};
FolderAndName SplitFolder(const std::string& path);

// ProgramBytes / 1024 in shortest decimal form, cut to four characters.
std::string KilobyteText(int32_t programBytes);
