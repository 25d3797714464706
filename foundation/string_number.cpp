#include "foundation/string_number.h"

#include <limits>

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct Parsed {
    bool negative = false;
    bool overflow = false; // the magnitude exceeded 32 bits
    uint64_t magnitude = 0;
    size_t consumed = 0;
};

Parsed ParseMagnitude(std::string_view text, int base) {
    Parsed result;
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        result.negative = text[i] == '-';
        ++i;
    }
    // "0x" belongs to the number only when a hexadecimal digit follows it.
    if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        DigitValue(text[i + 2]) < 16)
        i += 2;
    size_t digitsStart = i;
    while (i < text.size() && DigitValue(text[i]) < base) {
        if (!result.overflow) {
            result.magnitude =
                result.magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(text[i]));
            if (result.magnitude > std::numeric_limits<uint32_t>::max())
                result.overflow = true;
        }
        ++i;
    }
    result.consumed = i == digitsStart ? 0 : i;
    return result;
}

} // namespace

uint32_t StrToUL32(std::string_view text, int base, size_t* consumed) {
    Parsed parsed = ParseMagnitude(text, base);
    if (consumed != nullptr)
        *consumed = parsed.consumed;
    if (parsed.consumed == 0)
        return 0;
    if (parsed.overflow)
        return std::numeric_limits<uint32_t>::max();
    uint32_t value = static_cast<uint32_t>(parsed.magnitude);
    return parsed.negative ? static_cast<uint32_t>(0u - value) : value;
}

int32_t StrToL32(std::string_view text, int base, size_t* consumed) {
    Parsed parsed = ParseMagnitude(text, base);
    if (consumed != nullptr)
        *consumed = parsed.consumed;
    if (parsed.consumed == 0)
        return 0;
    constexpr uint64_t kMaxPositive = std::numeric_limits<int32_t>::max();
    if (parsed.negative) {
        if (parsed.overflow || parsed.magnitude > kMaxPositive + 1)
            return std::numeric_limits<int32_t>::min();
        return static_cast<int32_t>(-static_cast<int64_t>(parsed.magnitude));
    }
    if (parsed.overflow || parsed.magnitude > kMaxPositive)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(parsed.magnitude);
}
