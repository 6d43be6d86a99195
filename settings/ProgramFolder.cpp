#include "ProgramFolder.h"

#include <filesystem>
#include <system_error>

std::string ProgramDirectory() {
  // The kernel's link to the running program has every symbolic link resolved.
  std::error_code error;
  std::string dir = std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}
