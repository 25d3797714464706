#include "views/upload_list_corners.h"

#include <algorithm>
#include <cmath>

namespace {

// inside where the inner disk covers, the edge between the disks, outside beyond the outer one.
uint8_t Mix(uint8_t inside, uint8_t edge, uint8_t outside, int in, int out) {
    const int value = (inside * in + edge * (out - in) + outside * (255 - out) + 127) / 255;
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

} // namespace

int CUploadListCorners::Coverage(int x, int y, double cx, double cy, double radius) {
    int covered = 0;
    for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
            const double px = x + (sx + 0.5) / kSamples - cx;
            const double py = y + (sy + 0.5) / kSamples - cy;
            if (px * px + py * py <= radius * radius)
                ++covered;
        }
    }
    return covered * 255 / (kSamples * kSamples);
}

void CUploadListCorners::Render(int radius, int edge, CUIColor edgeColor, CUIColor inside, CUIColor outside) {
    const int r = std::max(radius, 0);
    const double inner = std::max(0, r - edge);
    CUIImage topLeft(r, r);
    CUIImage topLeftMask(r, r);
    for (int y = 0; y < r; ++y) {
        for (int x = 0; x < r; ++x) {
            const int out = Coverage(x, y, r, r, r);
            const int in = Coverage(x, y, r, r, inner);
            topLeft.SetPixel(x, y,
                             CUIColor(Mix(inside.Red(), edgeColor.Red(), outside.Red(), in, out),
                                      Mix(inside.Green(), edgeColor.Green(), outside.Green(), in, out),
                                      Mix(inside.Blue(), edgeColor.Blue(), outside.Blue(), in, out)));
            topLeftMask.SetPixel(x, y, out >= kOpaqueCoverage ? CUIColor(0, 0, 0) : CUIColor(255, 255, 255));
        }
    }
    // The other three are mirror images of the first.
    for (int corner = 0; corner < 4; ++corner) {
        CUIImage image(r, r);
        CUIImage mask(r, r);
        for (int y = 0; y < r; ++y) {
            for (int x = 0; x < r; ++x) {
                const int sx = (corner & TopRight) ? r - 1 - x : x;
                const int sy = (corner & BottomLeft) ? r - 1 - y : y;
                image.SetPixel(x, y, topLeft.GetPixel(sx, sy));
                mask.SetPixel(x, y, topLeftMask.GetPixel(sx, sy));
            }
        }
        m_images[corner] = std::move(image);
        m_masks[corner] = std::move(mask);
    }
}
