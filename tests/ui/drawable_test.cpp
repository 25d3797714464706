#include "drawing_test_support.h"
#include "ui/drawable.h"
#include "ui/image.h"

#include <gtest/gtest.h>

using namespace drawing_test;

namespace {

constexpr CUISize kSurface{40, 30};

CUIDrawable Surface() {
    return CUIDrawable::ForMemory(kSurface.cx, kSurface.cy);
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(DeviceClamp, Rules) {
    struct Case {
        CUIRect rect;
        bool drawn;
        CUIRect result;
        bool widthCut;
        bool heightCut;
    };
    const Case cases[] = {
        {CUIRect::FromSize(16299, 0, 10, 5), true, {16299, 0, 16300, 5}, true, false}, // one pixel left
        {CUIRect::FromSize(16300, 0, 10, 5), false, {}, false, false},                 // starts at the limit
        {CUIRect::FromSize(0, 16300, 5, 1), false, {}, false, false},
        {CUIRect::FromSize(3, 16290, 5, 100), true, {3, 16290, 8, 16300}, false, true},
        {{-20, -20, -1, 5}, false, {}, false, false},             // right edge negative
        {{-20, -20, 0, 5}, true, {-20, -20, 0, 5}, false, false}, // right edge at 0 is kept
        {{-20, -20, 5, -1}, false, {}, false, false},             // bottom edge negative
        {{5, 5, 5, 9}, false, {}, false, false},                  // zero width
        {{5, 5, 9, 5}, false, {}, false, false},                  // zero height
        {{0, 0, 20000, 20000}, true, {0, 0, 16300, 16300}, true, true},
    };
    for (const Case& c : cases) {
        auto clamped = ClampDeviceRect(c.rect);
        ASSERT_EQ(clamped.has_value(), c.drawn) << c.rect.left << "," << c.rect.top;
        if (!clamped)
            continue;
        EXPECT_EQ(clamped->rect, c.result);
        EXPECT_EQ(clamped->widthCut, c.widthCut);
        EXPECT_EQ(clamped->heightCut, c.heightCut);
    }
}

TEST(Drawable, FillsInTheCurrentColourAtTheWindowsOrigin) {
    CUIDrawable d = Surface();
    d->SetColor(kRed);
    d->FillRect({5, 5, 15, 10});
    EXPECT_EQ(CountDiffering(d, {5, 5, 15, 10}, kRed, kSurface), 0);
    EXPECT_EQ(CountDiffering(d, {5, 5, 15, 10}, kWhite, kSurface, false), 0);

    d->SetOrigin({20, 10});
    d->SetPackedColor(0xff0000); // blue
    d->FillRect({0, 0, 4, 4});
    EXPECT_EQ(d->GetPixel({0, 0}), kBlue) << "window coordinates";
    d->SetOrigin({});
    EXPECT_EQ(d->GetPixel({20, 10}), kBlue);
    EXPECT_EQ(d->GetPixel({23, 13}), kBlue);
    EXPECT_EQ(d->GetPixel({24, 14}), kWhite);
}

TEST(Drawable, NativeStateIsRebuiltOnlyForTheCallsThatNeedIt) {
    CUIDrawable d = Surface();
    d->SetColor(kRed);
    CUIImage image(2, 2);
    d->DrawImage({0, 0}, image);
    EXPECT_EQ(d->GetDirtyFlags(), CUIDrawableRep::kDirtyColor) << "drawing an image needs no colour";
    d->SetFont(CUIFont::kDialogFont);
    d->MeasureText("x");
    EXPECT_EQ(d->GetDirtyFlags(), CUIDrawableRep::kDirtyColor) << "measuring needs only the font";
    d->FillRect({0, 0, 1, 1});
    EXPECT_EQ(d->GetDirtyFlags(), 0u);
    EXPECT_EQ(d->GetSelectedBrushKind(), CUIDrawableRep::BrushKind::Solid);
    uint8_t rows[8] = {};
    d->SetPattern(rows);
    EXPECT_EQ(d->GetDirtyFlags(), CUIDrawableRep::kDirtyPattern);
    d->SetTexture(image);
    d->FillRect({0, 0, 1, 1});
    EXPECT_EQ(d->GetSelectedBrushKind(), CUIDrawableRep::BrushKind::PatternOnTexture);
    d->ClearPattern();
    d->FillRect({0, 0, 1, 1});
    EXPECT_EQ(d->GetSelectedBrushKind(), CUIDrawableRep::BrushKind::Texture);
    d->ClearTexture();
    d->FillRect({0, 0, 1, 1});
    EXPECT_EQ(d->GetSelectedBrushKind(), CUIDrawableRep::BrushKind::Solid);
    EXPECT_FALSE(d->SetPalette(nullptr)) << "a true-colour surface has no palette to realise";
}

TEST(Drawable, ColourChangesShowInTheNextFill) {
    CUIDrawable d = Surface();
    d->SetColor(kRed);
    d->FillRect({0, 0, 10, 10});
    d->SetColor(kBlue);
    d->FillRect({0, 0, 5, 5});
    EXPECT_EQ(d->GetPixel({1, 1}), kBlue);
    EXPECT_EQ(d->GetPixel({7, 7}), kRed);
}

TEST(Drawable, CopiesShareOneContext) {
    CUIDrawable a = Surface();
    {
        CUIDrawable b = a;
        b->SetColor(kRed);
        b->FillRect({0, 0, 2, 2});
        CUIDrawable c = Surface();
        c = b;
        EXPECT_EQ(&*c, &*a);
    }
    EXPECT_EQ(a->GetPixel({1, 1}), kRed);
    EXPECT_EQ(a->GetColor(), kRed);
}

TEST(DrawableClamp, DrawsUpToTheLastAddressablePixel) {
    const CUISize wide{16310, 2};
    CUIDrawable d = CUIDrawable::ForMemory(wide.cx, wide.cy);
    d->SetColor(kRed);
    d->FillRect(CUIRect::FromSize(16299, 0, 10, 1));
    EXPECT_EQ(CountEqual(d, {16280, 0, 16310, 1}, kRed), 1);
    EXPECT_EQ(d->GetPixel({16299, 0}), kRed);
    d->FillRect(CUIRect::FromSize(16300, 1, 10, 1));
    EXPECT_EQ(CountEqual(d, {16280, 1, 16310, 2}, kRed), 0);
    // Through the window's transform too.
    d->SetOrigin({16000, 0});
    d->FillRect(CUIRect::FromSize(300, 1, 10, 1));
    d->SetOrigin({});
    EXPECT_EQ(CountEqual(d, {16280, 1, 16310, 2}, kRed), 0);
    d->SetOrigin({16000, 0});
    d->FillRect(CUIRect::FromSize(299, 1, 10, 1));
    d->SetOrigin({});
    EXPECT_EQ(CountEqual(d, {16280, 1, 16310, 2}, kRed), 1);
}

TEST(DrawableFrame, IsDrawnAsOnePixelStrips) {
    CUIDrawable d = Surface();
    d->SetColor(kRed);
    d->FrameRect({5, 5, 15, 12});
    for (int x = 5; x < 15; ++x) {
        EXPECT_EQ(d->GetPixel({x, 5}), kRed) << x;
        EXPECT_EQ(d->GetPixel({x, 11}), kRed) << x;
    }
    for (int y = 5; y < 12; ++y) {
        EXPECT_EQ(d->GetPixel({5, y}), kRed) << y;
        EXPECT_EQ(d->GetPixel({14, y}), kRed) << y;
    }
    EXPECT_EQ(CountDiffering(d, {6, 6, 14, 11}, kWhite, kSurface), 0) << "the inside stays";
    EXPECT_EQ(CountDiffering(d, {5, 5, 15, 12}, kWhite, kSurface, false), 0) << "nothing outside";

    CUIDrawable thin = Surface();
    thin->SetColor(kBlue);
    thin->FrameRect({3, 2, 4, 9}); // one pixel wide: one strip
    EXPECT_EQ(CountDiffering(thin, {3, 2, 4, 9}, kBlue, kSurface), 0);
    thin->FrameRect({10, 20, 30, 21}); // one pixel high: the top edge alone
    EXPECT_EQ(CountDiffering(thin, {10, 20, 30, 21}, kBlue, kSurface), 0);
    EXPECT_EQ(CountEqual(thin, {0, 0, kSurface.cx, kSurface.cy}, kBlue), 7 + 20) << "nothing else";
}

TEST(DrawableFrame, EdgesCutOffByTheClampAreNotDrawnAtTheCut) {
    const CUISize wide{16310, 12};
    CUIDrawable d = CUIDrawable::ForMemory(wide.cx, wide.cy);
    d->SetColor(kRed);
    d->FrameRect({16290, 2, 16320, 10});
    EXPECT_EQ(CountEqual(d, {16280, 0, 16310, 12}, kRed), 10 + 10 + 6) << "top, bottom, left";
    EXPECT_EQ(d->GetPixel({16295, 2}), kRed) << "top";
    EXPECT_EQ(d->GetPixel({16295, 9}), kRed) << "bottom";
    EXPECT_EQ(d->GetPixel({16290, 5}), kRed) << "left";
    EXPECT_EQ(d->GetPixel({16299, 5}), kWhite) << "the right edge lies beyond the device";
}

TEST(DrawableClip, IntersectExcludeAndExcludeOutside) {
    CUIDrawable d = Surface();
    d->IntersectClip({10, 10, 20, 20});
    d->SetColor(kRed);
    d->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(d, {10, 10, 20, 20}, kRed, kSurface), 0);
    EXPECT_EQ(CountDiffering(d, {10, 10, 20, 20}, kWhite, kSurface, false), 0);

    CUIDrawable e = Surface();
    e->ExcludeClip({10, 10, 20, 20});
    e->SetColor(kBlue);
    e->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(e, {10, 10, 20, 20}, kWhite, kSurface), 0);
    EXPECT_EQ(CountDiffering(e, {10, 10, 20, 20}, kBlue, kSurface, false), 0);

