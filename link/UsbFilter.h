#pragma once
// Choosing serial devices by the USB identity of their adapter rather than
// by a number or a path that moves when adapters are plugged in another
// order: VID:PID[:SERIAL], each part "*" for any.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A serial device as the system lists it; the ids are absent for one that
// is not on USB.
struct SerialDevice {
  std::string path;
  std::optional<uint16_t> vendor, product;
  std::string serial;  // the adapter's USB serial number, "" if none
};

struct UsbFilter {
  std::optional<uint16_t> vendor, product;  // nothing: any
  std::optional<std::string> serial;        // nothing: any
  std::string text;                         // as given, for messages
  bool Matches(const SerialDevice& device) const;
};

// "0403:6001", "0403:*:A10K3XYZ", "*:*"; ids in hexadecimal. Nothing, with
// the reason, for anything else.
std::optional<UsbFilter> ParseUsbFilter(const std::string& text, std::string& error);

// The devices that any of the filters matches, in the order listed.
std::vector<SerialDevice> MatchingDevices(const std::vector<SerialDevice>& listed,
                                          const std::vector<UsbFilter>& filters);
