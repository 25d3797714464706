#include "views/upload_list_layout.h"

#include <gtest/gtest.h>

namespace {

UploadListLayoutInput Input(int width, int height) {
    UploadListLayoutInput in{};
    in.client = {width, height};
    in.dialogFontHeight = 13;
    in.iconTitleFontHeight = 15;
    in.remove = {80, 24};
    in.pause = {70, 24};
    in.resume = {90, 24}; // wider than pause: it sets the spacing
    in.retry = {60, 24};
    in.choose = {140, 26};
    in.preferences = {90, 20};
    return in;
}

TEST(UploadListLayout, PlacesEveryPieceForAGivenSize) {
    const UploadListLayout l = ComputeUploadListLayout(Input(600, 400));
    // The button row sits 32 pixels above the bottom edge; buttons 6 apart from the right.
    EXPECT_EQ(l.remove, (CUIRect{510, 364, 590, 388}));
    EXPECT_EQ(l.resume, (CUIRect{414, 364, 504, 388}));
    EXPECT_EQ(l.pause, (CUIRect{414, 364, 484, 388})); // same place, its own width
    EXPECT_EQ(l.retry, (CUIRect{348, 364, 408, 388}));
    EXPECT_EQ(l.preferences, (CUIRect{10, 364, 100, 384}));
    EXPECT_EQ(l.choose, (CUIRect{450, 16, 590, 42}));
    // Header: the button's height + 12 beats the font's + 6, plus 6.
    EXPECT_EQ(l.header, (CUIRect{4, 4, 596, 48}));
    EXPECT_EQ(l.headerText, (CUIRect{10, 4, 444, 48}));
    EXPECT_EQ(l.columnTitles, (CUIRect{4, 48, 596, 67}));
    // Footer: twice the larger font + 14, its top 44 above the button row's area.
    EXPECT_EQ(l.footer, (CUIRect{4, 308, 596, 352}));
    EXPECT_EQ(l.footerRight, (CUIRect{390, 308, 590, 352}));
    EXPECT_EQ(l.footerLeft, (CUIRect{10, 308, 384, 352}));
    EXPECT_EQ(l.list, (CUIRect{4, 48, 596, 308}));
    EXPECT_EQ(l.rows, (CUIRect{4, 67, 596, 308}));
}

TEST(UploadListLayout, LargerFontsDecideTheBands) {
    UploadListLayoutInput in = Input(600, 400);
    in.iconTitleFontHeight = 40; // now the font, not the button, sets the header
    in.dialogFontHeight = 20;
    const UploadListLayout l = ComputeUploadListLayout(in);
    EXPECT_EQ(l.header.Height(), 40 + 6 + 6);
    EXPECT_EQ(l.columnTitles.Height(), 44);
    EXPECT_EQ(l.footer.Height(), 2 * 40 + 14);
    EXPECT_EQ(l.footer.top, 400 - 4 - 94 - 44);
}

TEST(UploadListLayout, ATinyWindowGivesEmptyAreasNeverInvertedOnes) {
    for (CUISize size : {CUISize{50, 50}, CUISize{0, 0}, CUISize{120, 130}}) {
        const UploadListLayout l = ComputeUploadListLayout(Input(size.cx, size.cy));
        for (const CUIRect& r : {l.header, l.headerText, l.columnTitles, l.list, l.rows, l.footer, l.footerLeft,
                                 l.footerRight}) {
            EXPECT_GE(r.Width(), 0) << size.cx << "x" << size.cy;
            EXPECT_GE(r.Height(), 0) << size.cx << "x" << size.cy;
        }
        EXPECT_TRUE(l.list.IsEmpty() || size.cy >= 130);
    }
    const UploadListLayout l = ComputeUploadListLayout(Input(50, 50));
    EXPECT_EQ(l.list.Height(), 0);
    EXPECT_EQ(l.rows.top, l.list.top); // the rows never start below the list's end
}

} // namespace
