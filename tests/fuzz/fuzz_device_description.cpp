// Any bytes as config.txt: the reader must neither crash nor hang, and must
// either succeed or explain why not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "DeviceDescription.h"
#include "NumberValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  DeviceDescription device;
  std::string error;
  bool ok = ReadDeviceDescription(in, "config.txt", device, error);
  if (ok != error.empty()) std::abort();
  if (ok && device.BootloaderAddress < -1) std::abort();
  NumberValue(text);
  return 0;
}
