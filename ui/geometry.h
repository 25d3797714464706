// Points, sizes and rectangles of the window toolkit, in pixels. A rectangle holds its left and top
// edges and the edges just past its right and bottom, as native window rectangles do, so that its
// width is right - left and an empty rectangle has right <= left or bottom <= top.
#pragma once

#include <algorithm>

struct CUIPoint {
    int x = 0;
    int y = 0;

    friend bool operator==(const CUIPoint&, const CUIPoint&) = default;
};

struct CUISize {
    int cx = 0;
    int cy = 0;

    friend bool operator==(const CUISize&, const CUISize&) = default;
};

struct CUIRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static CUIRect FromSize(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(CUIPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    CUIRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    // The common part of both; empty (all zero) when they do not overlap.
    CUIRect Intersect(const CUIRect& other) const {
        CUIRect r{(std::max)(left, other.left), (std::max)(top, other.top), (std::min)(right, other.right),
                  (std::min)(bottom, other.bottom)};
        return r.IsEmpty() ? CUIRect{} : r;
    }

    friend bool operator==(const CUIRect&, const CUIRect&) = default;
};
