#pragma once
// Intel HEX text built here, independently of the parser under test.
#include <cstdint>
#include <string>
#include <vector>

// One record line (no line end) with a correct checksum.
std::string Record(int type, uint16_t address, const std::vector<uint8_t>& data);
std::string ExtendedRecord(uint16_t upper);
std::string EndRecord();

// A whole file of the given program bytes from address 0: 16 bytes a record,
// an extended address record at each 64 KiB, CR LF line ends.
std::string HexText(const std::vector<uint8_t>& bytes);
std::string HexText(const std::string& bytes);
