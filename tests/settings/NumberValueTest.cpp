#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "NumberValue.h"

namespace {

struct Case {
  std::string text;
  std::optional<int32_t> value;
};

TEST(NumberValue, ReadsTheNumberATextBeginsWith) {
  const Case cases[] = {
      {"32768", 32768},
      {"32768 bytes", 32768},
      {"", 0},
      {"bytes", 0},
      {"-", 0},
      {".", 0},
      {" 1 2\t3\n4", 1234},
      {"- 5", -5},
      {"+7", 7},
      {"+-7", 0},
      {"1e3", 1000},
      {"1E+3", 1000},
      {"1d2", 100},
      {"1e", 1},
      {"1e+", 1},
      {"2.5e1", 25},
      {"15e-1", 2},
      {"1.2.3", 1},
      {"0x10", 0},
      {"007", 7},
      {"&H7D00", 0x7D00},
      {"&h7d00", 0x7D00},
      {"&HA000", 0xA000},
      {"&H7A00", 0x7A00},
      {"&HFEDCBA", 0xFEDCBA},
      {"&H8000;", 0x8000},
      {"&H10,5", 0x10},
      {"&H 1F", 0x1F},
      {"&H1G", 1},
      {"&H", 0},
      {"&O17", 15},
      {"&o78", 7},
      {"&X12", 0},
      {"-&H10", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberValue(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(NumberValue, RoundsHalvesToTheEvenNeighbour) {
  const Case cases[] = {
      {"12.5", 12},   {"13.5", 14},   {"0.5", 0},      {".5", 0},      {"1.5", 2},
      {"-12.5", -12}, {"-13.5", -14}, {"12.49999", 12}, {"12.50001", 13}, {"0.05", 0},
      {"0.06", 0},    {"0.6", 1},
      {"12.5000000000000000000001", 13}, {"4.5", 4},    {"5.5", 6},     {"125e-1", 12},
      {"0.0000009e6", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberValue(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(NumberValue, RefusesWhatDoesNotFit32Bits) {
  const Case cases[] = {
      {"2147483647", 2147483647},
      {"2147483647.4", 2147483647},
      {"2147483647.5", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483648", INT32_MIN},
      {"-2147483649", std::nullopt},
      {"99999999999", std::nullopt},
      {"1e10", std::nullopt},
      {"1e99999999999999999999", std::nullopt},
      {"1e-99999999999999999999", 0},
      {"0e99999999999999999999", 0},
      {std::string(500, '9'), std::nullopt},
      {"0." + std::string(500, '0') + "1", 0},
      {"&H7FFFFFFF", INT32_MAX},
      {"&H80000000", std::nullopt},
      {"&HFFFFFFFF", std::nullopt},
      {"&H" + std::string(100, 'F'), std::nullopt},
      {"&O" + std::string(100, '0') + "17", 15},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberValue(c.text), c.value) << '"' << c.text << '"';
  }
}

}  // namespace
