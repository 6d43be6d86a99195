#pragma once
// Hand-built download frames for the simulator's tests, laid out as the
// device expects them: header, block data with the jump words, trailer.
#include <cstdint>
#include <string>
#include <vector>

// The example device: 32 KiB flash, 64-byte erase and 8-byte write blocks,
// bootloader at 0x7D00.
inline constexpr int32_t kBootloader = 0x7D00;

// A 320-byte program area: 80 EF 00 F0 at 0..3, bytes 1..10 at 0x100.
std::vector<uint8_t> ExampleImage();
// Its HEX file text.
std::string ExampleHexText();

std::vector<uint8_t> BuildFrame(const std::vector<uint8_t>& image, int eraseBlock,
                                int writeBlock, int32_t bootloader = kBootloader);
