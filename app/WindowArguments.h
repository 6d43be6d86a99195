#pragma once
// The command line of the window program: an optional HEX file to load,
// --help and --version. Plain C++: it is read before Qt starts, so that
// --help works without a display.
#include <string>
#include <vector>

struct WindowArguments {
  bool help = false;
  bool version = false;
  std::string file;   // "" when none was given
  std::string error;  // a usage error, "" when the line is fine
};

// args without the program name. "--" ends the options, so a file may be
// called "--help".
WindowArguments ParseWindowArguments(const std::vector<std::string>& args);

std::string WindowHelpText();
