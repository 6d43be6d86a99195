#pragma once
// Opening the serial port, scanning for one that works, and the port menu.
#include <string>

#include "AppState.h"
#include "Controls.h"
#include "Dialogs.h"
#include "SettingsAccess.h"
#include "SerialLine.h"

class PortManager {
 public:
  PortManager(AppState& state, SettingsAccess& settings, SerialLine& line, Controls& controls,
              Dialogs& dialogs)
      : state_(state), settings_(settings), line_(line), controls_(controls), dialogs_(dialogs) {}

  // Opens the stored port number; shows "Serial port n ready" or " error!".
  void OpenPort();
  // At start-up after a failed OpenPort: tries 12 down to 1, then the old one.
  void ScanPorts();
  // The menu command "Change Serial Port Number".
  void ChangePort();
  // The serial layer reports the device gone: the port is closed by then;
  // show it as failed.
  void PortFailed(const std::string& why);

 private:
  AppState& state_;
  SettingsAccess& settings_;
  SerialLine& line_;
  Controls& controls_;
  Dialogs& dialogs_;
};
