#include "drawing_test_support.h"
#include "platform/resources.h"
#include "ui/drawable.h"
#include "ui/image.h"

#include <vector>

#include <gtest/gtest.h>

using namespace drawing_test;

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// A bitmap-information header for a width x height 24-bit picture (negative height: top-down).
std::vector<uint8_t> InfoHeader(int32_t width, int32_t height, uint16_t bits = 24, uint32_t compression = 0) {
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);
    Put16(out, bits);
    Put32(out, compression);
    Put32(out, 0);
    Put32(out, 1000);
    Put32(out, 1000);
    Put32(out, 0);
    Put32(out, 0);
    return out;
}

TEST(UIImage, RowsArePaddedToFourBytes) {
    EXPECT_EQ(CUIImage::RowBytesFor(1), 4u);
    EXPECT_EQ(CUIImage::RowBytesFor(2), 8u);
    EXPECT_EQ(CUIImage::RowBytesFor(3), 12u);
    EXPECT_EQ(CUIImage::RowBytesFor(4), 12u);
    EXPECT_EQ(CUIImage::RowBytesFor(5), 16u);
    CUIImage image(5, 3);
    EXPECT_EQ(image.RowBytes(), 16u);
    EXPECT_EQ(image.GetPixel(4, 2), kBlack) << "new images are black";
}

TEST(UIImage, BufferIsBottomUpBlueGreenRed) {
    CUIImage image(2, 3);
    image.SetPixel(1, 0, CUIColor(0x11, 0x22, 0x33)); // top row, second pixel
    const uint8_t* lastRow = image.Bits() + 2 * image.RowBytes();
    EXPECT_EQ(lastRow[3], 0x33);
    EXPECT_EQ(lastRow[4], 0x22);
    EXPECT_EQ(lastRow[5], 0x11);
    EXPECT_EQ(image.GetPixel(1, 0), CUIColor(0x11, 0x22, 0x33));
    image.SetPixel(-1, 0, kRed); // ignored
    image.SetPixel(2, 0, kRed);
    EXPECT_EQ(image.GetPixel(2, 0), kBlack);
}

TEST(UIImage, ReadsBitmapsBottomUpAndTopDown) {
    for (int32_t sign : {1, -1}) {
        std::vector<uint8_t> dib = InfoHeader(2, 2 * sign);
        // First stored row: blue, green; second: red, white (each row padded to 8 bytes).
        const uint8_t rows[] = {0xff, 0, 0, 0, 0xff, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0, 0};
        dib.insert(dib.end(), std::begin(rows), std::end(rows));
        auto image = CUIImage::FromDIB(dib);
        ASSERT_TRUE(image) << sign;
        EXPECT_EQ(image->Size(), (CUISize{2, 2}));
        // Bottom-up: the first stored row is the bottom one.
        int firstRowY = sign > 0 ? 1 : 0;
        EXPECT_EQ(image->GetPixel(0, firstRowY), kBlue) << sign;
        EXPECT_EQ(image->GetPixel(1, firstRowY), CUIColor(0, 0xff, 0)) << sign;
        EXPECT_EQ(image->GetPixel(0, 1 - firstRowY), kRed) << sign;
        EXPECT_EQ(image->GetPixel(1, 1 - firstRowY), kWhite) << sign;
    }
}

TEST(UIImage, RefusesBitmapsItCannotRead) {
    std::vector<uint8_t> pixels(16, 0);
    auto with = [&](std::vector<uint8_t> header) {
        header.insert(header.end(), pixels.begin(), pixels.end());
        return CUIImage::FromDIB(header);
    };
    EXPECT_FALSE(with(InfoHeader(2, 2, 8)));     // palette based
    EXPECT_FALSE(with(InfoHeader(2, 2, 24, 1))); // compressed
    EXPECT_FALSE(with(InfoHeader(0, 2)));
    EXPECT_FALSE(with(InfoHeader(2, 3)));      // a row short
    EXPECT_FALSE(with(InfoHeader(100000, 1))); // absurd size
    EXPECT_FALSE(CUIImage::FromDIB(std::vector<uint8_t>(20, 0)));
    EXPECT_TRUE(with(InfoHeader(2, 2)));
}

TEST(UIImage, LoadsBitmapResourcesById) {
    std::vector<uint8_t> dib = InfoHeader(1, 1);
    const uint8_t pixel[] = {0x30, 0x20, 0x10, 0};
    dib.insert(dib.end(), std::begin(pixel), std::end(pixel));
    const platform::ResourceBlock blocks[] = {{platform::ResourceType::Bitmap, 42, dib.data(), dib.size()}};
    const platform::ResourceModule module{"test", blocks, {}};
    platform::SetResourceModule(&module);
    auto image = CUIImage::FromResource(42);
    auto missing = CUIImage::FromResource(43);
    platform::SetResourceModule(nullptr);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetPixel(0, 0), CUIColor(0x10, 0x20, 0x30));
    EXPECT_FALSE(missing);
}

TEST(UIImage, NativeImageFollowsOnlyMarkedChanges) {
    CUIDrawable d = CUIDrawable::ForMemory(4, 4);
    CUIImage image(2, 2);
    image.Fill(kRed);
    d->DrawImage({0, 0}, image);
    EXPECT_EQ(d->GetPixel({1, 1}), kRed);

    // Writing the buffer directly does not convert until the writer says so.
    image.Bits()[0] = 0xff;
    image.Bits()[2] = 0;
    d->DrawImage({0, 0}, image);
    EXPECT_EQ(d->GetPixel({0, 1}), kRed);
    image.MarkChanged();
    d->DrawImage({0, 0}, image);
    EXPECT_EQ(d->GetPixel({0, 1}), kBlue) << "the bottom row's first pixel";
    EXPECT_EQ(d->GetPixel({0, 0}), kRed);

    CUIImage copy = image;
    copy.SetPixel(0, 0, kWhite);
    d->DrawImage({2, 2}, copy);
    EXPECT_EQ(d->GetPixel({2, 2}), kWhite);
    EXPECT_EQ(image.GetPixel(0, 0), kRed) << "copies do not share pixels";
}

} // namespace
