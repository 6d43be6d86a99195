#pragma once
// The command line of zentrel-sim.
#include <string>
#include <vector>

#include "SimDevice.h"

struct SimOptions {
  std::string configPath;
  int bootloaderAddress = -1;  // from --bootloader; -1 when not given
  std::string linkPath;
  int asPort = 0;  // 0: not registered in the port map
  std::string dumpPath;
  std::string expectPath;
  bool once = false;
  FaultPlan faults;
  int noise = 0;
  int baud = 0;  // 0: no pacing
  int signalIntervalMs = 500;  // 0: signal once, as a real chip after reset
  std::string chip;            // --chip: a real PIC18 in gpsim instead of the model
  std::string firmwarePath;
  double runAfterSeconds = 0;  // 0: the program's output is not watched
  int flashFault = -1;         // --flash-fault: a byte that never takes a write
  bool help = false;
  bool version = false;
};

// False with the reason when the arguments are not understood.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

std::string SimHelpText();
