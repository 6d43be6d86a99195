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

  // False, with BusyReason() in error, when another open holds the device.
  // A device that cannot be opened at all is left to the caller's own open,
  // which says why.
  bool Acquire(const std::string& devicePath, std::string& error);
  void Release();

 private:
  int fd_ = -1;
};

// "busy, in use by NAME (pid N)" where the holder can be found: its lock on
// the device, else a process of this user that has it open; otherwise says
// that the holder is unknown and how to find it.
std::string BusyReason(const std::string& devicePath);

// Why the serial port's own lock file (LCK..NAME in the system's lock
// folder) refuses the device: its holder, or a lock left by a program that
// has ended which this user may not remove. BusyReason() when there is none.
std::string LockFileReason(const std::string& devicePath);

// "permission denied" with the device's mode, owner and group; the hint to
// join the group only where that group may read and write the device.
std::string PermissionReason(const std::string& devicePath);
