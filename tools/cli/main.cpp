// zentrel-cli: the window's commands from a terminal or a script.
#include <QCoreApplication>
#include <cstdio>

#include "CliCommon.h"
#include "Commands.h"
#include "StandardStreams.h"
#include "ZentrelVersion.h"

namespace {

constexpr const char* kUsage =
    "Usage: zentrel-cli COMMAND [options] [FILE.hex]\n"
    "\n"
    "Commands:\n"
    "  check     load a HEX file as the window does and print the outcome\n"
    "  frame     write the download frame that the window would send\n"
    "  download  send a HEX file to the bootloader on one or more serial ports\n"
    "  ports     list the port numbers, the devices they name and what those are\n"
    "\n"
    "zentrel-cli COMMAND --help describes the options of a command;\n"
    "zentrel-cli --version prints the version.\n";

}  // namespace

int main(int argc, char** argv) {
  OpenStandardStreams();
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationVersion(kZentrelVersion);
  QStringList args = ArgumentsOf(argc, argv).mid(1);
  if (args.isEmpty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const QString command = args.takeFirst();
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitSuccess;
  }
  if (command == "--version") {
    PrintVersion();
    return kExitSuccess;
  }
  if (command == "check") return RunCheck(args);
  if (command == "frame") return RunFrame(args);
  if (command == "download") return RunDownload(args);
  if (command == "ports") return RunPorts(args);
  PrintError("zentrel-cli: unknown command '" + command + "'.");
  std::fputs(kUsage, stderr);
  return kExitUsage;
}
