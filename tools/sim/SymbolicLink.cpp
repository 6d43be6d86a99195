#include "SymbolicLink.h"

#include <filesystem>
#include <system_error>

#include "SettingsStore.h"

namespace fs = std::filesystem;

bool SymbolicLink::Create(const std::string& linkPath, const std::string& target,
                        std::string& error) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(linkPath, ec);
  if (fs::exists(status) && !fs::is_symlink(status)) {
    error = linkPath + " exists and is not a symbolic link; it was left alone";
    return false;
  }
  const std::string previous = fs::is_symlink(status) ? fs::read_symlink(linkPath, ec).string() : "";
  if (!previous.empty()) fs::remove(linkPath, ec);
  fs::create_symlink(target, linkPath, ec);
  if (ec) {
    error = "cannot create the link " + linkPath + ": " + ec.message();
    if (!previous.empty()) fs::create_symlink(previous, linkPath, ec);
    return false;
  }
  linkPath_ = linkPath;
  target_ = target;
  previous_ = previous;
  return true;
}

void SymbolicLink::Remove() {
  if (linkPath_.empty()) return;
  std::error_code ec;
  if (fs::read_symlink(linkPath_, ec) == fs::path(target_) && fs::remove(linkPath_, ec) &&
      !previous_.empty()) {
    fs::create_symlink(previous_, linkPath_, ec);
  }
  linkPath_.clear();
}

std::string PortMapLinkPath(int portNumber, std::string& error) {
  const std::string folder = SettingsStore::PortMapDirectory();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = "cannot create the port map folder " + folder + ": " + ec.message();
    return "";
  }
  return folder + "/COM" + std::to_string(portNumber);
}
