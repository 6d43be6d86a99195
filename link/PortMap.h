#pragma once
// Port numbers name serial devices. A link COM<n> in the per-user port map
// folder names the device of number n; without one, n counts the serial
// devices that really exist, as the serial layer lists them (an on-board
// ttyS* with no UART behind it is not listed): ttyUSB*, then ttyACM*, then
// ttyS*, each in numeric order, COM1 being the first.
#include <string>
#include <vector>

// The device for port number n, or "" when there is none; listed holds the
// paths of the serial devices present, in any order.
std::string ResolvePortDevice(int portNumber, const std::string& mapDir,
                              const std::vector<std::string>& listed);

// The listed devices that the default rule counts, in order (COM1 first).
std::vector<std::string> DefaultPortDevices(const std::vector<std::string>& listed);

// A link COM<n> of the port map and the device it names.
struct MappedPort {
  int port = 0;
  std::string device;
};
// Every link of the port map folder whose device exists, in the order of n.
std::vector<MappedPort> MappedPorts(const std::string& mapDir);
