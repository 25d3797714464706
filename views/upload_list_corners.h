// The upload list frame's four rounded corners: quarter circles of the frame's radius, the frame's
// band anti-aliased against the colour inside it and the colour outside, with a mask that leaves out
// the pixels the circle covers less than 192 of 255 (so the background shows there instead of a
// faint fringe). Rendered once per colour and drawn at every paint.
#pragma once

#include "ui/color.h"
#include "ui/image.h"

#include <array>

class CUploadListCorners {
public:
    enum Corner { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };

    static constexpr int kOpaqueCoverage = 192; // of 255
    static constexpr int kSamples = 4;          // per side of a pixel when coverage is measured

    // `radius` x `radius` images; `edge` is the band's thickness.
    void Render(int radius, int edge, CUIColor edgeColor, CUIColor inside, CUIColor outside);

    const CUIImage& Image(Corner corner) const { return m_images[corner]; }
    // Black where the image shows, white where it is left out.
    const CUIImage& Mask(Corner corner) const { return m_masks[corner]; }

    // How much of the pixel at (x, y) a disk of `radius` around (cx, cy) covers, 0 to 255.
    static int Coverage(int x, int y, double cx, double cy, double radius);

private:
    std::array<CUIImage, 4> m_images{CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0)};
    std::array<CUIImage, 4> m_masks{CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0)};
};
