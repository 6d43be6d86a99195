#pragma once
// Prepared states and fault texts for the image tests.
#include <cstdint>
#include <string>
#include <vector>

#include "AppState.h"
#include "common/HexText.h"

// A state as the loader prepares it: a blank image of flashSize bytes.
AppState PreparedState(int32_t flashSize = 0x8000, int32_t eepromSize = 256);

// The fault box text for a line number and a fault's text.
std::string FaultMessage(int64_t line, const std::string& fault);
