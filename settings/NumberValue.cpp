#include "NumberValue.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace {

// Exact decimal arithmetic: the digits are kept as text so that the rounding
// sees every digit and no locale or floating-point error takes part.
constexpr int64_t kTooLarge = int64_t{1} << 40;
constexpr int64_t kExponentCap = 100000;

std::string WithoutBlanks(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') kept.push_back(c);
  }
  return kept;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  return value < base ? value : -1;
}

std::optional<int32_t> Fit(int64_t value) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

// Digits after the &H or &O prefix, up to the first that does not belong.
std::optional<int32_t> PrefixedValue(std::string_view digits, int base) {
  int64_t value = 0;
  for (char c : digits) {
    int digit = DigitValue(c, base);
    if (digit < 0) break;
    value = value * base + digit;
    if (value > kTooLarge) return std::nullopt;
  }
  return Fit(value);
}

struct Decimal {
  bool negative = false;
  std::string digits;     // mantissa digits, point removed
  int64_t pointAt = 0;    // how many of them stand before the point
};

size_t ReadDigits(std::string_view text, size_t at, std::string& out) {
  while (at < text.size() && IsDigit(text[at])) out.push_back(text[at++]);
  return at;
}

// The exponent moves the point; "1e" and "1e+" end before their letter.
int64_t ReadExponent(std::string_view text, size_t at) {
  if (at >= text.size() || std::string_view("EeDd").find(text[at]) == std::string_view::npos) {
    return 0;
  }
  ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int64_t exponent = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    exponent = std::min(exponent * 10 + (text[at] - '0'), kExponentCap);
  }
  return negative ? -exponent : exponent;
}

Decimal ReadDecimal(std::string_view text) {
  Decimal number;
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) number.negative = text[at++] == '-';
  at = ReadDigits(text, at, number.digits);
  number.pointAt = static_cast<int64_t>(number.digits.size());
  if (at < text.size() && text[at] == '.') at = ReadDigits(text, at + 1, number.digits);
  if (!number.digits.empty()) number.pointAt += ReadExponent(text, at);
  return number;
}

// Rounds to the nearest integer, halves to the even neighbour.
std::optional<int32_t> Rounded(const Decimal& number) {
  const std::string& digits = number.digits;
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  int64_t wholeCount = number.pointAt - static_cast<int64_t>(first);
  if (wholeCount > 12) return std::nullopt;
  int64_t whole = 0;
  for (int64_t i = 0; i < wholeCount; ++i) {
    size_t index = first + static_cast<size_t>(i);
    whole = whole * 10 + (index < digits.size() ? digits[index] - '0' : 0);
  }
  // The fraction starts with its first digit only when no zeros lie between
  // the point and the digits; otherwise it is below one half.
  size_t fractionAt = first + static_cast<size_t>(std::max<int64_t>(wholeCount, 0));
  char lead = wholeCount >= 0 && fractionAt < digits.size() ? digits[fractionAt] : '0';
  bool moreAfterLead = fractionAt + 1 < digits.size() &&
                       digits.find_first_not_of('0', fractionAt + 1) != std::string::npos;
  bool up = lead > '5' || (lead == '5' && (moreAfterLead || whole % 2 == 1));
  if (up) ++whole;
  return Fit(number.negative ? -whole : whole);
}

}  // namespace

std::optional<int32_t> NumberValue(std::string_view text) {
  std::string kept = WithoutBlanks(text);
  std::string_view rest(kept);
  if (rest.size() >= 2 && rest[0] == '&') {
    if (rest[1] == 'H' || rest[1] == 'h') return PrefixedValue(rest.substr(2), 16);
    if (rest[1] == 'O' || rest[1] == 'o') return PrefixedValue(rest.substr(2), 8);
  }
  return Rounded(ReadDecimal(rest));
}
