// The module's version as its version resource (type 16, id 1) records it: the file version of the
// fixed file information, four 16-bit numbers. The block is read defensively: a short one, one
// without the fixed information's signature or one whose lengths do not add up gives nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct CFileVersion {
    // major, minor, build, private
    std::array<uint16_t, 4> parts{};

    // "%d.%d.%d.%d"
    std::string Format() const;
    bool operator==(const CFileVersion&) const = default;
};

// The file version of a version-information block: its header (length, value length, type, the
// UTF-16 key with its NUL, padding to 32 bits) followed by the fixed file information.
std::optional<CFileVersion> DecodeFileVersion(std::span<const uint8_t> block);

// The file version of the installed resource module; nothing without one.
std::optional<CFileVersion> GetModuleFileVersion();
