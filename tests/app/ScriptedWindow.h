#pragma once
// The real main window against the current user's settings and port map,
// its open dialog answered with one file: for programs that drive the window
// from a script (the screenshot, the window's download benchmark).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

#include "AppState.h"
#include "Form1.h"
#include "ProgramFolder.h"
#include "Startup.h"
#include "QtSerialLine.h"
#include "SettingsStore.h"

// Answers the open dialog with one file; messages go to standard error.
class ScriptedDialogs : public MessageCollector {
 public:
  explicit ScriptedDialogs(std::string file) : file_(std::move(file)) {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  std::string OpenFile(const std::string&, const std::string&, const std::string&) override { return file_; }

 private:
  std::string file_;
};

// Runs the event loop until done() holds or the time is up, without sleeping
// between rounds (a sleep would pace a byte-by-byte transfer).
inline bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs = 120000) {
  QElapsedTimer guard;
  guard.start();
  QTimer wake;
  wake.start(10);
  while (!done() && !guard.hasExpired(timeoutMs)) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

template <class Form = Form1>
class ScriptedWindow {
 public:
  explicit ScriptedWindow(std::string file)
      : dialogs(std::move(file)), line(SettingsStore::PortMapDirectory()), form(state, dialogs, settings, line) {}

  // Runs the load sequence, opens the file, and waits for the bootloader's
  // signal; false, with the reason on standard error, if any step fails.
  bool LoadAndWaitForSignal(int timeoutMs) {
    state.AppDir = ProgramDirectory();
    if (!form.Load()) return false;
    form.template findChild<QPushButton*>("Command1")->click();
    if (RunEventsUntil([this] { return state.LinkState == 1; }, timeoutMs)) return true;
    std::fprintf(stderr, "no signal from the bootloader\n");
    return false;
  }

  AppState state;
  ScriptedDialogs dialogs;
  SettingsStore settings;
  QtSerialLine line;
  Form form;
};
