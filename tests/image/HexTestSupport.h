#pragma once
// Building HEX text and prepared states for the image tests.
#include <cstdint>
#include <string>
#include <vector>

#include "AppState.h"

// A state as the loader prepares it: a blank image of flashSize bytes.
AppState PreparedState(int32_t flashSize = 0x8000, int32_t eepromSize = 256);

// One record line (no line end) with a correct checksum, computed here
// independently of the code under test.
std::string Record(int type, uint16_t address, const std::vector<uint8_t>& data);
std::string ExtendedRecord(uint16_t upper);
std::string EndRecord();

// The fault box text for a line number and a fault's text.
std::string FaultMessage(int64_t line, const std::string& fault);
