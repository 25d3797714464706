#include "ui/font.h"

#include <gtest/gtest.h>

namespace {

struct SpecCase {
    const char* spec;
    const char* face;
    int weight;
    bool italic;
    uint8_t pitchAndFamily;
    int height;
};

TEST(UIFontSpec, ParsesFamilyStyleAndSize) {
    const SpecCase cases[] = {
        {"Arial-bold-12", "Arial", 700, false, 0, -12},
        // A generic family sets pitch and family instead of a face.
        {"serif-boldItalic-20", "", 700, true, 0x12, -20},
        {"Verdana", "Verdana", 400, false, 0, 0},
        {"Verdana-normal-13", "Verdana", 400, false, 0, -13},
        {"fixed-italic-9", "", 400, true, 0x31, -9},
        {"sansserif-normal-11", "", 400, false, 0x22, -11},
        // An unknown style leaves the weight; a size that is not a number is the default height.
        {"Tahoma-heavy-x", "Tahoma", 400, false, 0, 0},
        // Style words are matched as written.
        {"Tahoma-Bold-10", "Tahoma", 400, false, 0, -10},
        // Only the first two dashes split.
        {"Times-italic-14-extra", "Times", 400, true, 0, -14},
        {"", "", 400, false, 0, 0},
        {"-bold", "", 700, false, 0, 0},
    };
    for (const SpecCase& c : cases) {
        platform::LogicalFont record = CUIFont::ParseSpec(c.spec);
        EXPECT_EQ(record.faceName, c.face) << c.spec;
        EXPECT_EQ(record.weight, c.weight) << c.spec;
        EXPECT_EQ(record.italic, c.italic) << c.spec;
        EXPECT_EQ(record.pitchAndFamily, c.pitchAndFamily) << c.spec;
        EXPECT_EQ(record.height, c.height) << c.spec;
        EXPECT_EQ(record.charSet, 1) << c.spec;
    }
}

TEST(UIFontSpec, LongFaceNamesAreCutWithoutSplittingCharacters) {
    // 30 ASCII bytes and then a two-byte character that would straddle the 31-byte room.
    std::string face = std::string(30, 'a') + "\xc3\xa9" + "-bold-10";
    EXPECT_EQ(CUIFont::ParseSpec(face).faceName, std::string(30, 'a'));
}

TEST(UIFont, FacesThatAreNotInstalledFallBack) {
    CUIFont verdana = CUIFont::FromSpec("Verdana-normal-13");
    ASSERT_FALSE(verdana.IsEmpty());
    EXPECT_TRUE(verdana.IsOwned());
    EXPECT_FALSE(verdana.GetNative()->GetResolvedFamily().empty());
    EXPECT_GT(verdana.GetHeight(), 10);

    CUIFont missing = CUIFont::FromSpec("NoSuchFaceAnywhere-normal-13");
    ASSERT_FALSE(missing.IsEmpty());
    EXPECT_NE(missing.GetNative()->GetResolvedFamily(), "NoSuchFaceAnywhere");
}

TEST(UIFont, SpecsChangeWhatIsDrawn) {
    std::string text = "The quick brown fox";
    auto width = [&](const char* spec) {
        CUIFont font = CUIFont::FromSpec(spec);
        return font.GetNative()->MeasureText(text).width;
    };
    EXPECT_GT(width("sansserif-bold-13"), width("sansserif-normal-13"));
    EXPECT_GT(width("sansserif-normal-20"), width("sansserif-normal-12"));
    EXPECT_GT(CUIFont::FromSpec("sansserif-normal-20").GetHeight(),
              CUIFont::FromSpec("sansserif-normal-12").GetHeight());
    // Every character of a fixed font is as wide as any other.
    CUIFont fixed = CUIFont::FromSpec("fixed-normal-12");
    EXPECT_EQ(fixed.GetNative()->MeasureText("iiii").width, fixed.GetNative()->MeasureText("WWWW").width);
    EXPECT_NE(CUIFont::FromSpec("serif-normal-12").GetNative()->GetResolvedFamily(),
              CUIFont::FromSpec("sansserif-normal-12").GetNative()->GetResolvedFamily());
}

TEST(UIFont, StandardKinds) {
    for (int kind = 0; kind <= 3; ++kind) {
        CUIFont font = CUIFont::FromStandard(kind);
        EXPECT_FALSE(font.IsEmpty()) << kind;
        EXPECT_GT(font.GetHeight(), 0) << kind;
    }
    EXPECT_FALSE(CUIFont::FromStandard(CUIFont::kSystemFont).IsOwned());
    EXPECT_TRUE(CUIFont::FromStandard(CUIFont::kIconTitleFont).IsOwned());
    EXPECT_TRUE(CUIFont::FromStandard(4).IsEmpty());
    EXPECT_TRUE(CUIFont::FromStandard(-1).IsEmpty());
    EXPECT_EQ(CUIFont().OrDialogFont(), CUIFont::FromStandard(CUIFont::kDialogFont));
    CUIFont fixed = CUIFont::FromStandard(CUIFont::kFixedFont).OrDialogFont();
    EXPECT_EQ(fixed, CUIFont::FromStandard(CUIFont::kFixedFont));
    EXPECT_EQ(fixed.GetNative()->MeasureText("iii").width, fixed.GetNative()->MeasureText("MMM").width);
}

} // namespace
