// The host program's command line: NUL-separated words of arbitrary bytes.
#include "apps/pxupload/command_line.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        size_t end = text.find('\0');
        words.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    try {
        ParseCommandLine(words);
    } catch (const CUsageError&) {
    }
    return 0;
}
