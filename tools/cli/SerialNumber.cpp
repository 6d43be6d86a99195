#include "SerialNumber.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ProgramFolder.h"

namespace {

template <typename T>
bool ParseWhole(std::string_view text, T& value, int base = 10) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && ec == std::errc() && ptr == end;
}

std::string Hex(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%04llX", static_cast<long long>(value));
  return text;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string Bytes(int count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// Holds an exclusive lock on a file beside the counter while it lives.
class CounterLock {
 public:
  CounterLock(const std::string& counter, std::string& error) {
    const std::string path = counter + ".lock";
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(counter).parent_path(), ignored);
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd_ < 0) {
      error = SystemError("cannot open " + path);
    } else if (flock(fd_, LOCK_EX) != 0) {
      error = SystemError("cannot lock " + path);
      close(fd_);
      fd_ = -1;
    }
  }
  ~CounterLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  CounterLock(const CounterLock&) = delete;
  CounterLock& operator=(const CounterLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

std::optional<SerialNumberPlace> ParseSerialNumberPlace(const std::string& text, std::string& error) {
  SerialNumberPlace place;
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  std::string_view address = std::string_view(text).substr(0, first);
  if (address.starts_with("0x") || address.starts_with("0X")) address.remove_prefix(2);
  const bool read = first != std::string::npos && ParseWhole(address, place.address, 16) &&
                    ParseWhole(std::string_view(text).substr(first + 1, second - first - 1), place.first) &&
                    (second == std::string::npos || ParseWhole(std::string_view(text).substr(second + 1), place.bytes));
  // A program address has at most six hexadecimal digits, and no sign.
  const bool inRange = !address.starts_with('-') && place.address <= 0xFFFFFF;
  if (!read || !inRange || place.bytes < 1 || place.bytes > 8) {
    error = "\"" + text + "\": expected ADDR:FIRST[:BYTES], ADDR in hexadecimal (8 to FFFFFF), "
            "FIRST a whole number, BYTES 1 to 8 (default 4), e.g. 7C00:1000:4";
    return std::nullopt;
  }
  return place;
}

// Records hold a number as a signed 64-bit JSON integer: 8 bytes take up to 2^63 - 1.
bool NumberFits(uint64_t number, int bytes) {
  return bytes >= 8 ? number <= INT64_MAX : number < (uint64_t{1} << (8 * bytes));
}

std::string CheckSerialNumberPlace(const SerialNumberPlace& place, int64_t programArea) {
  const int64_t end = place.address + place.bytes;
  if (place.address < 8) {
    return "the serial number at " + Hex(place.address) + " would fall on the jump to the bootloader at 0..7";
  }
  if (end > programArea) {
    return "the serial number's bytes " + Hex(place.address) + ".." + Hex(end - 1) +
           " lie outside the program area that the download sends (0x0000.." + Hex(programArea - 1) +
           "); reserve them in the program";
  }
  if (!NumberFits(place.first, place.bytes)) {
    return "the serial number " + std::to_string(place.first) + " does not fit in " + Bytes(place.bytes);
  }
  return "";
}

void WriteSerialNumber(std::vector<uint8_t>& image, const SerialNumberPlace& place, uint64_t number) {
  for (int i = 0; i < place.bytes; ++i) {
    image[static_cast<size_t>(place.address + i)] = static_cast<uint8_t>(number >> (8 * i));
  }
}

// Under the lock: the stored number, or first when there is none yet.
std::optional<uint64_t> SerialCounter::Next(const SerialNumberPlace& place, std::string& error) const {
  uint64_t next = place.first;
  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno != ENOENT) {
    error = SystemError("cannot read the serial number counter " + path_);
    return std::nullopt;
  }
  if (fd >= 0) {
    char text[32];
    const ssize_t size = read(fd, text, sizeof text);
    close(fd);
    std::string_view stored(text, size > 0 ? static_cast<size_t>(size) : 0);
    if (stored.ends_with('\n')) stored.remove_suffix(1);
    uint64_t value = 0;
    // A counter that cannot be read is never guessed at: a guess could give a number twice.
    if (!ParseWhole(stored, value)) {
      error = "the serial number counter " + path_ + " holds no number; mend or remove it";
      return std::nullopt;
    }
    next = std::max(next, value);
  }
  if (!NumberFits(next, place.bytes)) {
    error = "the next serial number, " + std::to_string(next) + ", does not fit in " + Bytes(place.bytes) +
            " (counter " + path_ + ")";
    return std::nullopt;
  }
  return next;
}

std::optional<uint64_t> SerialCounter::Peek(const SerialNumberPlace& place, std::string& error) const {
  const CounterLock lock(path_, error);
  return lock.Held() ? Next(place, error) : std::nullopt;
}

std::optional<uint64_t> SerialCounter::Take(const SerialNumberPlace& place, std::string& error) {
  const CounterLock lock(path_, error);
  const std::optional<uint64_t> next = lock.Held() ? Next(place, error) : std::nullopt;
  if (!next || !Store(*next + 1, error)) return std::nullopt;
  return next;
}

// A new file renamed over the old one: a crash leaves the one or the other,
// never half of each; the folder is synced so that the rename lasts.
bool SerialCounter::Store(uint64_t next, std::string& error) {
  const std::string temporary = path_ + ".new";
  const std::string text = std::to_string(next) + "\n";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
  bool stored = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                fsync(fd) == 0;
  if (fd >= 0) stored = close(fd) == 0 && stored;
  stored = stored && rename(temporary.c_str(), path_.c_str()) == 0;
  if (!stored) {
    error = SystemError("cannot write the serial number counter " + path_);
    unlink(temporary.c_str());
    return false;
  }
  const std::string folder = std::filesystem::path(path_).parent_path().string();
  const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

std::string DefaultSerialFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const std::string base =
      state != nullptr && state[0] == '/' ? std::string(state) : HomeFolder() + "/.local/state";
  return base + "/quorvel-zentrel/serial-number";
}
