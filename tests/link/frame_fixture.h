#pragma once
// The device and image of the worked download example: 32 KiB flash, erase
// blocks of 64, write blocks of 8, bootloader at 0x7D00, a jump at 0..3 and
// ten code bytes at 0x100, bootloader already signalled.
#include <cstdint>
#include <vector>

#include "AppState.h"

inline AppState ExampleState() {
  AppState state;
  state.Device = {"DEMO1", 32768, 256, 64, 8, 0x7D00};
  state.FlashImage.assign(32768, 0xFF);
  const uint8_t start[] = {0x80, 0xEF, 0x00, 0xF0};
  for (int i = 0; i < 4; ++i) state.FlashImage[i] = start[i];
  for (int i = 0; i < 10; ++i) state.FlashImage[0x100 + i] = static_cast<uint8_t>(0x10 + i);
  state.ProgramBytes = 0x10A;
  state.LinkState = 1;
  return state;
}

// The 332-byte frame of that example, slot 0 included.
inline std::vector<uint8_t> ExampleFrame() {
  std::vector<uint8_t> frame = {0x00, 0x3F, 0x01, 0x40, 0x08,  // slot 0, header
                                0xD0, 0x8E, 0x80, 0xEF, 0x3E, 0xF0, 0x00, 0x00};
  frame.resize(325, 0xFF);  // FlashImage[8..319]
  for (int i = 0; i < 10; ++i) frame[261 + i] = static_cast<uint8_t>(0x10 + i);
  const uint8_t trailer[] = {0x80, 0xEF, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
  frame.insert(frame.end(), trailer, trailer + 8);
  return frame;
}
