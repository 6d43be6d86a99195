#include "common/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
std::string Pop(std::deque<std::string>& queue) {
  if (queue.empty()) return "";
  std::string answer = queue.front();
  queue.pop_front();
  return answer;
}

std::string GetEnv(const char* name, bool& had) {
  const char* value = std::getenv(name);
  had = value != nullptr;
  return had ? value : "";
}

void RestoreEnv(const char* name, bool had, const std::string& value) {
  if (had) {
    setenv(name, value.c_str(), 1);
  } else {
    unsetenv(name);
  }
}
}  // namespace

void RecordingDialogs::ShowMessage(const std::string& text) { messages.push_back(text); }

std::string RecordingDialogs::OpenFile(const std::string& title, const std::string& filter,
                                       const std::string& initialDir) {
  lastFileTitle = title;
  lastFileFilter = filter;
  lastFileInitialDir = initialDir;
  return Pop(fileAnswers);
}

std::string RecordingDialogs::InputBox(const std::string& prompt, const std::string& initialText) {
  inputPrompts.push_back(prompt);
  inputInitialTexts.push_back(initialText);
  return Pop(inputAnswers);
}

bool RecordingDialogs::Confirm(const std::string& question, const std::string&) {
  questions.push_back(question);
  if (confirmAnswers.empty()) return false;
  const bool answer = confirmAnswers.front();
  confirmAnswers.pop_front();
  return answer;
}

void RecordingControls::DisableControls() {
  enabled = false;
  log.push_back("disable");
}

void RecordingControls::EnableControls() {
  enabled = true;
  log.push_back("enable");
}

void RecordingControls::SetHexLabel(const std::string& text, const std::string& detail) {
  hexLabel = text;
  hexDetail = detail;
  log.push_back("hex " + text);
}

void RecordingControls::SetCommStatus(const std::string& caption, uint32_t colour,
                                      const std::string& detail) {
  commCaption = caption;
  commColour = colour;
  commDetail = detail;
  log.push_back("comm " + caption);
}

void RecordingLinkHost::WriteByte(uint8_t value) {
  written.push_back(value);
  char text[16];
  std::snprintf(text, sizeof text, "write %02X", value);
  log.emplace_back(text);
}

void RecordingLinkHost::SetStatus(std::string_view text) {
  status = text;
  log.push_back("status " + status);
}

void RecordingLinkHost::PumpEvents() {
  log.emplace_back("pump");
  auto pending = std::move(onPump);
  onPump.clear();
  for (auto& run : pending) run();
}

void RecordingLinkHost::Pause(int milliseconds) { log.push_back("pause " + std::to_string(milliseconds)); }

std::string MemorySettings::ReadSetting(const std::string& name, const std::string& defaultValue) {
  if (const std::string* value = Find(name)) return *value;
  WriteSetting(name, defaultValue);
  return defaultValue;
}

void MemorySettings::WriteSetting(const std::string& name, const std::string& value) {
  writes.push_back(name + "=" + value);
  for (auto& entry : values) {
    if (entry.first == name) {
      entry.second = value;
      return;
    }
  }
  values.emplace_back(name, value);
}

const std::string* MemorySettings::Find(const std::string& name) const {
  for (const auto& entry : values) {
    if (entry.first == name) return &entry.second;
  }
  return nullptr;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zentrel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, std::string_view content) const {
  std::ofstream out(file(name), std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

ScopedUserDirs::ScopedUserDirs() {
  oldConfig_ = GetEnv("XDG_CONFIG_HOME", hadConfig_);
  oldRuntime_ = GetEnv("XDG_RUNTIME_DIR", hadRuntime_);
  oldState_ = GetEnv("XDG_STATE_HOME", hadState_);
  setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  setenv("XDG_STATE_HOME", dir_.path().c_str(), 1);
}

ScopedUserDirs::~ScopedUserDirs() {
  RestoreEnv("XDG_CONFIG_HOME", hadConfig_, oldConfig_);
  RestoreEnv("XDG_RUNTIME_DIR", hadRuntime_, oldRuntime_);
  RestoreEnv("XDG_STATE_HOME", hadState_, oldState_);
}

std::string ScopedUserDirs::settingsFile() const { return dir_.path() + "/Software/Quorvel Zentrel.ini"; }

std::string ScopedUserDirs::portMapDir() const { return dir_.path() + "/Software/Quorvel Zentrel.ports"; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string SourcePath(const std::string& relative) { return std::string(ZENTREL_SOURCE_DIR) + "/" + relative; }

std::string BinPath(const std::string& program) { return std::string(ZENTREL_BIN_DIR) + "/" + program; }
