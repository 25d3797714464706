// What the registry tests and their writer process (registry_writer.cpp) agree on: the values the
// writer stores, and how it reports its commits.
#pragma once

#include <cstdint>
#include <string>

namespace registry_writer {

// The writer's exit statuses other than 0.
enum Exit : int {
    kUsage = 2,
    kNoGo = 10,      // the test did not connect or give the go
    kNoKey = 11,     // the key could not be made
    kSetFailed = 12, // a value could not be stored
    kNoReport = 13,  // the test stopped listening to the reports
};

// The name of the writer's i-th value, and its text: long enough that a torn write would show.
inline std::string ValueName(const std::string& prefix, int32_t i) {
    return prefix + "-" + std::to_string(i);
}
inline std::string ValueText(const std::string& prefix, int32_t i) {
    return ValueName(prefix, i) + "-" + std::string(200, static_cast<char>('a' + i % 26));
}

// After each commit the writer sends how many it has committed, as four bytes, least significant
// first.
inline std::string EncodeCount(uint32_t count) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>(count >> (8 * i));
    return bytes;
}
inline uint32_t DecodeCount(const std::string& bytes) {
    uint32_t count = 0;
    for (int i = 3; i >= 0; --i)
        count = count << 8 | static_cast<uint8_t>(bytes[static_cast<size_t>(i)]);
    return count;
}

} // namespace registry_writer
