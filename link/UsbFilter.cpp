#include "UsbFilter.h"

#include <algorithm>
#include <charconv>

namespace {

// A four-digit (at most) hexadecimal id, or "*" for any.
bool ParseId(const std::string& text, std::optional<uint16_t>& id) {
  if (text == "*") return true;
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
  if (text.empty() || text.size() > 4 || ec != std::errc() || ptr != end) return false;
  id = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool UsbFilter::Matches(const SerialDevice& device) const {
  // A device that is not on USB has no identity to match, not even "*".
  if (!device.vendor || !device.product) return false;
  return (!vendor || vendor == device.vendor) && (!product || product == device.product) &&
         (!serial || serial == device.serial);
}

std::optional<UsbFilter> ParseUsbFilter(const std::string& text, std::string& error) {
  UsbFilter filter;
  filter.text = text;
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  const bool idsRead = first != std::string::npos && ParseId(text.substr(0, first), filter.vendor) &&
                       ParseId(text.substr(first + 1, second - first - 1), filter.product);
  if (!idsRead) {
    error = "\"" + text + "\": expected VID:PID[:SERIAL], ids in hexadecimal such as 0403:6001, * for any";
    return std::nullopt;
  }
  if (second != std::string::npos && text.substr(second + 1) != "*") {
    filter.serial = text.substr(second + 1);
  }
  return filter;
}

std::vector<SerialDevice> MatchingDevices(const std::vector<SerialDevice>& listed,
                                          const std::vector<UsbFilter>& filters) {
  std::vector<SerialDevice> chosen;
  for (const SerialDevice& device : listed) {
    const auto matches = [&device](const UsbFilter& filter) { return filter.Matches(device); };
    if (std::any_of(filters.begin(), filters.end(), matches)) chosen.push_back(device);
  }
  return chosen;
}
