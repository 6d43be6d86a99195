#include "HexCodec.h"

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int32_t ParseFixed(std::string_view text, size_t pairs) {
  if (text.size() != pairs * 2) return -1;
  int32_t value = 0;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int32_t byte = HexPairValue(text[i], text[i + 1]);
    if (byte < 0) return -1;
    value = value * 256 + byte;
  }
  return value;
}
}  // namespace

std::string HexPair(int32_t value) {
  const auto low = static_cast<uint32_t>(value) & 0xFFu;
  return {kDigits[low >> 4], kDigits[low & 0xFu]};
}

int32_t ParseHexByte(std::string_view text) { return ParseFixed(text, 1); }
int32_t ParseHexWord(std::string_view text) { return ParseFixed(text, 2); }
int32_t ParseHexAddress24(std::string_view text) { return ParseFixed(text, 3); }

int64_t RecordPairSum(std::string_view body) {
  int64_t sum = 0;
  for (size_t i = 0; i + 1 < body.size(); i += 2) sum += HexPairValue(body[i], body[i + 1]);
  return sum;
}

int32_t ChecksumOfSum(int64_t sum) {
  // The remainder truncates toward zero, so a negative sum keeps its sign.
  const int64_t m = sum % 256;
  return static_cast<int32_t>((256 - m) & 0xFF);
}

bool IsHexPairOf(char high, char low, int32_t value) {
  return high == kDigits[(value >> 4) & 0xF] && low == kDigits[value & 0xF];
}

std::string RecordChecksum(std::string_view body) {
  return HexPair(ChecksumOfSum(RecordPairSum(body)));
}
