#include "platform/program_file.h"

#include <windows.h>

namespace platform {

std::optional<std::string> GetProgramFile() {
    // Long paths need a larger buffer; a full one means the name was cut.
    std::string path(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 6; ++attempt) {
        DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::nullopt;
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return std::nullopt;
}

} // namespace platform
