#pragma once
// The main window: two commands, three status labels and the port menu. It
// is the window side of the program image, the port and the link: it shows
// what they report and hands them the user's clicks and the received bytes.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <deque>
#include <string>

#include "AppState.h"
#include "Controls.h"
#include "Dialogs.h"
#include "SettingsAccess.h"
#include "LinkHost.h"
#include "PortManager.h"
#include "SerialLine.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;

class Form1 : public QMainWindow, public Controls, public LinkHost {
  Q_OBJECT
 public:
  Form1(AppState& state, Dialogs& dialogs, SettingsAccess& settings, SerialLine& line,
        QWidget* parent = nullptr);
  ~Form1() override;

  // The load sequence: show, read config.txt, caption, last folder, link
  // state, waiting text, open the port. False (after a message box saying
  // why) when the device description cannot be read.
  bool Load();
  // A file handed in from outside (a file argument, a drop, a later start):
  // it waits in line and is loaded as the open command would load it with
  // that path chosen, each file whole and one after the other, at a moment
  // when the open command could run (no box open, no load or transfer
  // running).
  void OpenFromOutside(const std::string& path);

  // Controls
  void DisableControls() override;
  void EnableControls() override;
  void SetHexLabel(const std::string& text, const std::string& detail) override;
  void SetCommStatus(const std::string& caption, uint32_t colour,
                     const std::string& detail) override;

  // LinkHost
  bool PortIsOpen() const override;
  void WriteByte(uint8_t value) override;
  void SetStatus(std::string_view text) override;
  void PumpEvents() override;
  void Pause(int milliseconds) override;
  // Kept as the tooltip of label_status, for a user who looked away.
  void TransferEnded(const TransferOutcome& outcome) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();
  void ConnectCommands();
  void SetCommandsEnabled(bool enabled);
  void CentreOnScreen();
  void PaintStatusNow();
  void PressDownload();
  void WatchForDevice();
  bool OpenCommandCouldRun() const;
  void OpenHandedOver();

  AppState& state_;
  Dialogs& dialogs_;
  SettingsAccess& settings_;
  SerialLine& line_;
  PortManager ports_;

  QLabel* label_commstatus_ = nullptr;
  QPushButton* Command1_ = nullptr;
  QLabel* label_hex_ = nullptr;
  QPushButton* Command2_ = nullptr;
  QLabel* label_status_ = nullptr;
  QMenu* menu1_ = nullptr;
  QAction* menuport_ = nullptr;

  // The link sets the status for every byte; painting each one would pace
  // the transfer, so the label is repainted at most once per interval.
  QElapsedTimer statusPainted_;
  QTimer statusFlush_;

  // While the port is in error, looks now and then at its device; a device
  // that is there and not the one that failed (a replugged adapter, or the
  // same one with new access rights) is reopened, once.
  QTimer deviceWatch_;
  std::string deviceSeen_;

  // Files handed in, oldest first; looked at now and then while any wait.
  std::deque<std::string> handedOver_;
  QTimer handOverTurn_;
  bool loaded_ = false;  // the load sequence is over

  std::string loadedFile_;    // full path of the file in label_hex, "" if none
  std::string transferFile_;  // the file the last download press sent
  // When the line last carried a byte of a transfer: a press while echoes
  // still arrive (a double-click) must not start the frame again mid-way.
  QElapsedTimer lastTraffic_;
};
