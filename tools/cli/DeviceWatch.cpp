#include "DeviceWatch.h"

#include "CliCommon.h"
#include "PortMap.h"
#include "QtSerialLine.h"

void DeviceWatch::Start(const std::vector<BoardTarget>& named) {
  for (const BoardTarget& target : named) {
    if (target.device.empty()) {
      namedPorts_.insert(target.port);
    } else {
      namedDevices_.insert(Canonical(target.device));
    }
  }
  for (const WatchedDevice& device : Present()) known_.insert(device.key);
}

bool DeviceWatch::Named(const WatchedDevice& device) const {
  return namedPorts_.count(device.target.port) != 0 || namedDevices_.count(device.real) != 0;
}

// One entry a real device: a link of the port map names it before its own
// path does, so that a board keeps the number it was given.
std::vector<WatchedDevice> DeviceWatch::Present() const {
  const std::vector<SerialDevice> listed = ListSerialDevices();
  const std::vector<SerialDevice> chosen = filters_.empty() ? listed : MatchingDevices(listed, filters_);
  std::set<std::string> chosenPaths, taken;
  for (const SerialDevice& device : chosen) chosenPaths.insert(Canonical(device.path));
  std::vector<WatchedDevice> present;
  for (const MappedPort& mapped : MappedPorts(mapDir_)) {
    const std::string real = Canonical(mapped.device);
    if ((!filters_.empty() && chosenPaths.count(real) == 0) || !taken.insert(real).second) continue;
    present.push_back({"COM" + std::to_string(mapped.port) + " " + real, BoardTarget{mapped.port, ""}, real});
  }
  for (const SerialDevice& device : chosen) {
    const std::string real = Canonical(device.path);
    if (taken.insert(real).second) present.push_back({device.path, BoardTarget{0, device.path}, real});
  }
  return present;
}

std::vector<WatchedDevice> DeviceWatch::Scan() {
  std::vector<WatchedDevice> appeared;
  std::set<std::string> now;
  for (const WatchedDevice& device : Present()) {
    now.insert(device.key);
    if (known_.count(device.key) == 0 && !Named(device)) appeared.push_back(device);
  }
  known_ = std::move(now);
  return appeared;
}

std::string WatchedDevice::Name() const {
  return target.device.empty() ? "COM" + std::to_string(target.port) + " (" + real + ")" : target.device;
}
