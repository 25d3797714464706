#include "pictures/file_type_icon_provider.h"

#include "platform/file_type_icon.h"

#include <vector>

namespace {

// An icon pixel counts as opaque from half coverage on: the mask has no levels in between.
constexpr uint32_t kOpaqueAlpha = 0x80;

// A plain page with a folded corner, for a theme without icons.
void DrawPage(int size, std::vector<uint32_t>& pixels) {
    pixels.assign(size_t(size) * size_t(size), 0);
    const int left = size / 6, right = size - size / 6 - 1, top = 0, bottom = size - 1;
    const int fold = size / 4;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            if (x > right - fold + (y - top))
                continue; // cut off by the fold
            const bool edge = x == left || x == right || y == top || y == bottom || x == right - fold + (y - top);
            pixels[size_t(y) * size_t(size) + size_t(x)] = edge ? 0xFF606060u : 0xFFFFFFFFu;
        }
    }
}

} // namespace

std::string CFileTypeIconProvider::GetTypeKey(const std::string& path) {
    return platform::GetFileContentType(path);
}

CImagePair CFileTypeIconProvider::Get(const CSizeSpec& size, const std::string& path, int& flags) {
    flags &= ~kImageOutFlags;
    const int cell = size.cellSize;
    if (cell <= 0)
        return {};
    std::vector<uint32_t> pixels;
    if (!platform::DrawFileTypeIcon(platform::GetFileContentType(path), size.open, cell, pixels))
        DrawPage(cell, pixels);

    CImagePair image;
    image.picture = CUIImage(cell, cell);
    image.mask = CUIImage(cell, cell);
    for (int y = 0; y < cell; ++y) {
        for (int x = 0; x < cell; ++x) {
            const uint32_t pixel = pixels[size_t(y) * size_t(cell) + size_t(x)];
            const bool opaque = (pixel >> 24) >= kOpaqueAlpha;
            image.mask.SetPixel(x, y, opaque ? CUIColor(0, 0, 0) : CUIColor(255, 255, 255));
            if (opaque)
                image.picture.SetPixel(x, y, CUIColor(uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)));
        }
    }
    flags |= kImageComplete;
    return image;
}
