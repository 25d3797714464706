#include "platform/system_message.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace platform {
namespace {

struct SystemText {
    uint32_t error;
    const char* text;
};

// Texts for numbers that some systems' message tables lack (COM's registry results are not in
// every system's table), as Windows words them. Sorted by number.
constexpr SystemText kFallbackTexts[] = {
    {kRegdbEKeyMissing, "Could not find the key in the registry."},
    {kRegdbEInvalidValue, "Invalid value for registry."},
};

static_assert(std::is_sorted(std::begin(kFallbackTexts), std::end(kFallbackTexts),
                             [](const SystemText& a, const SystemText& b) { return a.error < b.error; }));

// The system's text in `language`, or "" when its table has none in that language.
std::string FromSystem(uint32_t error, DWORD language) {
    char* text = nullptr;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, language, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr)
        result.assign(text, length);
    if (text != nullptr)
        ::LocalFree(text);
    return result;
}

} // namespace

std::string FormatSystemMessage(uint32_t error) {
    // The neutral language first, as the messages are written for it; a system whose table lacks it
    // gives its own language.
    std::string text = FromSystem(error, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (text.empty())
        text = FromSystem(error, 0);
    if (!text.empty())
        return text;
    auto it = std::lower_bound(std::begin(kFallbackTexts), std::end(kFallbackTexts), error,
                               [](const SystemText& entry, uint32_t value) { return entry.error < value; });
    if (it == std::end(kFallbackTexts) || it->error != error)
        return std::string();
    return std::string(it->text) + "\r\n";
}

} // namespace platform
