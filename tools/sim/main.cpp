// zentrel-sim: a simulated PIC18 serial bootloader on a pseudo-terminal.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>
#include <fcntl.h>

#include <iostream>

#include "DeviceDescription.h"
#include "ChipModel.h"
#include "ChipRunner.h"
#include "SymbolicLink.h"
#include "SimOptions.h"
#include "SimReport.h"
#include "SimRunner.h"
#include "StandardStreams.h"
#include "StopSignals.h"
#include "ZentrelVersion.h"

namespace {
constexpr int kUsageError = 2;
constexpr int32_t kDefaultFlashSize = 64 * 1024;

int Fail(const std::string& message) {
  std::cerr << "zentrel-sim: " << message << std::endl;
  return kUsageError;
}

// The template's line that names the chip's UART pins, TX first.
constexpr char kUartKey[] = "uart:";

bool ReadDevice(const SimOptions& options, DeviceDescription& device, TextFields& extra,
                std::string& error) {
  device.FlashSize = kDefaultFlashSize;
  device.BootloaderAddress = -1;
  extra[kUartKey];
  if (!options.configPath.empty() &&
      !ReadDeviceDescription(options.configPath, device, extra, error)) {
    return false;
  }
  if (device.FlashSize < 1 || device.FlashSize > kMaxFlashSize) {
    error = "flash size " + std::to_string(device.FlashSize) + " in " + options.configPath +
            " is outside 1.." + std::to_string(kMaxFlashSize);
    return false;
  }
  if (options.bootloaderAddress >= 0) device.BootloaderAddress = options.bootloaderAddress;
  return true;
}

bool PrepareExpectation(const SimOptions& options, const DeviceDescription& device,
                        Expectation& expectation, std::string& error) {
  if (device.BootloaderAddress < 0) {
    error = "--expect needs the bootloader address: give --config with a valid bootloader: "
            "line, or --bootloader";
    return false;
  }
  return LoadExpectation(options.expectPath, device, expectation, error);
}

// SIGINT, SIGTERM and SIGHUP are read from a descriptor in the loop, so the
// links are removed on the normal way out.
bool MakeLinks(const SimOptions& options, const std::string& device, SymbolicLink& link,
               SymbolicLink& port, std::ostream& out, std::string& error) {
  if (!options.linkPath.empty() && !link.Create(options.linkPath, device, error)) return false;
  if (options.asPort == 0) return true;
  const std::string path = PortMapLinkPath(options.asPort, error);
  if (path.empty() || !port.Create(path, device, error)) return false;
  out << "port COM" << options.asPort << " -> " << device << std::endl;
  return true;
}
// What gpsim does not know of the part comes from its device template.
bool ChipSetupOf(const SimOptions& options, const DeviceDescription& device, const TextFields& extra,
                 ChipSetup& setup, std::string& error) {
  setup.flashFault = options.flashFault;
  if (options.configPath.empty()) {
    std::cerr << "zentrel-sim: without --config the chip writes flash 8 bytes at a time and has "
                 "the program memory gpsim gives it; give its device template"
              << std::endl;
    return true;
  }
  setup.writeBlock = device.ProgramBlockSize;
  setup.programBytes = device.FlashSize;
  const std::string& uart = extra.at(kUartKey);
  if (uart.empty()) return true;
  const size_t comma = uart.find(',');
  setup.txPin = uart.substr(0, comma);
  setup.rxPin = comma == std::string::npos ? "" : uart.substr(comma + 1);
  if (!setup.rxPin.empty()) return true;
  error = options.configPath + ": the uart: line names no RX pin (uart:TX,RX, e.g. uart:RC6,RC7)";
  return false;
}

// Quiets gpsim's standard output and loads the firmware into the chip.
bool PrepareChip(const SimOptions& options, const DeviceDescription& device, const TextFields& extra,
                 ChipModel& chip, std::string& error) {
  ChipSetup setup;
  if (!ChipSetupOf(options, device, extra, setup, error)) return false;
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(quiet, STDOUT_FILENO);
  close(quiet);
  return chip.Load(options.chip, options.firmwarePath, setup, error);
}
}  // namespace

int main(int argc, char** argv) {
  OpenStandardStreams();
  SimOptions options;
  std::string error;
  if (!ParseSimOptions({argv + 1, argv + argc}, options, error)) {
    return Fail(error + " (see --help)");
  }
  if (options.help) {
    std::cout << SimHelpText();
    return 0;
  }
  if (options.version) {
    std::cout << "zentrel-sim " << kZentrelVersion << "\n";
    return 0;
  }
  DeviceDescription device;
  TextFields extra;
  Expectation expectation;
  if (!ReadDevice(options, device, extra, error) ||
      (!options.expectPath.empty() && !PrepareExpectation(options, device, expectation, error))) {
    return Fail(error);
  }
  // gpsim prints to standard output as it loads and halts: in chip mode it
  // gets /dev/null there, and the simulator's own lines a copy of stdout.
  ChipModel chip;
  __gnu_cxx::stdio_filebuf<char> ownOutput(options.chip.empty() ? -1 : dup(STDOUT_FILENO),
                                           std::ios::out);
  std::ostream chipOut(&ownOutput);
  std::ostream& out = options.chip.empty() ? std::cout : chipOut;
  if (!options.chip.empty() && !PrepareChip(options, device, extra, chip, error)) return Fail(error);
  const int stopFd = OpenStopSignals();
  PseudoTerminal line;
  if (stopFd < 0 || !line.Open(error)) return Fail(error.empty() ? "cannot watch signals" : error);
  out << "device " << line.DevicePath() << std::endl;
  SymbolicLink link, port;
  if (!MakeLinks(options, line.DevicePath(), link, port, out, error)) return Fail(error);
  // Pacing a byte of 87 us needs wake-ups without the default 50 us slack.
  if (options.baud > 0 || !options.chip.empty()) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  const Expectation* expected = options.expectPath.empty() ? nullptr : &expectation;
  int status = 0;
  if (options.chip.empty()) {
    status = SimRunner(options, device.FlashSize, expected, line, out).Run(stopFd);
  } else {
    status = ChipRunner(options, chip, expected, line, out).Run(stopFd);
  }
  close(stopFd);
  return status;
}