    CUIDrawable f = Surface();
    f->SetOrigin({2, 1});
    f->ExcludeOutside({3, 4, 13, 9});
    f->SetColor(kBlue);
    f->FillRect({-2, -1, 38, 29});
    f->SetOrigin({});
    EXPECT_EQ(CountDiffering(f, {5, 5, 15, 10}, kBlue, kSurface), 0);
    EXPECT_EQ(CountDiffering(f, {5, 5, 15, 10}, kWhite, kSurface, false), 0);

    // A rectangle the device cannot address leaves nothing to draw in.
    CUIDrawable g = Surface();
    g->IntersectClip({16300, 0, 16400, 10});
    g->SetColor(kRed);
    g->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(g, {0, 0, 40, 30}, kWhite, kSurface), 0);
}

TEST(DrawableClip, PushAndPopRestoreTheRegion) {
    CUIDrawable d = Surface();
    d->IntersectClip({0, 0, 20, 30});
    d->PushClip();
    d->IntersectClip({0, 0, 10, 30});
    d->PopClip();
    d->SetColor(kRed);
    d->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(d, {0, 0, 20, 30}, kRed, kSurface), 0);
    EXPECT_EQ(CountDiffering(d, {0, 0, 20, 30}, kWhite, kSurface, false), 0);
    EXPECT_EQ(d->GetClipDepth(), 0);
}

