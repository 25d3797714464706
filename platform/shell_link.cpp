#include "platform/shell_link.h"

#include "platform/file_system.h"
#include "platform/narrow_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
namespace {

constexpr size_t kLinkInfoMinHeader = 0x1C;     // the link information without the Unicode offsets
constexpr size_t kLinkInfoUnicodeHeader = 0x24; // ...and with them
constexpr size_t kNetworkLinkMinSize = 0x14;    // CommonNetworkRelativeLink without Unicode offsets

// `units` holds little-endian UTF-16 code units.
std::string NarrowFromUtf16Bytes(std::span<const uint8_t> units) {
    std::u16string text(units.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(units[2 * i] | (units[2 * i + 1] << 8));
    return NarrowFromUtf16(text);
}

std::string NarrowFromAnsiBytes(std::span<const uint8_t> text) {
    return NarrowFromWindowsAnsi(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

// Bounds-checked little-endian reads over one structure of the file. Every read past the end fails
// and leaves the reader failed, so a parse checks Ok() once after a group of reads.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

    bool Ok() const { return m_ok; }
    size_t Position() const { return m_position; }
    size_t Remaining() const { return m_ok ? m_bytes.size() - m_position : 0; }

    uint16_t U16() {
        auto bytes = Take(2);
        return bytes.empty() ? 0 : static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    }
    uint32_t U32() {
        auto bytes = Take(4);
        if (bytes.empty())
            return 0;
        return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
               (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    }
    // An empty span for a count of 0 as well as on failure; check Ok().
    std::span<const uint8_t> Take(size_t count) {
        if (!m_ok || count > m_bytes.size() - m_position) {
            m_ok = false;
            return {};
        }
        auto bytes = m_bytes.subspan(m_position, count);
        m_position += count;
        return bytes;
    }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_position = 0;
    bool m_ok = true;
};

// A NUL-terminated ANSI text at `offset` inside `area`; nothing when it is out of bounds or unterminated.
std::optional<std::string> AnsiStringAt(std::span<const uint8_t> area, size_t offset) {
    if (offset >= area.size())
        return std::nullopt;
    auto rest = area.subspan(offset);
    const void* nul = std::memchr(rest.data(), 0, rest.size());
    if (nul == nullptr)
        return std::nullopt;
    size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - rest.data());
    return NarrowFromAnsiBytes(rest.first(length));
}

// A NUL-terminated UTF-16 text at `offset` inside `area`, likewise.
std::optional<std::string> UnicodeStringAt(std::span<const uint8_t> area, size_t offset) {
    if (offset >= area.size())
        return std::nullopt;
    auto rest = area.subspan(offset);
    for (size_t i = 0; i + 1 < rest.size(); i += 2) {
        if (rest[i] == 0 && rest[i + 1] == 0)
            return NarrowFromUtf16Bytes(rest.first(i));
    }
    return std::nullopt;
}

// CommonNetworkRelativeLink: only the share's name is kept.
bool ParseNetworkLink(std::span<const uint8_t> area, ShellLink& link) {
    ByteReader reader(area);
    uint32_t size = reader.U32();
    reader.U32(); // flags: device name and provider type, not needed for the path
    uint32_t netNameOffset = reader.U32();
    if (!reader.Ok() || size < kNetworkLinkMinSize || size > area.size())
        return false;
    auto structure = area.first(size);
    auto netName = AnsiStringAt(structure, netNameOffset);
    if (!netName)
        return false;
    link.netName = *netName;
    if (netNameOffset > kNetworkLinkMinSize) {
        reader.U32(); // device name offset
        reader.U32(); // provider type
        uint32_t netNameOffsetUnicode = reader.U32();
        if (!reader.Ok() || reader.Position() > size)
            return false;
        auto unicode = UnicodeStringAt(structure, netNameOffsetUnicode);
        if (!unicode)
            return false;
        link.netName = *unicode;
    }
    return true;
}

// LinkInfo: `area` is exactly the structure (its LinkInfoSize bytes).
bool ParseLinkInfo(std::span<const uint8_t> area, ShellLink& link) {
    ByteReader reader(area);
    reader.U32(); // LinkInfoSize, already applied to `area`
    uint32_t headerSize = reader.U32();
    uint32_t flags = reader.U32();
    reader.U32(); // VolumeIDOffset: the volume's label and serial number do not make the path
    uint32_t localBasePathOffset = reader.U32();
    uint32_t networkLinkOffset = reader.U32();
    uint32_t suffixOffset = reader.U32();
    if (!reader.Ok() || headerSize < kLinkInfoMinHeader || headerSize > area.size())
        return false;
    uint32_t localBasePathOffsetUnicode = 0;
    uint32_t suffixOffsetUnicode = 0;
    if (headerSize >= kLinkInfoUnicodeHeader) {
        localBasePathOffsetUnicode = reader.U32();
        suffixOffsetUnicode = reader.U32();
        if (!reader.Ok())
            return false;
    }
    link.linkInfoFlags = flags;

    if (flags & kVolumeIDAndLocalBasePath) {
        auto base = localBasePathOffsetUnicode != 0 ? UnicodeStringAt(area, localBasePathOffsetUnicode)
                                                    : AnsiStringAt(area, localBasePathOffset);
        if (!base)
            return false;
        link.localBasePath = *base;
    }
    if (flags & kCommonNetworkRelativeLinkAndPathSuffix) {
        if (networkLinkOffset >= area.size() || !ParseNetworkLink(area.subspan(networkLinkOffset), link))
            return false;
    }
    if (flags & (kVolumeIDAndLocalBasePath | kCommonNetworkRelativeLinkAndPathSuffix)) {
        auto suffix = suffixOffsetUnicode != 0 ? UnicodeStringAt(area, suffixOffsetUnicode)
                                               : AnsiStringAt(area, suffixOffset);
        if (!suffix)
            return false;
        link.commonPathSuffix = *suffix;
    }
    return true;
}

// One StringData entry: a count of characters, then the characters (UTF-16 or ANSI per IsUnicode).
std::optional<std::string> ReadCountedString(ByteReader& reader, bool isUnicode) {
    uint16_t count = reader.U16();
    auto text = reader.Take(isUnicode ? size_t{count} * 2 : size_t{count});
    if (!reader.Ok())
        return std::nullopt;
    std::string value = isUnicode ? NarrowFromUtf16Bytes(text) : NarrowFromAnsiBytes(text);
    // Windows hands the text on as a C string.
    if (size_t nul = value.find('\0'); nul != std::string::npos)
        value.resize(nul);
    return value;
}

std::string JoinWindowsPath(const std::string& base, const std::string& suffix) {
    if (base.empty() || suffix.empty())
        return base + suffix;
    char last = base.back();
    if (last == '\\' || last == '/' || suffix.front() == '\\')
        return base + suffix;
    return base + "\\" + suffix;
}

} // namespace

std::string ShellLink::GetLocalPath() const {
    if (!(linkInfoFlags & kVolumeIDAndLocalBasePath) || localBasePath.empty())
        return "";
    return JoinWindowsPath(localBasePath, commonPathSuffix);
}

std::string ShellLink::GetNetworkPath() const {
    if (!(linkInfoFlags & kCommonNetworkRelativeLinkAndPathSuffix) || netName.empty())
        return "";
    return JoinWindowsPath(netName, commonPathSuffix);
}

std::optional<ShellLink> ParseShellLink(std::span<const uint8_t> bytes) {
    ByteReader reader(bytes);
    ShellLink link;
    uint32_t headerSize = reader.U32();
    auto clsid = reader.Take(sizeof kShellLinkClsid);
    link.linkFlags = reader.U32();
    link.fileAttributes = reader.U32();
    reader.Take(kShellLinkHeaderSize - reader.Position()); // times, size, icon, show command, hot key
    if (!reader.Ok() || headerSize != kShellLinkHeaderSize ||
        std::memcmp(clsid.data(), kShellLinkClsid, sizeof kShellLinkClsid) != 0)
        return std::nullopt;

    if (link.linkFlags & kHasLinkTargetIDList) {
        // The shell's item identifiers; the link information and the strings carry the path.
        uint16_t idListSize = reader.U16();
        reader.Take(idListSize);
        if (!reader.Ok())
            return std::nullopt;
    }

    if (link.linkFlags & kHasLinkInfo) {
        size_t start = reader.Position();
        uint32_t size = reader.U32();
        if (!reader.Ok() || size < kLinkInfoMinHeader || size > bytes.size() - start)
            return std::nullopt;
        reader.Take(size - 4);
        if (!(link.linkFlags & kForceNoLinkInfo) && !ParseLinkInfo(bytes.subspan(start, size), link))
            return std::nullopt;
    }

    bool isUnicode = (link.linkFlags & kIsUnicode) != 0;
    const std::pair<uint32_t, std::optional<std::string>*> strings[] = {
        {kHasName, &link.name},
        {kHasRelativePath, &link.relativePath},
        {kHasWorkingDir, &link.workingDir},
        {kHasArguments, &link.arguments},
        {kHasIconLocation, &link.iconLocation},
    };
    for (const auto& [flag, field] : strings) {
        if (!(link.linkFlags & flag))
            continue;
        *field = ReadCountedString(reader, isUnicode);
        if (!*field)
            return std::nullopt;
    }
    // Extra data blocks follow; none of them is needed for the target's path.
    return link;
}

std::optional<ShellLink> ReadShellLink(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFile(path, "rb"), &std::fclose);
    if (!file)
        return std::nullopt;
    // Read in pieces: links are small, and most calls should not pay for the largest one.
    constexpr size_t kPiece = 16 * 1024;
    std::vector<uint8_t> bytes;
    while (bytes.size() < kMaxShellLinkFile) {
        size_t have = bytes.size();
        bytes.resize(std::min(have + kPiece, kMaxShellLinkFile));
        size_t got = std::fread(bytes.data() + have, 1, bytes.size() - have, file.get());
        bytes.resize(have + got);
        if (got == 0)
            break;
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    return ParseShellLink(bytes);
}

} // namespace platform
