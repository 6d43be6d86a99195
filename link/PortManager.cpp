#include "PortManager.h"

#include <optional>

#include "NumberValue.h"

namespace {

const char kChangePrompt[] = "Please select bootloader Serial Port Number [1-12].";
constexpr int kHighestPort = 12;

std::string PortCaption(int32_t number, const char* outcome) {
  return "Serial port " + std::to_string(number) + outcome;
}

// Only the exact texts "1".."12" choose a port; 0 means refused.
int32_t ChosenPort(const std::string& entry) {
  for (int32_t k = 1; k <= kHighestPort; ++k) {
    if (entry == std::to_string(k)) return k;
  }
  return 0;
}

}  // namespace

void PortManager::OpenPort() {
  const std::string stored = ReadStored(settings_, kPortNumberSetting);
  const std::optional<int32_t> number = NumberValue(stored);
  state_.BaudRate = ReadStored(settings_, kBaudRateSetting);
  state_.PortOpened = false;
  state_.PortNumber = number.value_or(0);
  std::string error;
  if (!number) {
    error = "the stored port number \"" + stored + "\" is out of range";
  } else if (line_.Open(state_.PortNumber, state_.BaudRate + ",n,8,1", error)) {
    controls_.SetCommStatus(PortCaption(state_.PortNumber, " ready"), kColourPortReady,
                            line_.DevicePath());
    state_.PortOpened = true;
    return;
  }
  controls_.SetCommStatus(PortCaption(state_.PortNumber, " error!"), kColourPortError, error);
}

void PortManager::ScanPorts() {
  if (state_.PortOpened) return;
  const int32_t remembered = state_.PortNumber;
  for (int32_t k = kHighestPort; k >= 1; --k) {
    settings_.WriteSetting(kPortNumberSetting.name, std::to_string(k));
    OpenPort();
    if (state_.PortOpened) return;
  }
  settings_.WriteSetting(kPortNumberSetting.name, std::to_string(remembered));
  OpenPort();
}

void PortManager::ChangePort() {
  line_.Close();
  const std::string entry = dialogs_.InputBox(kChangePrompt, std::to_string(state_.PortNumber));
  if (!entry.empty()) {
    const int32_t chosen = ChosenPort(entry);
    if (chosen != 0) {
      state_.PortNumber = chosen;
    } else {
      dialogs_.ShowMessage("Wrong entry!");
    }
  }
  settings_.WriteSetting(kPortNumberSetting.name, std::to_string(state_.PortNumber));
  OpenPort();
}

void PortManager::PortFailed(const std::string& why) {
  state_.PortOpened = false;
  controls_.SetCommStatus(PortCaption(state_.PortNumber, " error!"), kColourPortError, why);
}