TEST(DrawableClip, PopOfAPushWithoutRegionRemovesClipping) {
    CUIDrawable d = Surface();
    d->PushClip();
    d->IntersectClip({0, 0, 5, 5});
    d->ExcludeClip({1, 1, 2, 2});
    d->PopClip();
    d->SetColor(kRed);
    d->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(d, {0, 0, 40, 30}, kRed, kSurface), 0);
}

TEST(DrawableClip, NinthPushAndPopAtDepthZeroChangeNothing) {
    CUIDrawable d = Surface();
    CTraceCapture trace;
    d->PopClip();
    EXPECT_EQ(d->GetClipDepth(), 0);
    for (int i = 0; i < 8; ++i)
        d->PushClip();
    d->IntersectClip({0, 0, 10, 10});
    d->PushClip(); // the ninth
    EXPECT_EQ(d->GetClipDepth(), 8);
    d->IntersectClip({0, 0, 5, 5});
    // Popping gives back the eighth slot's region (none), not the region set after the ninth push.
    d->PopClip();
    EXPECT_EQ(d->GetClipDepth(), 7);
    std::string text = trace.Take();
    EXPECT_EQ(Occurrences(text, "CUIDrawableRep: clip stack underflow\n"), 1u) << text;
    EXPECT_EQ(Occurrences(text, "CUIDrawableRep: clip stack overflow\n"), 1u) << text;
    d->SetColor(kRed);
    d->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(d, {0, 0, 40, 30}, kRed, kSurface), 0);
    for (int i = 0; i < 7; ++i)
        d->PopClip();
}

TEST(DrawableClip, OverflowLeavesTheCurrentClip) {
    CUIDrawable d = Surface();
    for (int i = 0; i < 8; ++i)
        d->PushClip();
    d->IntersectClip({0, 0, 10, 10});
    {
        CTraceCapture quiet;
        d->PushClip();
    }
    d->SetColor(kRed);
    d->FillRect({0, 0, 40, 30});
    EXPECT_EQ(CountDiffering(d, {0, 0, 10, 10}, kRed, kSurface), 0);
    EXPECT_EQ(CountDiffering(d, {0, 0, 10, 10}, kWhite, kSurface, false), 0);
    for (int i = 0; i < 8; ++i)
        d->PopClip();
}

