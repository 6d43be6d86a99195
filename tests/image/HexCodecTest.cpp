#include <gtest/gtest.h>

#include "HexCodec.h"

namespace {
TEST(HexCodec, HexPairKeepsTheLowEightBits) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "00"}, {10, "0A"}, {255, "FF"}, {256, "00"}, {0x1A3, "A3"}, {-1, "FF"},
      {INT32_MIN, "00"}, {INT32_MAX, "FF"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(HexPair(value), text) << value;
}

TEST(HexCodec, ParsersAcceptOnlyUpperCaseDigitsAtTheirWidth) {
  struct Case {
    int32_t (*parse)(std::string_view);
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {ParseHexByte, "00", 0},           {ParseHexByte, "FF", 255},
      {ParseHexByte, "7F", 127},         {ParseHexByte, "7f", -1},
      {ParseHexByte, "7", -1},           {ParseHexByte, "007", -1},
      {ParseHexByte, " 7", -1},          {ParseHexByte, "G0", -1},
      {ParseHexByte, "", -1},            {ParseHexByte, "+7", -1},
      {ParseHexWord, "EF00", 0xEF00},    {ParseHexWord, "F000", 0xF000},
      {ParseHexWord, "ef00", -1},        {ParseHexWord, "EF0", -1},
      {ParseHexWord, "EFG0", -1},        {ParseHexWord, "FFFF", 0xFFFF},
      {ParseHexAddress24, "300000", 0x300000}, {ParseHexAddress24, "F00000", 0xF00000},
      {ParseHexAddress24, "3FFFFF", 0x3FFFFF}, {ParseHexAddress24, "30000f", -1},
      {ParseHexAddress24, "FFFFFF", 0xFFFFFF}, {ParseHexAddress24, "0x3000", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.parse(c.text), c.expected) << c.text;
  // A NUL inside the text is no digit and does not end it early.
  EXPECT_EQ(ParseHexByte(std::string_view("7\0", 2)), -1);
}

TEST(HexCodec, RecordChecksumCountsBadPairsAsMinusOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "00"},           {"00000001", "FF"},       {"020000040030", "CA"},
      {"0300300002337A", "1E"}, {"0000000", "00"},    {"ZZ000001", "00"},
      {"ZZ000000", "01"},   {"0400100001020304", "E2"}, {"ZZZZ", "02"},
      {"FFFF", "02"},
  };
  for (const auto& [body, checksum] : cases) EXPECT_EQ(RecordChecksum(body), checksum) << body;
}

TEST(HexCodec, InPlaceHelpersAgreeWithTheTextFunctions) {
  for (int high = 0; high < 256; ++high) {
    for (int low = 0; low < 256; low += 7) {
      const char pair[2] = {static_cast<char>(high), static_cast<char>(low)};
      const std::string_view text(pair, 2);
      ASSERT_EQ(HexPairValue(pair[0], pair[1]), ParseHexByte(text));
      for (int32_t value : {0, 0x5A, 0xFF}) {
        ASSERT_EQ(IsHexPairOf(pair[0], pair[1], value), text == HexPair(value));
      }
    }
  }
  EXPECT_EQ(ChecksumOfSum(-1), 1);
  EXPECT_EQ(ChecksumOfSum(-256), 0);
  EXPECT_EQ(ChecksumOfSum(int64_t{1} << 40), 0);
}
}  // namespace
