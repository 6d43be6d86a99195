#include "common/WorkedExample.h"

DeviceDescription ExampleDevice() { return {"DEMO1", kExampleFlash, 256, 64, 8, kExampleBootloader}; }

std::string ExampleHexText() {
  return ":0400000080EF00F09D\n"
         ":0A0100000102030405060708090ABE\n"
         ":00000001FF\n";
}

std::vector<uint8_t> ExampleImage() {
  std::vector<uint8_t> image = {0x80, 0xEF, 0x00, 0xF0};
  image.resize(0x100, 0xFF);
  for (uint8_t value = 1; value <= 10; ++value) image.push_back(value);
  image.resize(320, 0xFF);
  return image;
}

std::vector<uint8_t> ExampleFrame() {
  std::vector<uint8_t> frame = {0x3F, 0x01, 0x40, 0x08,                          // area - 1, blocks
                                0xD0, 0x8E, 0x80, 0xEF, 0x3E, 0xF0, 0x00, 0x00};  // BSF, GOTO 0x7D00, NOP
  frame.resize(12 + 0x100 - 8, 0xFF);
  for (uint8_t value = 1; value <= 10; ++value) frame.push_back(value);
  frame.resize(12 + 320 - 8, 0xFF);
  const uint8_t firstEight[] = {0x80, 0xEF, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
  frame.insert(frame.end(), firstEight, firstEight + 8);
  return frame;
}

std::vector<uint8_t> ExampleSlots() {
  std::vector<uint8_t> slots = {0x00};
  const std::vector<uint8_t> frame = ExampleFrame();
  slots.insert(slots.end(), frame.begin(), frame.end());
  return slots;
}

AppState ExampleState() {
  AppState state;
  state.Device = ExampleDevice();
  state.FlashImage = ExampleImage();
  state.FlashImage.resize(kExampleFlash, 0xFF);
  state.ProgramBytes = 0x10A;
  state.LinkState = 1;
  return state;
}
