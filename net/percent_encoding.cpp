#include "net/percent_encoding.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsAlphanumeric(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The value of a hexadecimal digit, or -1.
int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string PercentEncode(std::string_view text, SpaceAsPlus spaceAsPlus) {
    size_t escaped = 0;
    for (char c : text) {
        if (!IsAlphanumeric(static_cast<unsigned char>(c)) && !(c == ' ' && spaceAsPlus == SpaceAsPlus::Yes))
            ++escaped;
    }
    std::string result;
    result.reserve(text.size() + 2 * escaped);
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (IsAlphanumeric(byte)) {
            result += c;
        } else if (c == ' ' && spaceAsPlus == SpaceAsPlus::Yes) {
            result += '+';
        } else {
            result += '%';
            result += kHexDigits[byte >> 4];
            result += kHexDigits[byte & 0x0F];
        }
    }
    return result;
}

std::string PercentDecode(std::string_view text, PlusAsSpace plusAsSpace) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && text.size() - i > 2) {
            int high = HexValue(text[i + 1]);
            int low = HexValue(text[i + 2]);
            // Not an escape: the "%" stays, and the two bytes after it are read as ordinary text.
            if (high >= 0 && low >= 0) {
                result += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        result += (c == '+' && plusAsSpace == PlusAsSpace::Yes) ? ' ' : c;
    }
    return result;
}
