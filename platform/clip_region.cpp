#include "platform/draw_context.h"

#include <algorithm>

namespace platform {
namespace {

// Far beyond any device, yet small enough for every drawing back end's fixed-point coordinates.
constexpr int kEverything = 1 << 22;

DrawRect Intersection(const DrawRect& a, const DrawRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

} // namespace

ClipRegion::ClipRegion(const DrawRect& rect) {
    if (!rect.IsEmpty())
        m_rects.push_back(rect);
}

ClipRegion ClipRegion::Everything() {
    return ClipRegion(DrawRect{-kEverything, -kEverything, kEverything, kEverything});
}

void ClipRegion::Intersect(const DrawRect& rect) {
    std::vector<DrawRect> kept;
    for (const DrawRect& r : m_rects) {
        DrawRect common = Intersection(r, rect);
        if (!common.IsEmpty())
            kept.push_back(common);
    }
    m_rects = std::move(kept);
}

void ClipRegion::Subtract(const DrawRect& rect) {
    if (rect.IsEmpty())
        return;
    std::vector<DrawRect> kept;
    for (const DrawRect& r : m_rects) {
        DrawRect hole = Intersection(r, rect);
        if (hole.IsEmpty()) {
            kept.push_back(r);
            continue;
        }
        // The band above the hole, the band below it, and the pieces left and right of it.
        DrawRect pieces[] = {{r.left, r.top, r.right, hole.top},
                             {r.left, hole.bottom, r.right, r.bottom},
                             {r.left, hole.top, hole.left, hole.bottom},
                             {hole.right, hole.top, r.right, hole.bottom}};
        for (const DrawRect& piece : pieces) {
            if (!piece.IsEmpty())
                kept.push_back(piece);
        }
    }
    m_rects = std::move(kept);
}

bool ClipRegion::Contains(int x, int y) const {
    return std::any_of(m_rects.begin(), m_rects.end(), [&](const DrawRect& r) {
        return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    });
}

} // namespace platform
