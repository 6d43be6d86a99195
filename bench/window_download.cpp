// The window's download, timed: builds the real main window against the
// current user's port map, loads FILE.hex through a scripted open dialog,
// waits for the bootloader's signal, presses "Download HEX File" and times
// the frame from the first byte to the last echo. Run it offscreen or under
// Xvfb; bench/link-bench.sh puts it beside the other hosts.
//   window_download FILE.hex
// Prints "bytes N seconds S paints P" on success.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/AppState.h"
#include "app/Form1.h"
#include "app/Startup.h"
#include "link/LinkProtocol.h"
#include "link/QtSerialLine.h"
#include "settings/SettingsStore.h"

namespace {

class ScriptedDialogs : public Dialogs {
 public:
  explicit ScriptedDialogs(std::string file) : file_(std::move(file)) {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  std::string OpenFile(const std::string&, const std::string&, const std::string&) override { return file_; }
  std::string InputBox(const std::string&, const std::string&) override { return ""; }

 private:
  std::string file_;
};

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

void RunUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer guard;
  guard.start();
  QTimer wake;
  wake.start(10);
  while (!done() && !guard.hasExpired(timeoutMs)) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_download FILE.hex\n");
    return 2;
  }
  AppState state;
  state.AppDir = ProgramDirectory();
  ScriptedDialogs dialogs(argv[1]);
  SettingsStore settings;
  QtSerialLine line(SettingsStore::PortMapDirectory());
  TimedForm form(state, dialogs, settings, line);
  if (!form.Load()) return 1;
  form.findChild<QPushButton*>("Command1")->click();
  RunUntil([&] { return state.LinkState == 1; }, 30000);
  if (state.LinkState != 1) {
    std::fprintf(stderr, "no signal from the bootloader\n");
    return 1;
  }
  PaintCounter counter;
  form.findChild<QLabel*>("label_status")->installEventFilter(&counter);
  form.clock.start();
  form.findChild<QPushButton*>("Command2")->click();
  RunUntil([&] { return form.endedMs >= 0; }, 600000);
  const bool completed = state.FrameIndex == state.FrameLength && state.LinkState == 0;
  if (!completed) {
    std::fprintf(stderr, "the download did not complete\n");
    return 1;
  }
  std::printf("bytes %d seconds %.6f paints %d\n", state.FrameLength, form.endedMs / 1000.0, counter.paints);
  return 0;
}
