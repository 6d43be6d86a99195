#include "HexTestSupport.h"

#include <cstdio>

AppState PreparedState(int32_t flashSize, int32_t eepromSize) {
  AppState state;
  state.Device.FlashSize = flashSize;
  state.Device.EepromSize = eepromSize;
  state.FlashImage.assign(static_cast<size_t>(flashSize), 0xFF);
  return state;
}

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

std::string FaultMessage(int64_t line, const std::string& fault) {
  return "Input program file in Intel Hex Format contains errors.\r\nLine number " +
         std::to_string(line) + fault;
}
