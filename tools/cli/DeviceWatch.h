#pragma once
// download --watch: serial devices that appear while the station runs
// become boards, and boards whose device disappears are dropped. A link
// COM<n> that appears in the port map counts as a device too (that is how
// the simulator plugs a board in).
#include <set>
#include <string>
#include <vector>

#include "ProgressDisplay.h"
#include "UsbFilter.h"

// A device the watch can see: the key tells one plugging-in from the next
// (the link and the device it names, or the device).
struct WatchedDevice {
  std::string key;
  BoardTarget target;
  std::string real;  // the device's real path
  std::string Name() const;  // "COM5 (/dev/pts/7)" or the device
};

class DeviceWatch {
 public:
  // With filters, only devices whose USB adapter they choose.
  DeviceWatch(std::vector<UsbFilter> filters, std::string mapDir)
      : filters_(std::move(filters)), mapDir_(std::move(mapDir)) {}

  // What is there at the start is no new board; nor is a device that a
  // board given on the command line already reaches.
  void Start(const std::vector<BoardTarget>& named);

  // What appeared since the last scan.
  std::vector<WatchedDevice> Scan();
  // Whether the device of key was there at the last scan.
  bool Has(const std::string& key) const { return known_.count(key) != 0; }

 private:
  std::vector<WatchedDevice> Present(const std::vector<SerialDevice>& listed) const;
  std::set<std::string> Reached(const std::vector<SerialDevice>& listed) const;

  std::vector<UsbFilter> filters_;
  std::string mapDir_;
  std::set<std::string> namedDevices_;  // as given
  std::set<int> namedPorts_;
  std::set<std::string> known_;
};
