#include "DeviceWatch.h"

#include "CliCommon.h"
#include "PortMap.h"
#include "QtSerialLine.h"

void DeviceWatch::Start(const std::vector<BoardTarget>& named) {
  for (const BoardTarget& target : named) {
    if (target.device.empty()) {
      namedPorts_.insert(target.port);
    } else {
      namedDevices_.insert(target.device);
    }
  }
  for (const WatchedDevice& device : Present(ListSerialDevices())) known_.insert(device.key);
}

// The real devices that the boards named at the start reach now: a port
// number or a link may lead elsewhere once an adapter has been replugged.
std::set<std::string> DeviceWatch::Reached(const std::vector<SerialDevice>& listed) const {
  std::vector<std::string> paths;
  for (const SerialDevice& device : listed) paths.push_back(device.path);
  std::set<std::string> reached;
  for (int port : namedPorts_) reached.insert(Canonical(ResolvePortDevice(port, mapDir_, paths)));
  for (const std::string& device : namedDevices_) reached.insert(Canonical(device));
  return reached;
}

// One entry a real device: a link of the port map names it before its own
// path does, so that a board keeps the number it was given.
std::vector<WatchedDevice> DeviceWatch::Present(const std::vector<SerialDevice>& listed) const {
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
  const std::vector<SerialDevice> listed = ListSerialDevices();
  const std::set<std::string> reached = Reached(listed);
  std::vector<WatchedDevice> appeared;
  std::set<std::string> now;
  for (const WatchedDevice& device : Present(listed)) {
    now.insert(device.key);
    const bool named = namedPorts_.count(device.target.port) != 0 || reached.count(device.real) != 0;
    if (known_.count(device.key) == 0 && !named) appeared.push_back(device);
  }
  known_ = std::move(now);
  return appeared;
}

std::string WatchedDevice::Name() const {
  return target.device.empty() ? "COM" + std::to_string(target.port) + " (" + real + ")" : target.device;
}
