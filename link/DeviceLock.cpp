#include "DeviceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string ProgramName(const std::string& pid) {
  std::ifstream comm("/proc/" + pid + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "another program" : name;
}

// The pid that /proc/locks names for a lock on this device, or "".
std::string LockHolder(const struct stat& device) {
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(device.st_dev), minor(device.st_dev),
                static_cast<unsigned long long>(device.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, where;
    fields >> number >> kind >> mode >> access >> pid >> where;
    if (kind == "FLOCK" && where == id) return pid;
  }
  return "";
}

std::string Busy(int fd) {
  struct stat device {};
  const std::string pid = fstat(fd, &device) == 0 ? LockHolder(device) : "";
  if (pid.empty()) return "busy, in use by another program";
  const bool self = pid == std::to_string(getpid());
  return "busy, in use by " + ProgramName(pid) + " (pid " + pid + (self ? ", this program)" : ")");
}

}  // namespace

bool DeviceLock::Acquire(const std::string& devicePath, std::string& error) {
  Release();
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A device held in exclusive mode refuses even the open.
    if (errno == EBUSY) error = "busy, in use by another program";
    return errno != EBUSY;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = Busy(fd);
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void DeviceLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}
