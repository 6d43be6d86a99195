#pragma once
// Port numbers name serial devices. A link COM<n> in the per-user port map
// folder names the device of number n; without one, n counts the devices
// present: /dev/ttyUSB*, then ttyACM*, then ttyS*, each in numeric order,
// COM1 being the first.
#include <string>
#include <vector>

// The device for port number n, or "" when there is none.
std::string ResolvePortDevice(int portNumber, const std::string& mapDir,
                              const std::string& devDir = "/dev");

// The devices the default rule counts, in order (COM1 first).
std::vector<std::string> DefaultPortDevices(const std::string& devDir = "/dev");
