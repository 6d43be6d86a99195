#pragma once
// Helpers shared by the tests: recorders for the small interfaces that the
// logic talks through, and temporary per-user folders.
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Controls.h"
#include "Dialogs.h"
#include "SettingsAccess.h"
#include "LinkHost.h"

// Answers boxes from a script and records what was shown.
class RecordingDialogs : public Dialogs {
 public:
  std::vector<std::string> messages;
  std::deque<std::string> fileAnswers;   // "" = cancel; empty queue = cancel
  std::deque<std::string> inputAnswers;  // "" = cancel; empty queue = cancel
  std::deque<bool> confirmAnswers;       // empty queue = cancel
  std::vector<std::string> questions;
  std::vector<std::string> inputPrompts;
  std::vector<std::string> inputInitialTexts;
  std::string lastFileTitle, lastFileFilter, lastFileInitialDir;

  void ShowMessage(const std::string& text) override;
  std::string OpenFile(const std::string& title, const std::string& filter,
                       const std::string& initialDir) override;
  std::string InputBox(const std::string& prompt, const std::string& initialText) override;
  bool Confirm(const std::string& question, const std::string& action) override;
};

// Records every call, in order, as one line of text in log.
class RecordingControls : public Controls {
 public:
  std::vector<std::string> log;
  std::string hexLabel, hexDetail, commCaption, commDetail;
  uint32_t commColour = 0;
  bool enabled = true;

  void DisableControls() override;
  void EnableControls() override;
  void SetHexLabel(const std::string& text, const std::string& detail) override;
  void SetCommStatus(const std::string& caption, uint32_t colour,
                     const std::string& detail) override;
};

// Records writes, texts, pumps and pauses in order, as "write 3F",
// "status Downloaded byte 1/332", "pump", "pause 2000".
class RecordingLinkHost : public LinkHost {
 public:
  std::vector<std::string> log;
  std::vector<uint8_t> written;
  std::string status;
  bool portOpen = true;
  // Runs inside PumpEvents, for tests of nested handling; cleared after use.
  std::vector<std::function<void()>> onPump;

  bool PortIsOpen() const override { return portOpen; }
  void WriteByte(uint8_t value) override;
  void SetStatus(std::string_view text) override;
  void PumpEvents() override;
  void Pause(int milliseconds) override;
};

// An in-memory settings store.
class MemorySettings : public SettingsAccess {
 public:
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::string> writes;  // "name=value", in order
  std::string ReadSetting(const std::string& name, const std::string& defaultValue) override;
  void WriteSetting(const std::string& name, const std::string& value) override;
  const std::string* Find(const std::string& name) const;
};

// A fresh temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // no trailing "/"
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, std::string_view content) const;

 private:
  std::string path_;
};

// Points XDG_CONFIG_HOME (settings and port map), XDG_RUNTIME_DIR and
// XDG_STATE_HOME (the serial number counter) at a temporary folder for the
// life of the object, and restores them after.
class ScopedUserDirs {
 public:
  ScopedUserDirs();
  ~ScopedUserDirs();
  const TempDir& dir() const { return dir_; }
  std::string settingsFile() const;  // .../Software/Quorvel Zentrel.ini
  std::string portMapDir() const;    // .../Software/Quorvel Zentrel.ports
 private:
  TempDir dir_;
  std::string oldConfig_, oldRuntime_, oldState_;
  bool hadConfig_, hadRuntime_, hadState_;
};

std::string ReadFile(const std::string& path);
// Path of a file in the source tree, e.g. SourcePath("samples/config.txt").
std::string SourcePath(const std::string& relative);
// Path of a built program, e.g. BinPath("zentrel-sim").
std::string BinPath(const std::string& program);
