// The reader of the user-dirs.dirs file on arbitrary text, for each key the picture browser asks.
#include "platform/shell_folders.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"XDG_PICTURES_DIR", "XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR"}) {
        platform::ParseUserDirsValue(text, key, "/home/someone");
        platform::ParseUserDirsValue(text, key, "");
    }
    return 0;
}
