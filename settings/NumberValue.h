#pragma once
// The number that a text begins with, as config.txt and the stored port
// number are read: blanks, tabs and line feeds ignored, optional sign,
// digits with fraction and exponent, &H hex and &O octal prefixes, no
// number gives 0; rounded to the nearest integer, halves to even.
#include <cstdint>
#include <optional>
#include <string_view>

// nullopt when the rounded value does not fit a signed 32-bit integer.
std::optional<int32_t> NumberValue(std::string_view text);
