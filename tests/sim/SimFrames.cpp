#include "sim/SimFrames.h"

#include <algorithm>
#include <iterator>

std::vector<uint8_t> ExampleImage() {
  std::vector<uint8_t> image(320, 0xFF);
  const uint8_t start[] = {0x80, 0xEF, 0x00, 0xF0};
  std::copy(std::begin(start), std::end(start), image.begin());
  for (int i = 0; i < 10; ++i) image[0x100 + i] = static_cast<uint8_t>(i + 1);
  return image;
}

std::string ExampleHexText() {
  return ":0400000080EF00F09D\n"
         ":0A0100000102030405060708090ABE\n"
         ":00000001FF\n";
}

std::vector<uint8_t> BuildFrame(const std::vector<uint8_t>& image, int eraseBlock,
                                int writeBlock, int32_t bootloader) {
  const size_t last = image.size() - 1;
  const int32_t w = bootloader / 2;  // the tests use even addresses
  const uint8_t head[] = {static_cast<uint8_t>(last & 0xFF),
                          static_cast<uint8_t>(last >> 8),
                          static_cast<uint8_t>(eraseBlock),
                          static_cast<uint8_t>(writeBlock),
                          0xD0,
                          0x8E,
                          static_cast<uint8_t>(w & 0xFF),
                          0xEF,
                          static_cast<uint8_t>((w >> 8) & 0xFF),
                          static_cast<uint8_t>(0xF0 + (w >> 16)),
                          0x00,
                          0x00};
  std::vector<uint8_t> frame(std::begin(head), std::end(head));
  frame.insert(frame.end(), image.begin() + 8, image.end());
  frame.insert(frame.end(), image.begin(), image.begin() + 8);
  return frame;
}
