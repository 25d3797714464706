#include "platform/system_colors.h"
#include "ui/color.h"

#include <gtest/gtest.h>

namespace {

struct ColorCase {
    const char* text;
    uint32_t packed; // red in the low byte
};

TEST(UIColor, FromStringReadsHexAndNames) {
    const ColorCase cases[] = {
        {"#", 0x000000},                                 // no digits
        {"#12x", 0x000000},                              // something after the digits
        {"chartreuse", 0x000000},                        // not one of the sixteen names
        {"", 0x000000},           {"#FF0000", 0x0000ff}, // red
        {"RED", 0x0000ff},                               // names in any case
        {"#ff", 0xff0000},                               // one number: the low byte is blue
        {"#fff", 0xff0f00},                              // not the short CSS form: green 0x0f, blue 0xff
        {"#123456", 0x563412},    {"Silver", 0xc0c0c0},  {"navy", 0x800000},
    };
    for (const ColorCase& c : cases) {
        CUIColor color = CUIColor::FromString(c.text);
        EXPECT_EQ(color.GetPacked(), c.packed) << c.text;
        EXPECT_FALSE(color.IsSystem()) << c.text;
    }
}

TEST(UIColor, PacksRedInTheLowByte) {
    CUIColor color(0x12, 0x34, 0x56);
    EXPECT_EQ(color.GetPacked(), 0x563412u);
    EXPECT_EQ(color.Red(), 0x12);
    EXPECT_EQ(color.Green(), 0x34);
    EXPECT_EQ(color.Blue(), 0x56);
    EXPECT_EQ(CUIColor::FromPacked(0xff563412), color) << "bits above 24 are not colour";
}

TEST(UIColor, SystemColoursAreLookedUpWhenUsed) {
    CUIColor window = CUIColor::FromSystem(platform::kColorWindow);
    EXPECT_TRUE(window.IsSystem());
    EXPECT_EQ(window.GetSystemIndex(), platform::kColorWindow);
    // Without a display the classic colours stand: white windows, black window text.
    EXPECT_EQ(window.GetPacked(), 0xffffffu);
    EXPECT_EQ(CUIColor::FromSystem(platform::kColorWindowText).GetPacked(), 0u);
    EXPECT_NE(CUIColor::FromSystem(platform::kColorHighlight).GetPacked(),
              CUIColor::FromSystem(platform::kColorHighlightText).GetPacked());
    EXPECT_EQ(CUIColor::FromSystem(-1).GetPacked(), 0u);
    EXPECT_EQ(CUIColor::FromSystem(platform::kSystemColorCount).GetPacked(), 0u);
}

} // namespace
