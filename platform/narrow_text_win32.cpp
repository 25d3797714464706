// Narrow text is the ANSI code page here: UTF-16 is converted with the system's own tables, and ANSI
// bytes from a Windows machine are taken to be in our code page already.

#include "platform/narrow_text.h"

#include <climits>
#include <windows.h>

namespace platform {

std::string NarrowFromUtf16(std::u16string_view text) {
    if (text.empty())
        return std::string();
    if (text.size() > static_cast<size_t>(INT_MAX / 4))
        return std::string(); // far beyond any text this layer is given
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    // No WC_NO_BEST_FIT_CHARS: a character the code page lacks becomes its best fit or default
    // character, as every ANSI call of the system turns it.
    int needed = WideCharToMultiByte(CP_ACP, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    int written = WideCharToMultiByte(CP_ACP, 0, units, length, out.data(), needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

std::string NarrowFromWindowsAnsi(std::string_view bytes) {
    return std::string(bytes);
}

} // namespace platform
