#include "DeviceLock.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

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

// A process that has the device open, among those whose descriptors this
// user may see (all of them, for root); "" if none.
std::string Opener(const struct stat& device) {
  std::error_code error;
  const std::string self = std::to_string(getpid());
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename();
    const bool number = std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c); });
    if (pid == self || !number) continue;
    std::error_code unreadable;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
      struct stat target {};
      if (stat(fd.path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev) {
        return pid;
      }
    }
  }
  return "";
}

std::string InUseBy(const std::string& pid) {
  const bool self = pid == std::to_string(getpid());
  return "busy, in use by " + ProgramName(pid) + " (pid " + pid + (self ? ", this program)" : ")");
}

// Where the serial port's lock file would be: the system's lock folders in
// the order the serial library looks, /dev/ dropped and / made _.
std::string LockFileOf(const std::string& devicePath) {
  std::string name = devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : devicePath;
  std::replace(name.begin(), name.end(), '/', '_');
  for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                             "/var/lock/lockdev", "/run/lock"}) {
    const std::string path = std::string(folder) + "/LCK.." + name;
    if (access(path.c_str(), F_OK) == 0) return path;
  }
  return "";
}

std::string OwnerName(uid_t uid) {
  const passwd* user = getpwuid(uid);
  return user != nullptr ? user->pw_name : "user " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

// As ls -l shows it: crw-rw----.
std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
  const char* letters = "rwx";
  for (int bit = 8; bit >= 0; --bit) text += (mode & (1u << bit)) != 0 ? letters[(8 - bit) % 3] : '-';
  return text;
}

}  // namespace

std::string PermissionReason(const std::string& devicePath) {
  struct stat info {};
  if (stat(devicePath.c_str(), &info) != 0) return "permission denied";
  const std::string owner = OwnerName(info.st_uid), group = GroupName(info.st_gid);
  const std::string said = "permission denied (" + ModeText(info.st_mode) + " " + owner + ":" + group + ")";
  const bool groupMayUse = (info.st_mode & S_IRGRP) != 0 && (info.st_mode & S_IWGRP) != 0 && info.st_gid != 0;
  if (groupMayUse) {
    return said + "; add your user to the " + group + " group (sudo usermod -aG " + group +
           " \"$USER\"), then log in again";
  }
  return said + "; only " + owner + " may open it: a udev rule can give the device a group to join";
}

std::string BusyReason(const std::string& devicePath) {
  struct stat device {};
  if (stat(devicePath.c_str(), &device) == 0) {
    std::string pid = LockHolder(device);
    if (pid.empty()) pid = Opener(device);
    if (!pid.empty()) return InUseBy(pid);
  }
  return "busy, held by a program that cannot be seen from here (another user's, or one that ended and left "
         "the device in exclusive mode); 'sudo fuser -v " + devicePath + "' names it";
}

std::string LockFileReason(const std::string& devicePath) {
  const std::string file = LockFileOf(devicePath);
  std::ifstream text(file);
  long long pid = 0;
  std::string program;
  if (file.empty() || !(text >> pid) || pid <= 0) return BusyReason(devicePath);
  text >> program;
  if (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return InUseBy(std::to_string(pid));
  struct stat info {};
  const std::string owner = stat(file.c_str(), &info) == 0 ? OwnerName(info.st_uid) : "another user";
  return "busy: the lock file " + file + " of " + (program.empty() ? "a program" : program) + " (pid " +
         std::to_string(pid) + "), which has ended, belongs to " + owner +
         " and cannot be removed by this user; remove it: sudo rm " + file;
}

bool DeviceLock::Acquire(const std::string& devicePath, std::string& error) {
  Release();
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A device held in exclusive mode refuses even the open.
    if (errno == EBUSY) error = BusyReason(devicePath);
    return errno != EBUSY;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = BusyReason(devicePath);
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
