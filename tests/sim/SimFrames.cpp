#include "sim/SimFrames.h"

#include "SimDevice.h"

std::vector<uint8_t> BuildFrame(const std::vector<uint8_t>& image, int eraseBlock,
                                int writeBlock, int32_t bootloader) {
  const size_t last = image.size() - 1;
  std::vector<uint8_t> frame = {static_cast<uint8_t>(last & 0xFF), static_cast<uint8_t>(last >> 8),
                                static_cast<uint8_t>(eraseBlock), static_cast<uint8_t>(writeBlock)};
  const std::array<uint8_t, 8> jump = JumpWords(bootloader);
  frame.insert(frame.end(), jump.begin(), jump.end());
  frame.insert(frame.end(), image.begin() + 8, image.end());
  frame.insert(frame.end(), image.begin(), image.begin() + 8);
  return frame;
}
