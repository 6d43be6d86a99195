#pragma once
// Fixed-width upper-case hexadecimal text and the Intel HEX record checksum.
// The parsing functions return -1 for any text not of their exact form.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

std::string HexPair(int32_t value);
int32_t ParseHexByte(std::string_view text);
int32_t ParseHexWord(std::string_view text);
int32_t ParseHexAddress24(std::string_view text);
std::string RecordChecksum(std::string_view body);

// The pieces below let the HEX reader work on a line in place, without
// building strings; they give exactly what the functions above give.

namespace hexcodec_detail {
constexpr std::array<int8_t, 256> MakeDigitTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) table['A' + i] = static_cast<int8_t>(10 + i);
  return table;
}
inline constexpr std::array<int8_t, 256> kDigitValue = MakeDigitTable();
}  // namespace hexcodec_detail

// The byte that two characters spell as upper-case hex digits, or -1:
// ParseHexByte of the two-character text.
inline int32_t HexPairValue(char high, char low) {
  const int32_t h = hexcodec_detail::kDigitValue[static_cast<unsigned char>(high)];
  const int32_t l = hexcodec_detail::kDigitValue[static_cast<unsigned char>(low)];
  return (h | l) < 0 ? -1 : h * 16 + l;
}

// Sum of ParseHexByte over the character pairs of body (a bad pair counts
// -1, an odd last character is not used). 64 bits, so no line overflows it.
int64_t RecordPairSum(std::string_view body);

// The checksum byte (0..255) that RecordChecksum writes for a pair sum.
int32_t ChecksumOfSum(int64_t sum);

// True when text is exactly HexPair(value): two upper-case digits.
bool IsHexPairOf(char high, char low, int32_t value);
