#include "DeviceDescription.h"

#include <string_view>

#include "ByteSource.h"
#include "HexCodec.h"
#include "NumberValue.h"

namespace {

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

constexpr std::string_view kModelKey = "model:";
constexpr std::string_view kBootloaderKey = "bootloader:";
struct NumberKey {
  std::string_view key;
  int32_t DeviceDescription::*field;
};
constexpr NumberKey kNumberKeys[] = {
    {"flash:", &DeviceDescription::FlashSize},
    {"eeprom:", &DeviceDescription::EepromSize},
    {"eraseblock:", &DeviceDescription::EraseBlockSize},
    {"programblock:", &DeviceDescription::ProgramBlockSize},
};
// No value needs more; a longer line that sets a field is refused rather
// than read from its head, and memory stays bounded whatever the file holds.
constexpr size_t kLongestLine = 4096;
constexpr size_t kReadBufferSize = 4096;

bool NumberField(std::string_view line, const NumberKey& number, const std::string& sourceName,
                 DeviceDescription& device, std::string& error) {
  std::optional<int32_t> value = NumberValue(line.substr(number.key.size()));
  if (!value) {
    error = "The device description " + sourceName + " has a number that does not fit 32 bits: " +
            std::string(line);
    return false;
  }
  device.*number.field = *value;
  return true;
}

const NumberKey* NumberKeyOf(std::string_view line) {
  for (const NumberKey& number : kNumberKeys) {
    if (line.starts_with(number.key)) return &number;
  }
  return nullptr;
}

bool SetsAField(std::string_view line) {
  return line.starts_with(kModelKey) || line.starts_with(kBootloaderKey) || NumberKeyOf(line);
}

// One line: the first key it starts with sets its field, other lines are
// ignored. Nothing is trimmed.
bool ApplyLine(std::string_view line, const std::string& sourceName, DeviceDescription& device,
               TextFields* extra, std::string& error) {
  if (extra) {
    for (auto& [key, value] : *extra) {
      if (line.starts_with(key)) value = line.substr(key.size());
    }
  }
  if (line.starts_with(kModelKey)) {
    device.DeviceModel = UpperCase(line.substr(kModelKey.size()));
  } else if (line.starts_with(kBootloaderKey)) {
    device.BootloaderAddress = ParseHexAddress24(UpperCase(line.substr(kBootloaderKey.size())));
  } else if (const NumberKey* number = NumberKeyOf(line)) {
    return NumberField(line, *number, sourceName, device, error);
  }
  return true;
}

// Collects one line at a time from pieces of input; a line ends at CR LF, a
// lone CR or a lone LF.
class LineCollector {
 public:
  LineCollector(const std::string& sourceName, DeviceDescription& device, TextFields* extra,
                std::string& error)
      : sourceName_(sourceName), device_(device), extra_(extra), error_(error) {}

  bool Feed(std::string_view piece) {
    for (const char c : piece) {
      const bool secondHalfOfCrLf = afterCr_ && c == '\n';
      afterCr_ = c == '\r';
      if (secondHalfOfCrLf) continue;
      if (c == '\r' || c == '\n') {
        if (!EndLine()) return false;
      } else if (line_.size() < kLongestLine) {
        line_.push_back(c);
      } else {
        tooLong_ = true;
      }
    }
    return true;
  }

  bool EndLine() {
    ++lineNumber_;
    const bool applied = tooLong_ ? !SetsAField(line_) || TooLong()
                                  : ApplyLine(line_, sourceName_, device_, extra_, error_);
    line_.clear();
    tooLong_ = false;
    return applied;
  }

 private:
  bool TooLong() {
    error_ = "The device description " + sourceName_ + " has a line longer than " +
             std::to_string(kLongestLine) + " characters: line " + std::to_string(lineNumber_) +
             ".";
    return false;
  }

  const std::string& sourceName_;
  DeviceDescription& device_;
  TextFields* extra_;
  std::string& error_;
  std::string line_;
  bool tooLong_ = false;
  bool afterCr_ = false;
  int64_t lineNumber_ = 0;
};

bool ReadLines(ByteSource& source, const std::string& sourceName, DeviceDescription& device,
               TextFields* extra, std::string& error) {
  device = DeviceDescription{};
  LineCollector lines(sourceName, device, extra, error);
  char buffer[kReadBufferSize];
  for (size_t got; (got = source.Read(buffer, sizeof buffer)) > 0;) {
    if (!lines.Feed({buffer, got})) return false;
  }
  // Without a final line end the last line still counts.
  return lines.EndLine();
}

class StreamSource : public ByteSource {
 public:
  explicit StreamSource(std::istream& in) : in_(in) {}
  size_t Read(char* dst, size_t capacity) override {
    in_.read(dst, static_cast<std::streamsize>(capacity));
    return static_cast<size_t>(in_.gcount());
  }

 private:
  std::istream& in_;
};

}  // namespace

bool ReadDeviceDescription(std::istream& in, const std::string& sourceName,
                           DeviceDescription& device, std::string& error) {
  StreamSource source(in);
  if (!ReadLines(source, sourceName, device, nullptr, error)) return false;
  if (in.bad()) {
    error = "The device description " + sourceName + " could not be read.";
    return false;
  }
  return true;
}

bool ReadDeviceDescription(const std::string& path, DeviceDescription& device, std::string& error) {
  TextFields none;
  return ReadDeviceDescription(path, device, none, error);
}

bool ReadDeviceDescription(const std::string& path, DeviceDescription& device, TextFields& extra,
                           std::string& error) {
  FileSource source(path);
  if (!ReadLines(source, path, device, &extra, error)) return false;
  if (source.error().empty()) return true;
  error = source.missing()
              ? "The device description " + path + " was not found."
              : "The device description " + path + " could not be read: " + source.error() + ".";
  return false;
}
