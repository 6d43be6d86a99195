// Builds the main window against the port map of the current user, loads a
// HEX file through a scripted open dialog, waits for the bootloader's
// signal, downloads the file, waits for the next signal, and saves a picture
// of the screen around the window with the tooltip of label_status shown
// (the outcome of that download). Used by scripts/screenshot.sh.
//   zentrel-window-shot FILE.hex OUT.png
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <iostream>

#include "app/ScriptedWindow.h"

namespace {
// The window and the tooltip beside it, on the screen as the user sees them.
QPixmap GrabWithTooltip(QWidget& window) {
  QRect area = window.frameGeometry();
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->inherits("QTipLabel") && top->isVisible()) area |= top->geometry();
  }
  area.adjust(-8, -8, 8, 8);
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: zentrel-window-shot FILE.hex OUT.png" << std::endl;
    return 2;
  }
  ScriptedWindow<> window(argv[1]);
  if (!window.LoadAndWaitForSignal(30000)) return 1;
  auto* status = window.form.findChild<QLabel*>("label_status");
  window.form.findChild<QPushButton*>("Command2")->click();
  // The simulated bootloader signals again once the transfer is over.
  if (!RunEventsUntil([&] { return !status->toolTip().isEmpty() && window.state.LinkState == 1; })) {
    std::cerr << "the download did not end with the bootloader ready again" << std::endl;
    return 1;
  }
  QToolTip::showText(status->mapToGlobal(status->rect().center()), status->toolTip(), status, {}, 60000);
  QTimer::singleShot(500, &app, [&] {
    const bool saved = GrabWithTooltip(window.form).save(QString::fromLocal8Bit(argv[2]));
    std::cout << (saved ? "saved " : "cannot save ") << argv[2] << std::endl;
    if (!saved) app.exit(1);
  });
  // Stays up so that the caller can read the caption; ends when closed or killed.
  return QApplication::exec();
}
