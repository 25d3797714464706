// Decimal and hexadecimal text to numbers with the C library's strtoul/strtol rules on a 32-bit
// "long": leading white space and a sign are accepted, base 16 takes an optional "0x", parsing stops
// at the first character that is not a digit, no digits give 0, and a value out of range saturates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// `consumed` receives the number of characters that formed the number (0 when no digit was read).
uint32_t StrToUL32(std::string_view text, int base, size_t* consumed = nullptr);
int32_t StrToL32(std::string_view text, int base, size_t* consumed = nullptr);
