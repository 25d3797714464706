#include "foundation/module_version.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

namespace {

constexpr uint32_t kModuleVersionId = 1;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedFileInfoSize = 13 * 4; // thirteen 32-bit fields
constexpr size_t kHeaderSize = 6;             // length, value length, type

uint16_t Word(std::span<const uint8_t> data, size_t at) {
    return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
}

uint32_t Dword(std::span<const uint8_t> data, size_t at) {
    return static_cast<uint32_t>(Word(data, at)) | (static_cast<uint32_t>(Word(data, at + 2)) << 16);
}

} // namespace

std::string CFileVersion::Format() const {
    return FormatString("%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
}

std::optional<CFileVersion> DecodeFileVersion(std::span<const uint8_t> block) {
    if (block.size() < kHeaderSize)
        return std::nullopt;
    // The block's own length bounds everything read; it may be followed by padding of the resource.
    const size_t length = Word(block, 0);
    if (length < kHeaderSize || length > block.size() || Word(block, 2) != kFixedFileInfoSize)
        return std::nullopt;
    block = block.first(length);
    // The key: UTF-16 code units up to and including the NUL.
    size_t at = kHeaderSize;
    for (;; at += 2) {
        if (at + 2 > block.size())
            return std::nullopt;
        if (Word(block, at) == 0)
            break;
    }
    at += 2;
    at = (at + 3) & ~size_t{3};
    if (at + kFixedFileInfoSize > block.size() || Dword(block, at) != kFixedFileInfoSignature)
        return std::nullopt;
    const uint32_t mostSignificant = Dword(block, at + 8);
    const uint32_t leastSignificant = Dword(block, at + 12);
    CFileVersion version;
    version.parts = {static_cast<uint16_t>(mostSignificant >> 16), static_cast<uint16_t>(mostSignificant),
                     static_cast<uint16_t>(leastSignificant >> 16), static_cast<uint16_t>(leastSignificant)};
    return version;
}

std::optional<CFileVersion> GetModuleFileVersion() {
    std::optional<std::span<const uint8_t>> block =
        platform::FindModuleResource(platform::ResourceType::Version, kModuleVersionId);
    if (!block)
        return std::nullopt;
    return DecodeFileVersion(*block);
}
