#include "platform/open_url.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

bool OpenURL(const std::string& url) {
    // One starting with "-" is refused as on every system: it would reach an opener as an option.
    if (url.empty() || url.front() == '-')
        return false;
    // The shell starts the handler for the address's scheme and returns without waiting for it;
    // results above 32 mean success.
    HINSTANCE result = ::ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace platform
