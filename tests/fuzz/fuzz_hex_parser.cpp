// Feeds arbitrary bytes to the HEX reader twice: through a tiny buffer, which
// folds most lines as they stream past, and through the normal one. Both
// must give the same verdict, message, image and ProgramBytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "AppState.h"
#include "Dialogs.h"
#include "HexParser.h"

namespace {

struct Result {
  bool ok = false;
  std::vector<std::string> messages;
  AppState state;
};

Result Parse(std::string_view text, size_t bufferSize, int32_t flashSize, int32_t eepromSize) {
  Result result;
  result.state.Device.FlashSize = flashSize;
  result.state.Device.EepromSize = eepromSize;
  result.state.FlashImage.assign(static_cast<size_t>(flashSize), 0xFF);
  MessageCollector dialogs;
  result.ok = ParseHexText(result.state, text, dialogs, bufferSize);
  result.messages = dialogs.messages;
  return result;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t bufferSize = 2 + data[0] % 64;
  const int32_t flashSizes[] = {1, 16, 0x100, 0x10000};
  const int32_t flashSize = flashSizes[data[1] % 4];
  const int32_t eepromSize = (data[1] >> 2) % 2 == 0 ? 0 : 256;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

  const Result small = Parse(text, bufferSize, flashSize, eepromSize);
  const Result normal = Parse(text, kHexReadBufferSize, flashSize, eepromSize);
  if (small.ok != normal.ok || small.messages != normal.messages ||
      small.state.ProgramBytes != normal.state.ProgramBytes ||
      small.state.FlashImage != normal.state.FlashImage) {
    std::abort();
  }
  if (normal.ok != normal.messages.empty() || normal.state.ProgramBytes > flashSize) std::abort();
  return 0;
}
