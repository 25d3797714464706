// The system's colours by their Win32 indices (COLOR_WINDOW, COLOR_HIGHLIGHT, ...), read from the
// desktop's theme when a display is open and from the classic defaults otherwise.
#pragma once

#include <cstdint>

namespace platform {

// Indices the toolkit uses.
enum SystemColorIndex : int {
    kColorScrollBar = 0,
    kColorBackground = 1,
    kColorActiveCaption = 2,
    kColorInactiveCaption = 3,
    kColorMenu = 4,
    kColorWindow = 5,
    kColorWindowFrame = 6,
    kColorMenuText = 7,
    kColorWindowText = 8,
    kColorCaptionText = 9,
    kColorActiveBorder = 10,
    kColorInactiveBorder = 11,
    kColorAppWorkspace = 12,
    kColorHighlight = 13,
    kColorHighlightText = 14,
    kColorBtnFace = 15,
    kColorBtnShadow = 16,
    kColorGrayText = 17,
    kColorBtnText = 18,
    kColorInactiveCaptionText = 19,
    kColorBtnHighlight = 20,
    kColor3DDkShadow = 21,
    kColor3DLight = 22,
    kColorInfoText = 23,
    kColorInfoBk = 24,
    kSystemColorCount = 25,
};

// The colour packed with red in the low byte; black for an index outside the table.
uint32_t GetSysColor(int index);

// Reads the theme again (after the desktop's settings changed).
void RefreshSystemColors();

} // namespace platform
