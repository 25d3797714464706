// The time-remaining table: arbitrary table text, then an estimate taken from the first 8 bytes.
#include "views/time_remaining_table.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    double seconds = 0;
    if (size >= sizeof seconds) {
        std::memcpy(&seconds, data, sizeof seconds);
        data += sizeof seconds;
        size -= sizeof seconds;
    }
    CTimeRemainingTable table(std::string_view(reinterpret_cast<const char*>(data), size));
    table.Format(0, seconds);
    return 0;
}
