// Helpers of the drawing tests: counting what a memory surface shows.
#pragma once

#include "foundation/trace.h"
#include "ui/drawable.h"

#include <string>

#include <gtest/gtest.h>

namespace drawing_test {

inline const CUIColor kWhite(255, 255, 255);
inline const CUIColor kBlack(0, 0, 0);
inline const CUIColor kRed(255, 0, 0);
inline const CUIColor kBlue(0, 0, 255);

// Pixels inside (or, with inside false, outside) the rectangle that are not the colour.
inline int CountDiffering(CUIDrawable& d, CUIRect area, CUIColor color, CUISize surface, bool inside = true) {
    int count = 0;
    for (int y = 0; y < surface.cy; ++y) {
        for (int x = 0; x < surface.cx; ++x) {
            if (area.Contains({x, y}) != inside)
                continue;
            if (d->GetPixel({x, y}) != color)
                ++count;
        }
    }
    return count;
}

inline int CountEqual(CUIDrawable& d, CUIRect area, CUIColor color) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x)
            count += d->GetPixel({x, y}) == color;
    }
    return count;
}

// Whatever the "ui" trace category writes while it lives.
class CTraceCapture {
public:
    CTraceCapture() {
        SetTraceCategories("ui");
        testing::internal::CaptureStderr();
    }
    ~CTraceCapture() {
        if (!m_taken)
            testing::internal::GetCapturedStderr();
        SetTraceCategories("");
    }
    std::string Take() {
        m_taken = true;
        return testing::internal::GetCapturedStderr();
    }

private:
    bool m_taken = false;
};

} // namespace drawing_test
