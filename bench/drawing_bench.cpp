// Painting speed of the drawing context: one full 800 x 600 own-drawn surface as a thumbnail view
// paints it (a background, 60 framed 48 x 48 masked thumbnails, each with its name cut to its cell
// and its size text, clip pushed and popped per cell), and the rendering of one button template in
// new colours.

#include "platform/draw_context.h"
#include "ui/drawable.h"
#include "ui/image.h"
#include "ui/image_button.h"

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kColumns = 10;
constexpr int kRows = 6;
constexpr int kCellWidth = kWidth / kColumns;
constexpr int kCellHeight = kHeight / kRows;
constexpr int kThumb = 48;

CUIImage MakeThumbnail(int seed) {
    CUIImage image(kThumb, kThumb);
    for (int y = 0; y < kThumb; ++y) {
        for (int x = 0; x < kThumb; ++x)
            image.SetPixel(x, y,
                           CUIColor(uint8_t(x * 5 + seed), uint8_t(y * 5), uint8_t((x + y) * 2 + seed * 7)));
    }
    return image;
}

// A landscape picture inside its square: opaque band in the middle, the rest transparent.
CUIImage MakeMask() {
    CUIImage mask(kThumb, kThumb);
    mask.Fill(CUIColor(255, 255, 255));
    mask.FillRect({0, 8, kThumb, kThumb - 8}, CUIColor(0, 0, 0));
    return mask;
}

void PaintThumbnailView(benchmark::State& state) {
    auto surface = platform::CreateNativeImage(kWidth, kHeight);
    std::vector<CUIImage> thumbnails;
    for (int i = 0; i < kColumns * kRows; ++i)
        thumbnails.push_back(MakeThumbnail(i));
    CUIImage mask = MakeMask();
    std::vector<std::string> names;
    for (int i = 0; i < kColumns * kRows; ++i)
        names.push_back("Holiday picture number " + std::to_string(i + 1) + ".jpg");
    CUIFont font = CUIFont::FromSpec("Verdana-normal-11");
    const CUIColor page(255, 255, 255);
    const CUIColor edge(0x99, 0x99, 0xcc);
    const CUIColor ink(0, 0, 0);
    for (auto _ : state) {
        CUIDrawable d(platform::DrawContext::FromImage(*surface));
        d->SetColor(page);
        d->FillRect({0, 0, kWidth, kHeight});
        d->SetFont(font);
        int dots = d->MeasureText("...").cx;
        for (int i = 0; i < kColumns * kRows; ++i) {
            CUIRect cell = CUIRect::FromSize((i % kColumns) * kCellWidth, (i / kColumns) * kCellHeight,
                                             kCellWidth, kCellHeight);
            d->PushClip();
            d->IntersectClip(cell);
            d->SetColor(edge);
            d->FrameRect(CUIRect::FromSize(cell.left + 14, cell.top + 6, kThumb + 4, kThumb + 4));
            d->DrawImage({cell.left + 16, cell.top + 8}, thumbnails[i], &mask);
            d->SetColor(ink);
            const std::string& name = names[i];
            int room = kCellWidth - 4;
            std::string label = name;
            if (d->MeasureText(name).cx > room)
                label = name.substr(0, d->FitBytes(name, room - dots)) + "...";
            d->DrawText(CUIRect::FromSize(cell.left + 2, cell.top + 60, room, 16), label,
                        platform::kTextSingleLine);
            d->DrawText(CUIRect::FromSize(cell.left + 2, cell.top + 78, room, 16), "1.23MB",
                        platform::kTextSingleLine | platform::kTextCenter);
            d->PopClip();
        }
        benchmark::DoNotOptimize(d->GetPixel({1, 1}));
    }
    state.SetItemsProcessed(state.iterations() * kColumns * kRows);
}
BENCHMARK(PaintThumbnailView)->Unit(benchmark::kMillisecond);

void RenderButtonTemplate(benchmark::State& state) {
    CUIImage templateImage(156, 28);
    for (int y = 0; y < 28; ++y) {
        for (int x = 0; x < 156; ++x)
            templateImage.SetPixel(x, y, CUIColor(uint8_t(x * 3), uint8_t(y * 9), uint8_t(x + y)));
    }
    for (auto _ : state) {
        CUIImage out =
            CUIImageButton::Render(templateImage, CUIColor(0xee, 0xee, 0xee), CUIColor(255, 255, 255),
                                   CUIColor(0x99, 0x99, 0xcc), {1, 1}, {-1, -1}, 255);
        benchmark::DoNotOptimize(out.Bits());
    }
}
BENCHMARK(RenderButtonTemplate)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
