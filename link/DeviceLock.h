#pragma once
// Holds a serial device for one program at a time, whatever name reached it
// (a port-map link, a /dev/serial/by-id name, the real path): the lock is an
// exclusive flock on the device itself, so every name meets the same lock.
#include <string>

class DeviceLock {
 public:
  DeviceLock() = default;
  ~DeviceLock() { Release(); }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // False, with "busy, in use by NAME (pid N)" in error, when another open
  // holds the device. A device that cannot be opened at all is left to the
  // caller's own open, which says why.
  bool Acquire(const std::string& devicePath, std::string& error);
  void Release();

 private:
  int fd_ = -1;
};
