#pragma once
// A symbolic link to the simulated device (--link, --as-port), removed when
// the simulator ends.
#include <string>

class DeviceLink {
 public:
  DeviceLink() = default;
  ~DeviceLink() { Remove(); }
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Replaces a stale symbolic link, never any other file; false with the reason.
  bool Create(const std::string& linkPath, const std::string& target, std::string& error);
  // Removes the link unless someone has pointed it elsewhere meanwhile.
  void Remove();

 private:
  std::string linkPath_;
  std::string target_;
};

// COM<n> in the per-user port map folder, which is created when missing.
std::string PortMapLinkPath(int portNumber, std::string& error);
