#include "SimOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <map>

#include "HexCodec.h"

namespace {
bool ParseCount(const std::string& text, int minimum, int& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= minimum;
}

bool ParseSeconds(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value > 0 && value <= 3600;
}

// The protocol model's line and faults mean nothing to a real chip, whose
// firmware sets its own baud rate; and a chip needs its firmware.
bool CheckModel(const std::vector<std::string>& args, const SimOptions& options,
                std::string& error) {
  if (options.chip.empty() != options.firmwarePath.empty()) {
    error = "--chip and --firmware go together";
    return false;
  }
  const char* const modelOnly[] = {"--corrupt-echo", "--stop-echo", "--restart-at", "--close-at",
                                   "--noise", "--baud", "--signal-interval"};
  for (const char* option : modelOnly) {
    if (!options.chip.empty() && std::find(args.begin(), args.end(), option) != args.end()) {
      error = std::string(option) + " belongs to the protocol model, not to --chip";
      return false;
    }
  }
  for (const char* option : {"--run-after", "--flash-fault"}) {
    if (options.chip.empty() && std::find(args.begin(), args.end(), option) != args.end()) {
      error = std::string(option) + " needs --chip";
      return false;
    }
  }
  return true;
}

// A byte address as six hex digits, as config.txt's bootloader: has it.
bool ParseAddress(const std::string& text, int& value) {
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  value = ParseHexAddress24(upper);
  return value >= 0;
}

using Setter = std::function<bool(const std::string&)>;

std::map<std::string, Setter> ValueOptions(SimOptions& o) {
  auto text = [](std::string& field) {
    return [&field](const std::string& v) {
      field = v;
      return !v.empty();
    };
  };
  auto count = [](int& field, int minimum) {
    return [&field, minimum](const std::string& v) { return ParseCount(v, minimum, field); };
  };
  return {
      {"--config", text(o.configPath)},
      {"--bootloader", [&o](const std::string& v) { return ParseAddress(v, o.bootloaderAddress); }},
      {"--link", text(o.linkPath)},
      {"--as-port", count(o.asPort, 1)},
      {"--dump", text(o.dumpPath)},
      {"--expect", text(o.expectPath)},
      {"--corrupt-echo", count(o.faults.corruptEcho, 1)},
      {"--stop-echo", count(o.faults.stopEcho, 1)},
      {"--restart-at", count(o.faults.restartAt, 1)},
      {"--close-at", count(o.faults.closeAt, 1)},
      {"--noise", count(o.noise, 0)},
      {"--baud", count(o.baud, 1)},
      {"--signal-interval", count(o.signalIntervalMs, 0)},
      {"--chip", text(o.chip)},
      {"--firmware", text(o.firmwarePath)},
      {"--run-after", [&o](const std::string& v) { return ParseSeconds(v, o.runAfterSeconds); }},
      {"--flash-fault", [&o](const std::string& v) { return ParseAddress(v, o.flashFault); }},
  };
}
}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
  const std::map<std::string, Setter> valueOptions = ValueOptions(options);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--once") {
      options.once = true;
    } else if (auto found = valueOptions.find(arg); found != valueOptions.end()) {
      if (i + 1 == args.size()) {
        error = arg + " needs a value";
        return false;
      }
      if (!found->second(args[++i])) {
        error = "bad value for " + arg + ": \"" + args[i] + "\"";
        return false;
      }
    } else {
      error = "unknown argument \"" + arg + "\"";
      return false;
    }
  }
  return CheckModel(args, options, error);
}

std::string SimHelpText() {
  return R"(Usage: zentrel-sim [options]

A simulated PIC18 serial bootloader on a pseudo-terminal. It prints
"device /dev/pts/N" as its first line, then signals with 0x55 once a host
has opened the device and read all that came before (again, see
--signal-interval, when the host has read it and not answered), takes
the answer 0x55 and the download frame (4-byte header, block data, the eight
relocated bytes), echoing every byte. Program memory is modelled as flash:
erased to 0xFF, each erase block erased before its first write of a
transfer, written a write block at a time. After each transfer it prints a
line with the byte count and the time taken, then signals again for the next
transfer (a bootloader that has finished programming restarts itself).

Model:
  (default)              a fast model of the bootloader's side of the link,
                         with the faults below
  --chip NAME            a real PIC18 (p18f452, PIC18F4520, ...) running
                         --firmware in gpsim, instruction by instruction; its
                         UART is the line, at the baud rate its firmware
                         sets. It starts from reset when a host opens the
                         line, never runs ahead of real time while one is
                         there, and after a transfer runs the program on
  --firmware FILE        the chip's firmware: Intel HEX or .cod, such as
                         bootloader-p18f452.hex beside the programs
  --run-after S          with --chip: after a completed transfer, run the
                         program S seconds of chip time and print
                         "program output: TEXT" (other bytes as \xNN)
  --flash-fault HEX6     with --chip: the program-memory byte at HEX6 (six
                         hex digits, e.g. 000104) is a worn cell that never
                         takes a write: it keeps its erased value 0xFF
Device:
  --config PATH          config.txt of the device (flash size, bootloader;
                         with --chip its device template: the program
                         memory size, the write block of its flash, and the
                         UART pins of its uart: line, TX and RX, RC6,RC7
                         where it has none)
  --bootloader HEX6      bootloader byte address, e.g. 007D00 (overrides --config)
                         without --config, program memory is 64 KiB
Line:
  --link PATH            also make a symbolic link PATH to the device
  --as-port N            register the device as COM<N> in the per-user port
                         map; the link is removed on exit, and a COM<N> link
                         that it replaced is put back
  --baud B               pace every byte sent as a line at B baud would
                         (10 bits a byte; an echo takes two byte times)
  --signal-interval MS   repeat a signal that the host has read and left
                         unanswered for MS ms (default 500), so that a repeat
                         never crosses an answer; one still unread, or a host
                         that holds the device exclusively, gets no repeat;
                         0 signals once, as a chip after reset does
Checks:
  --dump PATH            after each transfer write the programmed memory to
                         PATH as Intel HEX (jump words at 0..7, as on the chip;
                         with --chip all of program memory, bootloader too)
                         and the eight relocated bytes to PATH.relocated, at
                         addresses 0..7
  --expect FILE.hex      check each transfer against FILE.hex as the host
                         loads it: program bytes over the rounded area, the
                         jump words, the relocated bytes (needs --config or
                         --bootloader)
  --once                 exit after the first transfer
  --version              print the version and exit
Faults (K counts frame bytes from 1, the header's first byte; each fires once):
  --corrupt-echo K       echo byte K inverted
  --stop-echo K          echo nothing from byte K to the end of that transfer
  --restart-at K         reboot on byte K: no echo, signal 0x55 again
  --close-at K           close the line on byte K and exit
  --noise N              send N random bytes (never 0x55) before the first signal

Exit status: 0 every transfer completed (and verified with --expect);
1 a transfer failed its check or could not be programmed; 2 usage or setup
error; 3 with --once or --close-at, the line closed before a transfer
completed. Without --once the simulator serves one host after another until
SIGINT or SIGTERM; with --once it also exits when the host closes the line.
)";
}
