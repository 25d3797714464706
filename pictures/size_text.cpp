#include "pictures/size_text.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

#include <cmath>
#include <sstream>

namespace {

constexpr uint32_t kStringBytesUnit = 10006; // a single space
constexpr uint32_t kStringKilobytes = 10007;
constexpr uint32_t kStringMegabytes = 10008;
constexpr uint32_t kStringGigabytes = 10009;
constexpr uint32_t kStringSizeWithBytes = 10010; // "%2 (%1 bytes)"
constexpr uint32_t kStringSizeText = 10062;      // "%1%2"

} // namespace

std::string FormatSizeText(uint64_t bytes) {
    constexpr uint32_t kUnits[] = {kStringBytesUnit, kStringKilobytes, kStringMegabytes, kStringGigabytes};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    std::string number;
    if (value >= 100 || bytes < 1000)
        number = FormatString("%.0f", std::floor(value));
    else if (value >= 10)
        number = FormatString("%.1f", std::floor(value * 10) / 10);
    else
        number = FormatString("%.2f", std::floor(value * 100) / 100);
    return SubstituteArgs(platform::LoadText(kStringSizeText), {number, platform::LoadText(kUnits[unit])});
}

std::string FormatByteCount(uint64_t bytes, const std::locale& locale) {
    std::ostringstream text;
    text.imbue(locale);
    text << bytes;
    return text.str();
}

std::string FormatSizeWithByteCount(uint64_t bytes, const std::locale& locale) {
    return SubstituteArgs(platform::LoadText(kStringSizeWithBytes),
                          {FormatByteCount(bytes, locale), FormatSizeText(bytes)});
}
