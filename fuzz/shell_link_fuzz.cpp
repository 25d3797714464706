// The shell-link reader on arbitrary bytes, then the mapping of whatever it accepted to a target here.
#include "platform/shell_link.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto link = platform::ParseShellLink({data, size});
    if (link) {
        link->GetNetworkPath();
        platform::MapShellLinkTarget(*link, "/nonexistent-folder");
    }
    return 0;
}
