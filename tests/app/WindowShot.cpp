// Builds the main window against the port map of the current user, loads a
// HEX file through a scripted open dialog, waits for the bootloader's signal
// and saves a picture of the window. Used by scripts/screenshot.sh.
//   zentrel-window-shot FILE.hex OUT.png
#include <QApplication>
#include <QPixmap>
#include <iostream>

#include "app/ScriptedWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: zentrel-window-shot FILE.hex OUT.png" << std::endl;
    return 2;
  }
  ScriptedWindow<> window(argv[1]);
  if (!window.LoadAndWaitForSignal(30000)) return 1;
  QTimer::singleShot(200, &app, [&] {
    const bool saved = window.form.grab().save(QString::fromLocal8Bit(argv[2]));
    std::cout << (saved ? "saved " : "cannot save ") << argv[2] << std::endl;
    if (!saved) app.exit(1);
  });
  // Stays up so that the caller can read the caption; ends when closed or killed.
  return QApplication::exec();
}
