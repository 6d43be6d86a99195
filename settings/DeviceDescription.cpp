#include "DeviceDescription.h"

#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

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

bool NumberField(std::string_view line, size_t keyLength, const std::string& sourceName,
                 int32_t& field, std::string& error) {
  std::optional<int32_t> value = NumberValue(line.substr(keyLength));
  if (!value) {
    error = "The device description " + sourceName + " has a number that does not fit 32 bits: " +
            std::string(line);
    return false;
  }
  field = *value;
  return true;
}

// One line: the first key it starts with sets its field, other lines are
// ignored. Nothing is trimmed.
bool ApplyLine(std::string_view line, const std::string& sourceName, DeviceDescription& device,
               std::string& error) {
  if (line.starts_with("model:")) {
    device.DeviceModel = UpperCase(line.substr(6));
  } else if (line.starts_with("flash:")) {
    return NumberField(line, 6, sourceName, device.FlashSize, error);
  } else if (line.starts_with("eeprom:")) {
    return NumberField(line, 7, sourceName, device.EepromSize, error);
  } else if (line.starts_with("eraseblock:")) {
    return NumberField(line, 11, sourceName, device.EraseBlockSize, error);
  } else if (line.starts_with("programblock:")) {
    return NumberField(line, 13, sourceName, device.ProgramBlockSize, error);
  } else if (line.starts_with("bootloader:")) {
    device.BootloaderAddress = ParseHexAddress24(UpperCase(line.substr(11)));
  }
  return true;
}

std::string OpenFailure(const std::string& path) {
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    return "The device description " + path + " was not found.";
  }
  return "The device description " + path + " could not be read.";
}

}  // namespace

bool ReadDeviceDescription(std::istream& in, const std::string& sourceName,
                           DeviceDescription& device, std::string& error) {
  device = DeviceDescription{};
  std::string chunk;
  // Splitting each LF-ended chunk at CR also ends lines at a lone CR; the
  // empty piece that CR LF leaves matches no key.
  while (std::getline(in, chunk, '\n')) {
    std::string_view rest(chunk);
    for (size_t cr = rest.find('\r'); ; cr = rest.find('\r')) {
      if (!ApplyLine(rest.substr(0, cr), sourceName, device, error)) return false;
      if (cr == std::string_view::npos) break;
      rest.remove_prefix(cr + 1);
    }
  }
  if (in.bad()) {
    error = "The device description " + sourceName + " could not be read.";
    return false;
  }
  return true;
}

bool ReadDeviceDescription(const std::string& path, DeviceDescription& device, std::string& error) {
  std::error_code ignored;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, ignored)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    error = OpenFailure(path);
    return false;
  }
  return ReadDeviceDescription(in, path, device, error);
}
