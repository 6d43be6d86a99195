// Builds the main window against the port map of the current user, loads a
// HEX file through a scripted open dialog, waits for the bootloader's signal
// and saves a picture of the window. Used by scripts/screenshot.sh.
//   zentrel-window-shot FILE.hex OUT.png
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <iostream>

#include "app/AppState.h"
#include "app/Form1.h"
#include "app/Startup.h"
#include "link/QtSerialLine.h"
#include "settings/SettingsStore.h"

namespace {
// Answers the open dialog with one file; messages go to standard output.
class ScriptedDialogs : public Dialogs {
 public:
  explicit ScriptedDialogs(std::string file) : file_(std::move(file)) {}
  void ShowMessage(const std::string& text) override { std::cout << text << std::endl; }
  std::string OpenFile(const std::string&, const std::string&, const std::string&) override {
    return file_;
  }
  std::string InputBox(const std::string&, const std::string&) override { return ""; }

 private:
  std::string file_;
};

bool WaitFor(const AppState& state, int timeoutMs) {
  QElapsedTimer guard;
  guard.start();
  QTimer wake;
  wake.start(10);
  while (state.LinkState != 1 && !guard.hasExpired(timeoutMs)) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return state.LinkState == 1;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: zentrel-window-shot FILE.hex OUT.png" << std::endl;
    return 2;
  }
  AppState state;
  state.AppDir = ProgramDirectory();
  ScriptedDialogs dialogs(argv[1]);
  SettingsStore settings;
  QtSerialLine line(SettingsStore::PortMapDirectory());
  Form1 form(state, dialogs, settings, line);
  if (!form.Load()) return 1;
  if (!WaitFor(state, 30000)) {
    std::cerr << "no signal from the bootloader" << std::endl;
    return 1;
  }
  form.findChild<QPushButton*>("Command1")->click();
  QTimer::singleShot(200, &app, [&] {
    const bool saved = form.grab().save(QString::fromLocal8Bit(argv[2]));
    std::cout << (saved ? "saved " : "cannot save ") << argv[2] << std::endl;
    if (!saved) app.exit(1);
  });
  // Stays up so that the caller can read the caption; ends when closed or killed.
  return QApplication::exec();
}
