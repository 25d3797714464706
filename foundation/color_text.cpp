#include "foundation/color_text.h"

#include "foundation/string_number.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

struct NamedColor {
    const char* name;
    uint32_t rgb;
};

// The sixteen colour names of HTML 4.01.
constexpr NamedColor kColorNames[] = {
    {"aqua", 0x00ffff},   {"black", 0x000000}, {"blue", 0x0000ff},   {"fuchsia", 0xff00ff},
    {"gray", 0x808080},   {"green", 0x008000}, {"lime", 0x00ff00},   {"maroon", 0x800000},
    {"navy", 0x000080},   {"olive", 0x808000}, {"purple", 0x800080}, {"red", 0xff0000},
    {"silver", 0xc0c0c0}, {"teal", 0x008080},  {"yellow", 0xffff00}, {"white", 0xffffff},
};

} // namespace

uint32_t ParseColorText(std::string_view text) {
    if (!text.empty() && text[0] == '#') {
        std::string_view digits = text.substr(1);
        size_t consumed = 0;
        uint32_t value = StrToUL32(digits, 16, &consumed);
        if (consumed == 0 || consumed != digits.size())
            return 0x000000;
        return value & 0xffffff;
    }
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const NamedColor& color : kColorNames) {
        if (lower == color.name)
            return color.rgb;
    }
    return 0x000000;
}
