#include "WindowArguments.h"

WindowArguments ParseWindowArguments(const std::vector<std::string>& args) {
  WindowArguments parsed;
  bool options = true;
  for (const std::string& arg : args) {
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      parsed.help = true;
    } else if (options && arg == "--version") {
      parsed.version = true;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      if (parsed.error.empty()) parsed.error = "unknown option '" + arg + "'";
    } else if (parsed.file.empty()) {
      parsed.file = arg;
    } else if (parsed.error.empty()) {
      parsed.error = "one HEX file at a time ('" + parsed.file + "', then '" + arg + "')";
    }
  }
  return parsed;
}

std::string WindowHelpText() {
  return "Usage: zentrel [FILE.hex]\n"
         "\n"
         "The Quorvel Zentrel window: loads an Intel HEX file and downloads it to the\n"
         "serial bootloader of a PIC18 chip, checking every byte against its echo.\n"
         "FILE.hex is loaded once the window is up, as Open HEX File would load it;\n"
         "while a window runs, it is handed to that window.\n"
         "\n"
         "  -h, --help  show this text and exit\n"
         "  --version   show the version and exit\n"
         "\n"
         "The device description is config.txt in ~/.config/Software/Quorvel Zentrel/\n"
         "(under $XDG_CONFIG_HOME when set) where it exists, else the one beside the\n"
         "program; zentrel-cli reads the same.\n";
}
