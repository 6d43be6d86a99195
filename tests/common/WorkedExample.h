#pragma once
// The worked download example, as literals: a 32 KiB device with erase
// blocks of 64, write blocks of 8 and the bootloader at 0x7D00 (the bundled
// samples/config.txt); a program of a jump at 0..3 and the bytes 01..0A at
// 0x100 (ProgramBytes 0x10A, rounded to a 320-byte area); its HEX text; and
// the 332 bytes that go on the wire.
#include <cstdint>
#include <string>
#include <vector>

#include "AppState.h"

inline constexpr int32_t kExampleFlash = 32768;
inline constexpr int32_t kExampleBootloader = 0x7D00;

DeviceDescription ExampleDevice();
std::string ExampleHexText();
// The program's 320-byte area as loaded, 0xFF where the file has nothing.
std::vector<uint8_t> ExampleImage();
// The frame on the wire: header, jump words, bytes 8..319, the first eight.
std::vector<uint8_t> ExampleFrame();
// The same as the download command stores it, slot 0 first.
std::vector<uint8_t> ExampleSlots();
// Device and image loaded, bootloader signalled.
AppState ExampleState();
