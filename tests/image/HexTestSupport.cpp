#include "HexTestSupport.h"

AppState PreparedState(int32_t flashSize, int32_t eepromSize) {
  AppState state;
  state.Device.FlashSize = flashSize;
  state.Device.EepromSize = eepromSize;
  state.FlashImage.assign(static_cast<size_t>(flashSize), 0xFF);
  return state;
}

std::string FaultMessage(int64_t line, const std::string& fault) {
  return "Input program file in Intel Hex Format contains errors.\r\nLine number " +
         std::to_string(line) + fault;
}
