// The frame's rounded corners: which pixels show and in which colour, and that the four are one
// quarter circle turned about.
#include "views/upload_list_corners.h"

#include <gtest/gtest.h>

namespace {

const CUIColor kEdge(0x20, 0x40, 0x80);
const CUIColor kInside(0xee, 0xee, 0xee);
const CUIColor kOutside(0xff, 0x00, 0xff);

bool Shows(const CUploadListCorners& corners, CUploadListCorners::Corner corner, int x, int y) {
    return corners.Mask(corner).GetPixel(x, y).GetPacked() == 0;
}

TEST(UploadListCorners, TheQuarterCircleShowsTheBandAndLeavesOutWhatItBarelyCovers) {
    CUploadListCorners corners;
    corners.Render(12, 4, kEdge, kInside, kOutside);
    const auto tl = CUploadListCorners::TopLeft;
    ASSERT_EQ(corners.Image(tl).Width(), 12);
    ASSERT_EQ(corners.Image(tl).Height(), 12);
    // The far corner lies outside the circle: left out, whatever colour the image holds there.
    EXPECT_FALSE(Shows(corners, tl, 0, 0));
    EXPECT_FALSE(Shows(corners, tl, 2, 2));
    // On the diagonal the circle's edge cuts the pixel at (3, 3) about in half: below the threshold.
    EXPECT_LT(CUploadListCorners::Coverage(3, 3, 12, 12, 12), CUploadListCorners::kOpaqueCoverage);
    EXPECT_FALSE(Shows(corners, tl, 3, 3));
    // Inside the band: shown, in the edge colour.
    EXPECT_TRUE(Shows(corners, tl, 5, 5));
    EXPECT_EQ(corners.Image(tl).GetPixel(5, 5), kEdge);
    // The band continues the straight edges along the top and the left.
    EXPECT_TRUE(Shows(corners, tl, 11, 0));
    EXPECT_EQ(corners.Image(tl).GetPixel(11, 1), kEdge);
    EXPECT_TRUE(Shows(corners, tl, 0, 11));
    // Within the inner circle: the inside colour.
    EXPECT_EQ(corners.Image(tl).GetPixel(11, 11), kInside);
    // A pixel that is shown but only partly covered mixes the edge with the outside colour.
    int mixed = 0;
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            const int coverage = CUploadListCorners::Coverage(x, y, 12, 12, 12);
            if (coverage < CUploadListCorners::kOpaqueCoverage || coverage == 255)
                continue;
            ++mixed;
            const CUIColor c = corners.Image(tl).GetPixel(x, y);
            EXPECT_TRUE(Shows(corners, tl, x, y)) << x << "," << y;
            EXPECT_GT(c.Red(), kEdge.Red()) << x << "," << y;
            EXPECT_LT(c.Green(), kEdge.Green()) << x << "," << y;
        }
    }
    EXPECT_GT(mixed, 0);
}

TEST(UploadListCorners, TheOtherThreeAreMirrorImagesOfTheFirst) {
    CUploadListCorners corners;
    corners.Render(12, 4, kEdge, kInside, kOutside);
    const CUIImage& tl = corners.Image(CUploadListCorners::TopLeft);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            EXPECT_EQ(corners.Image(CUploadListCorners::TopRight).GetPixel(11 - x, y), tl.GetPixel(x, y));
            EXPECT_EQ(corners.Image(CUploadListCorners::BottomLeft).GetPixel(x, 11 - y), tl.GetPixel(x, y));
            EXPECT_EQ(corners.Image(CUploadListCorners::BottomRight).GetPixel(11 - x, 11 - y),
                      tl.GetPixel(x, y));
            EXPECT_EQ(Shows(corners, CUploadListCorners::BottomRight, 11 - x, 11 - y),
                      Shows(corners, CUploadListCorners::TopLeft, x, y));
        }
    }
}

TEST(UploadListCorners, ANewColourRendersTheCornersAgain) {
    CUploadListCorners corners;
    corners.Render(12, 4, kEdge, kInside, kOutside);
    const CUIColor drop(0xe0, 0x20, 0x20);
    corners.Render(12, 4, drop, kInside, kOutside);
    EXPECT_EQ(corners.Image(CUploadListCorners::BottomRight).GetPixel(6, 6), drop);
}

} // namespace
