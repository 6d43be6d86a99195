#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <cstdio>
#include <string>
#include <vector>

#include "Startup.h"
#include "StandardStreams.h"
#include "StopSignals.h"
#include "WindowArguments.h"
#include "ZentrelVersion.h"

namespace {
constexpr int kUsageExit = 2;

// SIGINT, SIGTERM and SIGHUP end the program through its event loop, so
// that the serial port is closed as on any exit.
void QuitOnStopSignals(int fd, QCoreApplication& app) {
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [fd] {
    signalfd_siginfo info{};
    const bool read = ::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
    QCoreApplication::exit(128 + static_cast<int>(read ? info.ssi_signo : SIGTERM));
  });
}

std::vector<std::string> Arguments(const QStringList& list) {
  std::vector<std::string> args;
  for (const QString& arg : list) args.push_back(QFile::encodeName(arg).toStdString());
  return args;
}
}  // namespace

int main(int argc, char** argv) {
  OpenStandardStreams();
  // Answered before the application object, which needs a display.
  const WindowArguments early = ParseWindowArguments({argv + 1, argv + argc});
  if (early.help || early.version) {
    if (early.help) {
      std::fputs(WindowHelpText().c_str(), stdout);
    } else {
      std::printf("zentrel %s\n", kZentrelVersion);
    }
    return 0;
  }
  const int stopFd = OpenStopSignals();  // before the display's thread starts
  QApplication app(argc, argv);
  QuitOnStopSignals(stopFd, app);
  // The window names its desktop entry (Wayland matches it by this name; X
  // by the class, "zentrel" from the program's name, as StartupWMClass says).
  QGuiApplication::setDesktopFileName("quorvel-zentrel");
  // Qt has taken its own options (-platform, -style, ...) off the list by now.
  const WindowArguments parsed = ParseWindowArguments(Arguments(QCoreApplication::arguments().mid(1)));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "zentrel: %s\n%s", parsed.error.c_str(), WindowHelpText().c_str());
    return kUsageExit;
  }
  return RunZentrel(parsed.file);
}
