#include "common/HexText.h"

#include <algorithm>
#include <cstdio>

std::string Record(int type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), static_cast<uint8_t>(type)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string line = ":";
  char pair[3];
  for (uint8_t b : bytes) {
    sum += b;
    std::snprintf(pair, sizeof pair, "%02X", b);
    line += pair;
  }
  std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + pair;
}

std::string ExtendedRecord(uint16_t upper) {
  return Record(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

std::string EndRecord() { return ":00000001FF"; }

std::string HexText(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t at = 0; at < bytes.size(); at += 16) {
    if (at > 0 && at % 0x10000 == 0) text += ExtendedRecord(static_cast<uint16_t>(at >> 16)) + "\r\n";
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    const std::vector<uint8_t> data(first, first + static_cast<std::ptrdiff_t>(std::min<size_t>(16, bytes.size() - at)));
    text += Record(0, static_cast<uint16_t>(at), data) + "\r\n";
  }
  return text + EndRecord() + "\r\n";
}

std::string HexText(const std::string& bytes) { return HexText(std::vector<uint8_t>(bytes.begin(), bytes.end())); }
