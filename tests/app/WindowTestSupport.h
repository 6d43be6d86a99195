#pragma once
// A window over in-memory dialogs, settings and serial line, in a temporary
// program folder that holds config.txt.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Form1.h"
#include "common/TestSupport.h"
#include "app/FakeSerialLine.h"
#include "app/ScriptedWindow.h"

inline constexpr const char* kDemoConfig =
    "model:demo1\r\nflash:32768\r\neeprom:256\r\neraseblock:64\r\nprogramblock:8\r\n"
    "bootloader:007D00\r\n";

// The texts of label_status for a whole transfer of n bytes.
inline std::vector<std::string> CompletedTransferTexts(int n) {
  std::vector<std::string> texts;
  for (int k = 1; k <= n; ++k) {
    texts.push_back("Downloaded byte " + std::to_string(k) + "/" + std::to_string(n));
  }
  texts.emplace_back("Download completed!");
  texts.emplace_back("Waiting for signal from bootloader...");
  return texts;
}

// Runs a probe whenever a message box or an input box would be shown.
class ProbingDialogs : public RecordingDialogs {
 public:
  std::function<void()> onMessage, onInput;
  void ShowMessage(const std::string& text) override {
    if (onMessage) onMessage();
    RecordingDialogs::ShowMessage(text);
  }
  std::string InputBox(const std::string& prompt, const std::string& initialText) override {
    if (onInput) onInput();
    return RecordingDialogs::InputBox(prompt, initialText);
  }
};

// Records every status text and pause; pauses do not sleep.
class ProbedForm : public Form1 {
 public:
  using Form1::Form1;
  std::vector<std::string> statuses;
  std::vector<int> pauses;
  void SetStatus(std::string_view text) override {
    statuses.emplace_back(text);
    Form1::SetStatus(text);
  }
  void Pause(int milliseconds) override {
    pauses.push_back(milliseconds);
    Form1::Pause(0);
  }
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    dir.write("config.txt", kDemoConfig);
    state.AppDir = dir.path() + "/";
  }

  ProbedForm& Window() {
    if (!form) form = std::make_unique<ProbedForm>(state, dialogs, settings, line);
    return *form;
  }
  ProbedForm& Loaded() {
    EXPECT_TRUE(Window().Load());
    return *form;
  }
  template <class T>
  T* Child(const char* name) {
    T* child = Window().findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QLabel* Label(const char* name) { return Child<QLabel>(name); }
  QPushButton* Button(const char* name) { return Child<QPushButton>(name); }
  QMenu* Menu() { return Child<QMenu>("menu1"); }
  QAction* PortItem() { return Child<QAction>("menuport"); }

  // Answers the open dialog with path and presses Command1.
  void OpenFile(const std::string& path) {
    dialogs.fileAnswers.push_back(path);
    Button("Command1")->click();
  }
  // Writes each (name, content) into the program folder and opens it, in turn.
  void OpenInTurn(const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, content] : files) {
      dir.write(name, content);
      OpenFile(dir.file(name));
    }
  }

  TempDir dir;
  AppState state;
  ProbingDialogs dialogs;
  MemorySettings settings;
  FakeSerialLine line;
  std::unique_ptr<ProbedForm> form;  // after line: it lets go of the line first
};
