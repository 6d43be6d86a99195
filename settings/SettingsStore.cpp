#include "SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "ByteSource.h"
#include "ProgramFolder.h"

namespace {

namespace fs = std::filesystem;

// A stored text longer than this reads as missing.
constexpr size_t kLongestValue = 254;
// A settings file holds a few lines; anything this large is not one.
constexpr size_t kLargestFile = size_t{1} << 20;
constexpr int kMaxLinkHops = 40;

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

// A writer that was killed leaves its new file behind; the name says whose.
constexpr char kTempMark[] = ".writing-";
constexpr size_t kTempRandom = 6;  // the XXXXXX of mkstemp

// Removes what killed writers left beside target. Only under the lock: a
// live writer's new file is never taken from under it.
void RemoveLeftovers(const fs::path& target) {
  const std::string prefix = target.filename().string() + kTempMark;
  std::error_code error;
  for (auto entry = fs::directory_iterator(target.parent_path(), error);
       !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    std::error_code ignored;
    if (name.size() == prefix.size() + kTempRandom && name.starts_with(prefix) &&
        entry->symlink_status(ignored).type() == fs::file_type::regular) {
      fs::remove(entry->path(), ignored);
    }
  }
}

// Into a new file beside the target, then renamed over it: a reader never
// sees half a file, and a failed write leaves the old one.
bool ReplaceFile(const fs::path& target, const std::string& text) {
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && ::access(target.c_str(), W_OK) != 0) return false;
  RemoveLeftovers(target);
  std::string temp = target.string() + kTempMark + std::string(kTempRandom, 'X');
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  const bool written = (!exists || ::fchmod(fd, info.st_mode & 07777) == 0) && WriteAll(fd, text);
  const bool closed = ::close(fd) == 0;
  if (written && closed && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

// Long enough for any other writer of a few lines; a holder that never lets
// go (a stopped program) must not stop this one.
constexpr int kLockWaitMs = 5000;
constexpr int kLockPollMs = 10;

std::optional<std::string> StoredValue(const std::optional<IniText>& ini, const std::string& name) {
  std::optional<std::string> stored = ini ? ini->Value(name) : std::nullopt;
  if (stored && CharacterCount(*stored) > kLongestValue) return std::nullopt;
  return stored;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Held while a change is made, so that two programs changing settings at
// once each start from what the other wrote.
class FileLock {
 public:
  explicit FileLock(const fs::path& path);
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // False when another program held it too long: nothing may be written.
  bool Usable() const { return !timedOut_; }

 private:
  bool Take(const fs::path& path, int& waited);
  void Release();

  int fd_ = -1;
  bool timedOut_ = false;
};

// Every write replaces the file, so the lock is taken again until it is held
// on the file that the path names at that moment.
FileLock::FileLock(const fs::path& path) {
  for (int waited = 0; !Take(path, waited);) {
    if (waited > kLockWaitMs) {
      timedOut_ = true;
      return;
    }
  }
}

// True when done: the lock is held, or there is nothing to lock (no file
// yet, or no regular file).
bool FileLock::Take(const fs::path& path, int& waited) {
  Release();
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat held {}, named {};
  if (fd_ < 0 || ::fstat(fd_, &held) != 0 || !S_ISREG(held.st_mode)) {
    Release();
    return true;
  }
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (waited > kLockWaitMs) return false;
    ::usleep(kLockPollMs * 1000);
    waited += kLockPollMs;
  }
  return ::stat(path.c_str(), &named) == 0 && SameFile(held, named);
}

void FileLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace

SettingsStore::SettingsStore() : path_(DefaultPath()) {}

SettingsStore::SettingsStore(std::string iniPath) : path_(std::move(iniPath)) {}

std::string SettingsStore::DefaultPath() { return SoftwareFolder() + "/Quorvel Zentrel.ini"; }

std::string SettingsStore::PortMapDirectory() { return SoftwareFolder() + "/Quorvel Zentrel.ports"; }

std::string SettingsStore::UserDeviceDescriptionPath() {
  return SoftwareFolder() + "/Quorvel Zentrel/config.txt";
}

std::string SettingsStore::DeviceDescriptionPath(const std::string& programDir) {
  std::error_code error;
  fs::path path = UserDeviceDescriptionPath();
  // A link whose target is gone is still the user's choice: reading it
  // reports the missing target instead of silently using another file.
  if (!fs::exists(fs::symlink_status(path, error))) path = programDir + "config.txt";
  const fs::path target = LinkTarget(path);
  const fs::path real = fs::weakly_canonical(target, error);
  return (error ? target.lexically_normal() : real).string();
}

void SettingsStore::CreateSettingsKey() {
  std::error_code ignored;
  fs::create_directories(fs::path(path_).parent_path(), ignored);
  // O_EXCL: whatever is there already, a link included, is left untouched.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) ::close(fd);
}

std::optional<IniText> SettingsStore::Load() const {
  FileSource source(path_);
  if (source.missing()) return IniText();
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
  // A value that is there is read without the lock (every write replaces
  // the whole file): only storing the default waits for other writers.
  if (auto stored = StoredValue(Load(), name)) return *stored;
  const FileLock lock(LinkTarget(path_));
  std::optional<IniText> ini = Load();
  if (auto stored = StoredValue(ini, name)) return *stored;
  if (!lock.Usable()) ini.reset();
  Store(ini, name, defaultValue);
  return defaultValue;
}

void SettingsStore::WriteSetting(const std::string& name, const std::string& value) {
  CreateSettingsKey();
  const FileLock lock(LinkTarget(path_));
  std::optional<IniText> ini = Load();
  if (!lock.Usable()) ini.reset();
  Store(ini, name, value);
}
