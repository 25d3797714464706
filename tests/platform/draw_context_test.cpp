// The cairo drawing target as a paint hands it over: already clipped to the damaged area, with state
// of its owner's that must survive the context.
#include "platform/draw_context.h"

#include <cairo.h>

#include <gtest/gtest.h>

namespace {

uint32_t PixelAt(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    return reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(surface))[x] &
           0xffffff;
}

TEST(CairoDrawContext, KeepsThePaintsClipAndRestoresItsState) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 20, 20);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    // The damaged area of the paint.
    cairo_rectangle(cr, 0, 0, 10, 20);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, 0, 1, 0);
    {
        auto context = platform::DrawContext::FromNative(cr);
        EXPECT_EQ(context->GetNative(), cr);
        EXPECT_FALSE(context->GetClip()) << "no region of the context's own yet";
        auto red = platform::CreateSolidBrush(0x0000ff);
        context->SelectBrush(red.get());
        context->IntersectClip({5, 0, 20, 20});
        context->FillRect({0, 0, 20, 10});
        context->SelectClip(std::nullopt);
        context->FillRect({0, 10, 20, 20});
        context->SelectBrush(nullptr);
    }
    EXPECT_EQ(PixelAt(surface, 2, 5), 0xffffffu) << "outside the context's region";
    EXPECT_EQ(PixelAt(surface, 7, 5), 0xff0000u);
    EXPECT_EQ(PixelAt(surface, 12, 5), 0xffffffu) << "outside the paint's clip";
    EXPECT_EQ(PixelAt(surface, 2, 15), 0xff0000u) << "no region of its own: the paint's clip";
    EXPECT_EQ(PixelAt(surface, 12, 15), 0xffffffu);
    // The owner's source and clip are as they were.
    cairo_paint(cr);
    EXPECT_EQ(PixelAt(surface, 2, 5), 0x00ff00u);
    EXPECT_EQ(PixelAt(surface, 12, 5), 0xffffffu);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

TEST(ClipRegion, SubtractLeavesDisjointPieces) {
    platform::ClipRegion region({0, 0, 10, 10});
    region.Subtract({3, 3, 6, 6});
    EXPECT_FALSE(region.Contains(4, 4));
    EXPECT_TRUE(region.Contains(0, 0));
    EXPECT_TRUE(region.Contains(9, 9));
    EXPECT_TRUE(region.Contains(6, 4));
    int area = 0;
    for (const platform::DrawRect& r : region.Rects())
        area += (r.right - r.left) * (r.bottom - r.top);
    EXPECT_EQ(area, 100 - 9) << "pieces do not overlap";
    region.Intersect({0, 0, 4, 4});
    EXPECT_TRUE(region.Contains(2, 2));
    EXPECT_FALSE(region.Contains(3, 3));
    region.Subtract({-5, -5, 50, 50});
    EXPECT_TRUE(region.IsEmpty());
}

} // namespace
