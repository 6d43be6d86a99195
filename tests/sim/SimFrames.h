#pragma once
// Download frames of any shape for the simulator's tests, laid out as the
// device expects them (header, block data with the jump words, the first
// eight bytes last), including shapes the host would refuse to send.
#include <cstdint>
#include <vector>

#include "common/WorkedExample.h"

std::vector<uint8_t> BuildFrame(const std::vector<uint8_t>& image, int eraseBlock,
                                int writeBlock, int32_t bootloader = kExampleBootloader);
