// Shell links (".lnk" files), read by our own reader of the documented file format in place of the
// system's shell-link object: the header, the target's ID list (skipped), the link information with its
// local base path, network share and common path suffix, and the string data. GetShellLinkTarget then
// maps the Windows target to a path of this file system (the rules are at its declaration).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

// The header's LinkFlags that the reader looks at, as plain 32-bit masks.
constexpr uint32_t kHasLinkTargetIDList = 1u << 0;
constexpr uint32_t kHasLinkInfo = 1u << 1;
constexpr uint32_t kHasName = 1u << 2;
constexpr uint32_t kHasRelativePath = 1u << 3;
constexpr uint32_t kHasWorkingDir = 1u << 4;
constexpr uint32_t kHasArguments = 1u << 5;
constexpr uint32_t kHasIconLocation = 1u << 6;
constexpr uint32_t kIsUnicode = 1u << 7;
constexpr uint32_t kForceNoLinkInfo = 1u << 8;

// LinkInfoFlags.
constexpr uint32_t kVolumeIDAndLocalBasePath = 1u << 0;
constexpr uint32_t kCommonNetworkRelativeLinkAndPathSuffix = 1u << 1;

constexpr uint32_t kShellLinkHeaderSize = 0x4C;
// The link class {00021401-0000-0000-C000-000000000046} as it is stored (first three fields little-endian).
constexpr uint8_t kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// A link's contents as read. Texts are narrow text (platform/narrow_text.h): Unicode fields are
// converted from UTF-16, ANSI fields (in the code page of the machine that wrote them) by
// NarrowFromWindowsAnsi. A text ends at its first NUL.
struct ShellLink {
    uint32_t linkFlags = 0;
    uint32_t fileAttributes = 0;
    uint32_t linkInfoFlags = 0;   // 0 when the link has no link information or ignores it
    std::string localBasePath;    // the Unicode variant when the link information has one
    std::string commonPathSuffix; // likewise
    std::string netName;          // the share ("\\server\share") of a network target
    std::optional<std::string> name;
    std::optional<std::string> relativePath;
    std::optional<std::string> workingDir;
    std::optional<std::string> arguments;
    std::optional<std::string> iconLocation;

    // The local target in Windows form (local base path, then the suffix), "" when there is none.
    std::string GetLocalPath() const;
    // The network target ("\\server\share\suffix"), "" when there is none.
    std::string GetNetworkPath() const;
};

// The largest link file read; real ones are a few kilobytes, and the parts we need come first.
constexpr size_t kMaxShellLinkFile = 1024 * 1024;

// Nothing when the bytes are not a shell link or a structure in them does not fit its bounds.
std::optional<ShellLink> ParseShellLink(std::span<const uint8_t> bytes);
// Reads at most kMaxShellLinkFile bytes of the file and parses them.
std::optional<ShellLink> ReadShellLink(const std::string& path);

// The link's target as a path of this file system, or nothing when the link does not resolve here.
// A link resolves only to a path that exists here, tried in this order:
//  1. the local target, when it maps to this file system: a POSIX path ("/...") as it is, and a path
//     on drive Z:, which Windows programs run here through a compatibility layer see as the root, as
//     "/" followed by the rest
//     with "\" turned into "/". Other drives, rooted paths without a drive and network shares ("\\")
//     have no counterpart here;
//  2. the relative path, with "\" turned into "/", against the folder that really holds the link
//     (symbolic links to the link followed), lexically normalised.
// On Windows the link's paths are this file system's: the local target and then the network target,
// each when it is a full path ("X:\..." or "\\server\share\..."), and then the relative path against
// the link's folder, made absolute and normalised.
std::optional<std::string> MapShellLinkTarget(const ShellLink& link, const std::string& linkFolder);
// Reads the link at `linkPath` and maps its target as above.
std::optional<std::string> GetShellLinkTarget(const std::string& linkPath);

} // namespace platform
