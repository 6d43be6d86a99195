#include "SettingsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "ByteSource.h"

namespace {

namespace fs = std::filesystem;

// A stored text longer than this reads as missing.
constexpr size_t kLongestValue = 254;
// A settings file holds a few lines; anything this large is not one.
constexpr size_t kLargestFile = size_t{1} << 20;
constexpr int kMaxLinkHops = 40;

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

std::string SoftwareFolder() {
  // Read on every call: the user's folders may change while we run (tests do).
  // A relative folder would depend on where the program was started.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string config = xdg != nullptr && xdg[0] == '/' ? xdg : HomeFolder() + "/.config";
  return config + "/Software";
}

// The file that a chain of symbolic links ends at, existing or not, so that
// a write replaces the file and leaves the links in place.
fs::path LinkTarget(fs::path path) {
  std::error_code error;
  for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(path, error); ++hop) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno != EINTR) return false;
    if (wrote > 0) done += static_cast<size_t>(wrote);
  }
  return ::fsync(fd) == 0;
}

// Into a new file beside the target, then renamed over it: a reader never
// sees half a file, and a failed write leaves the old one.
bool ReplaceFile(const fs::path& target, const std::string& text) {
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && ::access(target.c_str(), W_OK) != 0) return false;
  std::string temp = target.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  const bool written = (!exists || ::fchmod(fd, info.st_mode & 07777) == 0) && WriteAll(fd, text);
  const bool closed = ::close(fd) == 0;
  if (written && closed && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

SettingsStore::SettingsStore() : path_(DefaultPath()) {}

SettingsStore::SettingsStore(std::string iniPath) : path_(std::move(iniPath)) {}

std::string SettingsStore::DefaultPath() { return SoftwareFolder() + "/Quorvel Zentrel.ini"; }

std::string SettingsStore::PortMapDirectory() { return SoftwareFolder() + "/Quorvel Zentrel.ports"; }

void SettingsStore::CreateSettingsKey() {
  std::error_code ignored;
  fs::create_directories(fs::path(path_).parent_path(), ignored);
  // O_EXCL: whatever is there already, a link included, is left untouched.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) ::close(fd);
}

std::optional<IniText> SettingsStore::Load() const {
  FileSource source(path_);
  if (source.missing()) return IniText::Parse("");
  std::string text;
  char buffer[4096];
  for (size_t got; (got = source.Read(buffer, sizeof buffer)) > 0;) {
    text.append(buffer, got);
    if (text.size() > kLargestFile) return std::nullopt;
  }
  if (!source.error().empty()) return std::nullopt;
  return IniText::Parse(text);
}

bool SettingsStore::Save(const IniText& ini) const { return ReplaceFile(LinkTarget(path_), ini.Text()); }

void SettingsStore::Store(std::optional<IniText>& ini, const std::string& name,
                          const std::string& value) {
  if (ini && (!ini->Set(name, value) || Save(*ini))) {
    unsaved_.erase(name);
  } else {
    unsaved_[name] = value;
  }
}

std::string SettingsStore::ReadSetting(const std::string& name, const std::string& defaultValue) {
  CreateSettingsKey();
  const auto kept = unsaved_.find(name);
  if (kept != unsaved_.end()) return kept->second;
  std::optional<IniText> ini = Load();
  if (ini) {
    const std::optional<std::string> stored = ini->Value(name);
    if (stored && CharacterCount(*stored) <= kLongestValue) return *stored;
  }
  Store(ini, name, defaultValue);
  return defaultValue;
}

void SettingsStore::WriteSetting(const std::string& name, const std::string& value) {
  CreateSettingsKey();
  std::optional<IniText> ini = Load();
  Store(ini, name, value);
}
