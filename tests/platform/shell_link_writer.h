// Writes shell-link (".lnk") files in the documented binary format for the tests: the header, an
// optional target ID list, the link information (local base path, network share, common path suffix,
// optionally their Unicode variants) and the string data (ANSI or Unicode).
#pragma once

#include "platform/shell_link.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace testing_lnk {

struct LinkSpec {
    bool withIdList = false;                  // a one-item ID list (My Computer) before the link information
    std::optional<std::string> localBasePath; // ANSI bytes, written as given
    std::optional<std::string> localBasePathUnicode; // UTF-8, written as UTF-16 (longer link-info header)
    std::optional<std::string> netName;              // ANSI share name ("\\server\share")
    std::string commonPathSuffix;
    std::optional<std::string> commonPathSuffixUnicode;
    bool forceNoLinkInfo = false;
    bool unicodeStrings = true; // IsUnicode: the string data in UTF-16, else the bytes as given
    std::optional<std::string> name;
    std::optional<std::string> relativePath;
    std::optional<std::string> workingDir;
    std::optional<std::string> arguments;
    std::vector<uint8_t> extraData; // appended before the terminal block
};

inline void PutU16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

inline void SetU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// UTF-8 to UTF-16 code units (the tests give valid UTF-8).
inline std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        auto lead = static_cast<uint8_t>(text[i]);
        uint32_t codePoint;
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            codePoint = (codePoint << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        i += length;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (codePoint >> 10));
            out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            out += static_cast<char16_t>(codePoint);
        }
    }
    return out;
}

inline void PutAnsiZ(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

inline void PutUnicodeZ(std::vector<uint8_t>& out, const std::string& text) {
    for (char16_t unit : ToUtf16(text))
        PutU16(out, unit);
    PutU16(out, 0);
}

inline std::vector<uint8_t> LinkInfoBytes(const LinkSpec& spec) {
    bool unicodeHeader = spec.localBasePathUnicode || spec.commonPathSuffixUnicode;
    uint32_t headerSize = unicodeHeader ? 0x24 : 0x1C;
    uint32_t flags =
        (spec.localBasePath || spec.localBasePathUnicode ? platform::kVolumeIDAndLocalBasePath : 0) |
        (spec.netName ? platform::kCommonNetworkRelativeLinkAndPathSuffix : 0);
    std::vector<uint8_t> out(headerSize, 0);
    SetU32(out, 4, headerSize);
    SetU32(out, 8, flags);
    if (flags & platform::kVolumeIDAndLocalBasePath) {
        SetU32(out, 12, static_cast<uint32_t>(out.size()));
        PutU32(out, 0x11);       // VolumeIDSize
        PutU32(out, 3);          // DRIVE_FIXED
        PutU32(out, 0x1234ABCD); // serial number
        PutU32(out, 0x10);       // label offset
        out.push_back(0);        // empty label
        SetU32(out, 16, static_cast<uint32_t>(out.size()));
        PutAnsiZ(out, spec.localBasePath.value_or(""));
    }
    if (spec.netName) {
        SetU32(out, 20, static_cast<uint32_t>(out.size()));
        uint32_t size = 0x14 + static_cast<uint32_t>(spec.netName->size()) + 2;
        PutU32(out, size);
        PutU32(out, 0);    // no device name, no provider type
        PutU32(out, 0x14); // NetNameOffset
        PutU32(out, 0);    // DeviceNameOffset
        PutU32(out, 0);    // NetworkProviderType
        PutAnsiZ(out, *spec.netName);
        out.push_back(0); // empty device name
    }
    SetU32(out, 24, static_cast<uint32_t>(out.size()));
    PutAnsiZ(out, spec.commonPathSuffix);
    if (unicodeHeader) {
        if (spec.localBasePathUnicode) {
            SetU32(out, 28, static_cast<uint32_t>(out.size()));
            PutUnicodeZ(out, *spec.localBasePathUnicode);
        }
        SetU32(out, 32, static_cast<uint32_t>(out.size()));
        PutUnicodeZ(out, spec.commonPathSuffixUnicode.value_or(spec.commonPathSuffix));
    }
    SetU32(out, 0, static_cast<uint32_t>(out.size()));
    return out;
}

inline void PutCountedString(std::vector<uint8_t>& out, const std::string& text, bool unicode) {
    if (!unicode) {
        PutU16(out, static_cast<uint32_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
        return;
    }
    std::u16string units = ToUtf16(text);
    PutU16(out, static_cast<uint32_t>(units.size()));
    for (char16_t unit : units)
        PutU16(out, unit);
}

inline std::vector<uint8_t> ShellLinkBytes(const LinkSpec& spec) {
    bool hasLinkInfo = spec.localBasePath || spec.localBasePathUnicode || spec.netName;
    uint32_t flags =
        (spec.withIdList ? platform::kHasLinkTargetIDList : 0) | (hasLinkInfo ? platform::kHasLinkInfo : 0) |
        (spec.name ? platform::kHasName : 0) | (spec.relativePath ? platform::kHasRelativePath : 0) |
        (spec.workingDir ? platform::kHasWorkingDir : 0) | (spec.arguments ? platform::kHasArguments : 0) |
        (spec.unicodeStrings ? platform::kIsUnicode : 0) |
        (spec.forceNoLinkInfo ? platform::kForceNoLinkInfo : 0);
    std::vector<uint8_t> out;
    PutU32(out, platform::kShellLinkHeaderSize);
    out.insert(out.end(), std::begin(platform::kShellLinkClsid), std::end(platform::kShellLinkClsid));
    PutU32(out, flags);
    PutU32(out, 0x20); // FILE_ATTRIBUTE_ARCHIVE
    out.resize(platform::kShellLinkHeaderSize, 0);
    out[0x3C] = 1; // ShowCommand: SW_SHOWNORMAL
    if (spec.withIdList) {
        // One root item, {20D04FE0-3AEA-1069-A2D8-08002B30309D} (My Computer), then the terminator.
        static const uint8_t kMyComputer[] = {0x14, 0x00, 0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A,
                                              0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
        PutU16(out, sizeof kMyComputer + 2);
        out.insert(out.end(), std::begin(kMyComputer), std::end(kMyComputer));
        PutU16(out, 0);
    }
    if (hasLinkInfo) {
        auto info = LinkInfoBytes(spec);
        out.insert(out.end(), info.begin(), info.end());
    }
    for (const auto* text : {&spec.name, &spec.relativePath, &spec.workingDir, &spec.arguments}) {
        if (*text)
            PutCountedString(out, **text, spec.unicodeStrings);
    }
    out.insert(out.end(), spec.extraData.begin(), spec.extraData.end());
    PutU32(out, 0); // TerminalBlock
    return out;
}

inline void WriteShellLink(const std::string& path, const LinkSpec& spec) {
    auto bytes = ShellLinkBytes(spec);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace testing_lnk
