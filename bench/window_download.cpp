// The window's download, timed: builds the real main window against the
// current user's port map, loads FILE.hex through a scripted open dialog,
// waits for the bootloader's signal, presses "Download HEX File" and times
// the frame from the first byte to the last echo. Run it offscreen or under
// Xvfb; bench/link-bench.sh puts it beside the other hosts.
//   window_download FILE.hex
// Prints "bytes N seconds S paints P" on success.
#include <QApplication>
#include <QEvent>
#include <QLabel>

#include "app/ScriptedWindow.h"

namespace {

// The first pause after the last echo ends the timing; no pause sleeps.
class TimedForm : public Form1 {
 public:
  using Form1::Form1;
  QElapsedTimer clock;
  qint64 endedMs = -1;
  void Pause(int) override {
    if (endedMs < 0) endedMs = clock.elapsed();
  }
};

// Counts the paints of one widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_download FILE.hex\n");
    return 2;
  }
  ScriptedWindow<TimedForm> window(argv[1]);
  if (!window.LoadAndWaitForSignal(30000)) return 1;
  PaintCounter counter;
  window.form.findChild<QLabel*>("label_status")->installEventFilter(&counter);
  window.form.clock.start();
  window.form.findChild<QPushButton*>("Command2")->click();
  RunEventsUntil([&] { return window.form.endedMs >= 0; }, 600000);
  const AppState& state = window.state;
  if (state.FrameLength == 0 || state.FrameIndex != state.FrameLength || state.LinkState != 0) {
    std::fprintf(stderr, "the download did not complete\n");
    return 1;
  }
  std::printf("bytes %d seconds %.6f paints %d\n", state.FrameLength, window.form.endedMs / 1000.0, counter.paints);
  return 0;
}