TEST(DrawableClip, ANonEmptyStackIsReportedAtTheEnd) {
    CTraceCapture trace;
    {
        CUIDrawable d = Surface();
        d->PushClip();
        d->IntersectClip({0, 0, 3, 3});
        d->PushClip();
    }
    std::string text = trace.Take();
    EXPECT_EQ(Occurrences(text, "CUIDrawableRep: clip stack not empty\n"), 1u) << text;
    CTraceCapture balanced;
    {
        CUIDrawable d = Surface();
        d->PushClip();
        d->PopClip();
    }
    EXPECT_EQ(balanced.Take(), "");
}

TEST(DrawableText, StaysInsideItsRectangle) {
    CUIDrawable d = Surface();
    d->SetFont(CUIFont::FromSpec("sansserif-bold-14"));
    d->SetColor(kBlack);
    CUIRect box{2, 4, 30, 24};
    d->DrawText(box, "Wide text that does not fit", platform::kTextSingleLine | platform::kTextVCenter);
    EXPECT_GT(CountDiffering(d, box, kWhite, kSurface), 20) << "some ink inside";
    EXPECT_EQ(CountDiffering(d, box, kWhite, kSurface, false), 0) << "none outside";
}

TEST(DrawableText, AlignmentMovesTheTextAroundThePoint) {
    CUIDrawable d = CUIDrawable::ForMemory(200, 40);
    d->SetFont(CUIFont::FromSpec("sansserif-normal-14"));
    d->SetColor(kBlack);
    d->SetTextAlign(2, 0); // right, top
    d->DrawText(CUIPoint{100, 5}, "Hello");
    EXPECT_GT(CountDiffering(d, {0, 0, 100, 40}, kWhite, {200, 40}), 10);
    EXPECT_EQ(CountDiffering(d, {100, 0, 200, 40}, kWhite, {200, 40}), 0);

    CUIDrawable e = CUIDrawable::ForMemory(200, 40);
    e->SetFont(CUIFont::FromSpec("sansserif-normal-14"));
    e->SetTextAlign(0, 2); // left, bottom
    e->DrawText(CUIPoint{100, 30}, "Hello");
    EXPECT_EQ(CountDiffering(e, {100, 0, 200, 30}, kWhite, {200, 40}, false), 0);
    EXPECT_GT(CountDiffering(e, {100, 0, 200, 30}, kWhite, {200, 40}), 10);
}

TEST(DrawableText, MeasuresAndFitsWholeCharacters) {
    CUIDrawable d = Surface();
    d->SetFont(CUIFont::FromSpec("sansserif-normal-13"));
    CUISize one = d->MeasureText("\xc3\xa9");
    CUISize two = d->MeasureText("\xc3\xa9\xc3\xa9");
    EXPECT_GT(one.cx, 0);
    EXPECT_GT(two.cx, one.cx);
    EXPECT_EQ(one.cy, two.cy);
    EXPECT_GT(d->MeasureText("").cy, 0) << "empty text still has the line's height";

    std::string five = "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9";
    EXPECT_EQ(d->FitCharacters(five, two.cx), 2);
    EXPECT_EQ(d->FitBytes(five, two.cx), 4u);
    EXPECT_EQ(d->FitCharacters(five, two.cx - 1), 1);
    EXPECT_EQ(d->FitCharacters(five, 0), 0);
    EXPECT_EQ(d->FitCharacters(five, 10000), 5);
    EXPECT_EQ(d->FitBytes(five, 10000), five.size());
}

TEST(DrawableText, BytesThatAreNotUtf8CountOneCharacterEach) {
    CUIDrawable d = Surface();
    d->SetFont(CUIFont::FromSpec("sansserif-normal-13"));
    // A file name in a single-byte code page: "caf\xe9" and a stray continuation byte.
    std::string name = "caf\xe9 \x80x.jpg";
    CUISize size = d->MeasureText(name);
    EXPECT_GT(size.cx, d->MeasureText("caf .jpg").cx);
    EXPECT_EQ(d->FitBytes(name, size.cx), name.size());
    EXPECT_EQ(d->FitCharacters(name, size.cx), 10);
    int prefix = d->MeasureText("caf?").cx;
    EXPECT_EQ(d->FitBytes(name, prefix), 4u);
    d->SetColor(kBlack);
    d->DrawText({0, 0, 40, 30}, name, platform::kTextSingleLine);
    EXPECT_GT(CountDiffering(d, {0, 0, 40, 30}, kWhite, kSurface), 10);
}

