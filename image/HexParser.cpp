#include "HexParser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "HexRecord.h"
#include "LineReader.h"

namespace {
std::string ErrorText(int error) { return std::generic_category().message(error); }

// A regular file, read with plain system calls so that the reason for a
// failure is known. Anything else (a folder, a pipe, a device) is refused
// up front: a pipe or a device could block or never end.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
      error_ = "the name holds a NUL character";
      return;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
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
  ~FileSource() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  size_t Read(char* dst, size_t capacity) override {
    if (!error_.empty()) return 0;
    for (;;) {
      const ssize_t got = ::read(fd_, dst, capacity);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) {
        error_ = ErrorText(errno);
        return 0;
      }
    }
  }
  // Empty while everything went well.
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string_view text) : rest_(text) {}
  size_t Read(char* dst, size_t capacity) override {
    const size_t count = std::min(capacity, rest_.size());
    std::memcpy(dst, rest_.data(), count);
    rest_.remove_prefix(count);
    return count;
  }

 private:
  std::string_view rest_;
};

struct ParseEnd {
  Verdict verdict = Verdict::EndOfFile;
  int64_t lineNumber = 0;
  bool endRecord = false;  // a type 01 record ended it, not the end of the text
};

LoadTarget TargetOf(AppState& state) {
  LoadTarget target;
  target.image = state.FlashImage.data();
  // Never past the prepared image, whatever the description says.
  const uint64_t flashSize = static_cast<uint64_t>(std::max(state.Device.FlashSize, 0));
  target.programSize = std::min<uint64_t>(flashSize, state.FlashImage.size());
  target.eepromSize = static_cast<uint64_t>(std::max(state.Device.EepromSize, 0));
  target.programBytes = &state.ProgramBytes;
  return target;
}

ParseEnd RunParse(AppState& state, ByteSource& source, size_t bufferSize) {
  LoadTarget target = TargetOf(state);
  LineReader reader(source, bufferSize);
  RecordLine line;
  ParseEnd end;
  while (reader.Next(line)) {
    ++end.lineNumber;
    end.verdict = ProcessLine(line, target);
    end.endRecord = end.verdict == Verdict::EndOfFile;
    if (end.verdict != Verdict::Next) return end;
  }
  end.verdict = Verdict::EndOfFile;
  return end;
}

bool Report(const ParseEnd& end, Dialogs& dialogs) {
  if (end.verdict == Verdict::EndOfFile) return true;
  dialogs.ShowMessage("Input program file in Intel Hex Format contains errors.\r\nLine number " +
                      std::to_string(end.lineNumber) + std::string(FaultText(end.verdict)));
  return false;
}
}  // namespace

bool ParseHexFile(AppState& state, const std::string& path, Dialogs& dialogs, bool* endRecord) {
  ParseEnd end;
  std::string failure;
  {
    // Closed before any message is shown.
    FileSource source(path);
    if (source.error().empty()) end = RunParse(state, source, kHexReadBufferSize);
    failure = source.error();
  }
  if (!failure.empty()) {
    dialogs.ShowMessage("Cannot read the program file " + path + ": " + failure);
    return false;
  }
  if (endRecord != nullptr) *endRecord = end.endRecord;
  return Report(end, dialogs);
}

bool ParseHexText(AppState& state, std::string_view text, Dialogs& dialogs, size_t bufferSize) {
  TextSource source(text);
  return Report(RunParse(state, source, bufferSize), dialogs);
}
