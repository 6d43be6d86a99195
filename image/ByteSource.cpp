#include "ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace {
std::string ErrorText(int error) { return std::generic_category().message(error); }
}  // namespace

FileSource::FileSource(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    error_ = "the name holds a NUL character";
    return;
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    missing_ = errno == ENOENT;
    error_ = ErrorText(errno);
    return;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    error_ = ErrorText(errno);
  } else if (S_ISDIR(info.st_mode)) {
    error_ = ErrorText(EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    error_ = "not a regular file";
  }
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

size_t FileSource::Read(char* dst, size_t capacity) {
  if (!error_.empty()) return 0;
  for (;;) {
    const ssize_t got = ::read(fd_, dst, capacity);
    if (got >= 0) return static_cast<size_t>(got);
    // An interrupted call is retried; any other failure ends the input.
    if (errno != EINTR) {
      error_ = ErrorText(errno);
      return 0;
    }
  }
}

size_t TextSource::Read(char* dst, size_t capacity) {
  const size_t count = std::min(capacity, rest_.size());
  std::memcpy(dst, rest_.data(), count);
  rest_.remove_prefix(count);
  return count;
}
