#pragma once
// Fixed-width upper-case hexadecimal text and the Intel HEX record checksum.
// The parsing functions return -1 for any text not of their exact form.
#include <cstdint>
#include <string>
#include <string_view>

std::string HexPair(int32_t value);
int32_t ParseHexByte(std::string_view text);
int32_t ParseHexWord(std::string_view text);
int32_t ParseHexAddress24(std::string_view text);
std::string RecordChecksum(std::string_view body);
