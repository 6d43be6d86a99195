#include "ProgramFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

std::string ProgramDirectory() {
  // The kernel's link to the running program has every symbolic link resolved.
  std::error_code error;
  std::string dir = std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  std::string folder = home != nullptr && home[0] != '\0' ? home : "";
  if (folder.empty()) {
    const passwd* entry = getpwuid(getuid());
    folder = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string DefaultFolder(const std::string& programDir) {
  if (access(programDir.c_str(), W_OK) == 0) return programDir;
  const std::string home = HomeFolder();
  return home == "/" ? home : home + "/";
}
