// Percent-encoding of byte strings for form fields and URI parts: every byte but the ASCII letters
// and digits is escaped as "%XX", and the reverse.
#pragma once

#include <string>
#include <string_view>

enum class SpaceAsPlus { No, Yes };
enum class PlusAsSpace { No, Yes };

// Letters and digits are copied; a space becomes "+" when asked; every other byte "%" and two
// upper-case hexadecimal digits.
std::string PercentEncode(std::string_view text, SpaceAsPlus spaceAsPlus);

// "%" and two hexadecimal digits (either case) give that byte; a "%" not followed by two hexadecimal
// digits is copied as it stands; "+" gives a space when asked. Never fails.
std::string PercentDecode(std::string_view text, PlusAsSpace plusAsSpace);