TEST(DrawableImage, MaskedImagesShowOnlyWhereTheMaskIsBlack) {
    CUIDrawable d = Surface();
    d->SetColor(kBlue);
    d->FillRect({0, 0, 40, 30});
    CUIImage picture(10, 10);
    picture.Fill(kRed);
    CUIImage mask(10, 10);
    mask.Fill(kWhite);
    mask.FillRect({2, 2, 8, 8}, kBlack);
    d->DrawImage({5, 5}, picture, &mask);
    EXPECT_EQ(CountDiffering(d, {7, 7, 13, 13}, kRed, kSurface), 0);
    EXPECT_EQ(CountDiffering(d, {7, 7, 13, 13}, kBlue, kSurface, false), 0);

    d->DrawImage({20, 0}, picture);
    EXPECT_EQ(CountDiffering(d, {20, 0, 30, 10}, kRed, kSurface), 0);
}

TEST(DrawableBrush, PatternTextureAndPatternOnTexture) {
    CUIDrawable d = Surface();
    const uint8_t checker[8] = {0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55};
    d->SetColor(kRed);
    d->SetPattern(checker);
    d->FillRect({0, 0, 16, 16});
    // Set bits (the leftmost pixel is the high bit) are white, clear bits take the colour.
    EXPECT_EQ(d->GetPixel({0, 0}), kWhite);
    EXPECT_EQ(d->GetPixel({1, 0}), kRed);
    EXPECT_EQ(d->GetPixel({0, 1}), kRed);
    EXPECT_EQ(d->GetPixel({9, 8}), kRed) << "the pattern repeats every 8 pixels";
    d->SetColor(kBlue);
    d->FillRect({0, 0, 2, 2});
    EXPECT_EQ(d->GetPixel({1, 0}), kBlue) << "a new colour rebuilds the pattern";

    CUIImage texture(2, 2);
    texture.SetPixel(0, 0, CUIColor(10, 20, 30));
    texture.SetPixel(1, 0, CUIColor(40, 50, 60));
    texture.SetPixel(0, 1, CUIColor(70, 80, 90));
    texture.SetPixel(1, 1, CUIColor(200, 100, 50));
    CUIDrawable t = Surface();
    t->SetTexture(texture);
    t->FillRect({0, 0, 6, 6});
    EXPECT_EQ(t->GetPixel({2, 2}), CUIColor(10, 20, 30)) << "tiles from the device origin";
    EXPECT_EQ(t->GetPixel({5, 4}), CUIColor(40, 50, 60));
    EXPECT_EQ(t->GetPixel({3, 3}), CUIColor(200, 100, 50));

    // Destination AND pattern: 1 bits let the texture through, 0 bits AND it with the colour.
    const uint8_t halves[8] = {0xf0, 0xf0, 0xf0, 0xf0, 0xf0, 0xf0, 0xf0, 0xf0};
    t->SetPattern(halves);
    t->SetColor(CUIColor(0x0f, 0xf0, 0x3c));
    t->FillRect({0, 0, 8, 2});
    EXPECT_EQ(t->GetPixel({1, 1}), CUIColor(200, 100, 50));
    EXPECT_EQ(t->GetPixel({5, 1}), CUIColor(200 & 0x0f, 100 & 0xf0, 50 & 0x3c));
    EXPECT_EQ(t->GetPixel({4, 0}), CUIColor(10 & 0x0f, 20 & 0xf0, 30 & 0x3c));
}

TEST(DrawableMode, InvertTurnsWhiteBlack) {
    CUIDrawable d = Surface();
    d->SetDrawingMode(2);
    d->FillRect({0, 0, 4, 4});
    EXPECT_EQ(d->GetPixel({1, 1}), kBlack);
    d->SetDrawingMode(0);
    d->SetColor(kRed);
    d->FillRect({0, 0, 2, 2});
    EXPECT_EQ(d->GetPixel({1, 1}), kRed);
    d->SetDrawingMode(7); // outside the table: ignored
    d->FillRect({2, 2, 3, 3});
    EXPECT_EQ(d->GetPixel({2, 2}), kRed);
}

} // namespace
