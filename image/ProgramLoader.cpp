#include "ProgramLoader.h"

#include <charconv>
#include <vector>

#include "HexParser.h"

namespace {
constexpr uint8_t kErased = 0xFF;
constexpr size_t kKilobyteTextLength = 4;

void BlankImage(AppState& state) {
  state.FlashImage.assign(static_cast<size_t>(state.Device.FlashSize), kErased);
  state.ProgramBytes = 0;
}

std::string SuccessText(int32_t programBytes) {
  return "Operation completed.\r\nTotal " + std::to_string(programBytes) + " (" +
         KilobyteText(programBytes) + "K) program bytes loaded.";
}

LoadOutcome Refuse(AppState& state, Dialogs& dialogs, Controls& controls) {
  state.FlashImage.clear();
  state.ProgramBytes = 0;
  controls.SetHexLabel("", "");
  dialogs.ShowMessage("The device description gives a program memory size (flash:) of " +
                      std::to_string(state.Device.FlashSize) + " bytes; it must be 1 to " +
                      std::to_string(kMaxFlashSize) + ".");
  return LoadOutcome::Refused;
}

LoadOutcome LoadInto(AppState& state, const std::string& fileName, Dialogs& dialogs,
                     Controls& controls, LoadNotes& notes) {
  if (state.Device.FlashSize < 1 || state.Device.FlashSize > kMaxFlashSize) {
    return Refuse(state, dialogs, controls);
  }
  BlankImage(state);
  controls.SetHexLabel("", "");
  if (ParseHexFile(state, state.LastPath + fileName, dialogs, &notes)) {
    controls.SetHexLabel(fileName, UnprogrammedText(notes.otherAreas));
    dialogs.ShowMessage(SuccessText(state.ProgramBytes));
    return LoadOutcome::Loaded;
  }
  // Nothing of a faulty file may reach a download.
  BlankImage(state);
  controls.SetHexLabel("", "");
  return LoadOutcome::Faulty;
}

std::string BytesOf(uint64_t count, const char* area) {
  return std::string(area) + " (" + std::to_string(count) + (count == 1 ? " byte)" : " bytes)");
}
}  // namespace

std::string KilobyteText(int32_t programBytes) {
  // to_chars ignores the locale, so the separator is always '.'.
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, programBytes / 1024.0,
                                    std::chars_format::general, 15);
  std::string value(text, result.ptr);
  // Below 1 the leading zero is left out: ".976", "-.97".
  const size_t zero = value[0] == '-' ? 1 : 0;
  if (value.size() > zero + 1 && value.compare(zero, 2, "0.") == 0) value.erase(zero, 1);
  return value.substr(0, kKilobyteTextLength);
}

std::string UnprogrammedText(const OtherAreaBytes& bytes) {
  std::vector<std::string> areas;
  if (bytes.config) areas.push_back(BytesOf(bytes.config, "configuration words"));
  if (bytes.id) areas.push_back(BytesOf(bytes.id, "ID locations"));
  if (bytes.eeprom) areas.push_back(BytesOf(bytes.eeprom, "data EEPROM"));
  if (bytes.deviceId) areas.push_back(BytesOf(bytes.deviceId, "device ID"));
  if (areas.empty()) return "";
  std::string list;
  for (size_t k = 0; k < areas.size(); ++k) {
    list += (k == 0 ? "" : k + 1 == areas.size() ? " and " : ", ") + areas[k];
  }
  return "The download leaves out the file's " + list +
         (bytes.config ? ": the program runs with the bootloader's configuration words." : ".");
}

LoadOutcome LoadProgramFile(AppState& state, const std::string& fileName, Dialogs& dialogs,
                            Controls& controls, LoadNotes* notes) {
  controls.DisableControls();
  LoadNotes found;
  const LoadOutcome outcome = LoadInto(state, fileName, dialogs, controls, notes ? *notes : found);
  controls.EnableControls();
  return outcome;
}

void OpenProgramFile(AppState& state, Dialogs& dialogs, SettingsAccess& settings,
                     Controls& controls) {
  const std::string path = dialogs.OpenFile(
      "Select Program File", "Intel HEX files (*.hex)|*.hex|All files (*.*)|*.*", state.LastPath);
  if (path.empty()) return;
  OpenProgramPath(state, path, dialogs, settings, controls);
}

void OpenProgramPath(AppState& state, const std::string& path, Dialogs& dialogs,
                     SettingsAccess& settings, Controls& controls) {
  const FolderAndName parts = SplitFolder(path);
  state.LastPath = parts.folder;
  settings.WriteSetting(kLastPathSetting, state.LastPath);
  LoadProgramFile(state, parts.name, dialogs, controls);
}

FolderAndName SplitFolder(const std::string& path) {
  const size_t cut = path.rfind('/');
  const size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
  return {path.substr(0, nameStart), path.substr(nameStart)};
}
