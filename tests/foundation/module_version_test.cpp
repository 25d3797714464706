// The module's version resource as the resource compiler writes it and as the reader decodes it: the
// compiled-in block, a block built by hand field by field, and the blocks the reader must refuse.
#include "control/resources/module_resources.h"
#include "foundation/module_version.h"
#include "platform/resources.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

void PutWord(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void PutDword(Bytes& out, uint32_t value) {
    PutWord(out, static_cast<uint16_t>(value));
    PutWord(out, static_cast<uint16_t>(value >> 16));
}

// A version-information block: header, key "VS_VERSION_INFO", padding, fixed file information.
Bytes MakeBlock(uint32_t versionMs, uint32_t versionLs, uint32_t signature = 0xFEEF04BD) {
    Bytes block;
    PutWord(block, 0); // the length, set at the end
    PutWord(block, 52);
    PutWord(block, 0);
    for (char c : std::string("VS_VERSION_INFO"))
        PutWord(block, static_cast<uint8_t>(c));
    PutWord(block, 0);
    while (block.size() % 4 != 0)
        block.push_back(0);
    const uint32_t fixed[13] = {signature, 0x00010000, versionMs, versionLs, versionMs, versionLs, 0x3f,
                                0,         4,          2,         0,         0,         0};
    for (uint32_t field : fixed)
        PutDword(block, field);
    block[0] = static_cast<uint8_t>(block.size());
    block[1] = static_cast<uint8_t>(block.size() >> 8);
    return block;
}

TEST(ModuleVersion, TheCompiledInResourceIsTheProductsVersion) {
    platform::SetResourceModule(&PxModuleResources());
    std::optional<CFileVersion> version = GetModuleFileVersion();
    platform::SetResourceModule(nullptr);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->Format(), "2.0.4.0");
    EXPECT_EQ(version->Format(), kPxVersion);
    // Without a module there is nothing to read.
    EXPECT_FALSE(GetModuleFileVersion());
}

TEST(ModuleVersion, EachHalfGivesTwoNumbersMostSignificantFirst) {
    std::optional<CFileVersion> version = DecodeFileVersion(MakeBlock(0x0001FFFF, 0x00030007));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->parts, (std::array<uint16_t, 4>{1, 65535, 3, 7}));
    EXPECT_EQ(version->Format(), "1.65535.3.7");
    // Padding after the block (the resource rounded up) is no part of it.
    Bytes padded = MakeBlock(0x00020000, 0x00040000);
    padded.resize(padded.size() + 8, 0xAA);
    ASSERT_TRUE(DecodeFileVersion(padded));
    EXPECT_EQ(DecodeFileVersion(padded)->Format(), "2.0.4.0");
}

TEST(ModuleVersion, ShortOrMalformedBlocksGiveNothing) {
    const Bytes good = MakeBlock(0x00020000, 0x00040000);
    ASSERT_TRUE(DecodeFileVersion(good));
    // Every truncation, down to nothing at all, whatever its length field says.
    for (size_t size = 0; size < good.size(); ++size) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(DecodeFileVersion(cut)) << size;
        if (size >= 2) {
            cut[0] = static_cast<uint8_t>(size);
            cut[1] = 0;
            EXPECT_FALSE(DecodeFileVersion(cut)) << "length field " << size;
        }
    }
    // Not the fixed information's signature.
    EXPECT_FALSE(DecodeFileVersion(MakeBlock(0x00020000, 0x00040000, 0xFEEF04BC)));
    // A value length that is not the fixed information's.
    Bytes noValue = good;
    noValue[2] = 0;
    EXPECT_FALSE(DecodeFileVersion(noValue));
    // A length field shorter than the header.
    Bytes tiny = good;
    tiny[0] = 4;
    tiny[1] = 0;
    EXPECT_FALSE(DecodeFileVersion(tiny));
    // A key without its NUL runs into the fixed information and past the end.
    Bytes endless(good.size(), 'A');
    endless[0] = static_cast<uint8_t>(good.size());
    endless[1] = 0;
    endless[2] = 52;
    endless[3] = 0;
    EXPECT_FALSE(DecodeFileVersion(endless));
}

} // namespace
