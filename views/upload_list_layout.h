// Where the upload list view puts its pieces, worked out from the window's size, the heights of its
// two fonts and the sizes of its button bitmaps alone, so that it can be checked without a window.
#pragma once

#include "ui/geometry.h"

constexpr int kUploadListEdge = 4;          // the frame's thickness
constexpr int kUploadListCornerRadius = 12; // the frame's rounded corners
constexpr int kUploadListGap = 6;           // between buttons and from the frame
constexpr int kUploadListButtonRow = 32;    // the button row's height above the bottom edge
constexpr int kUploadListFooterRight = 200; // the progress bar's width

struct UploadListLayoutInput {
    CUISize client;          // the window's client area
    int dialogFontHeight;    // header text
    int iconTitleFontHeight; // column titles and rows
    CUISize remove, pause, resume, retry, choose, preferences; // button bitmap sizes
};

struct UploadListLayout {
    CUIRect remove, pause, resume, retry, choose, preferences; // buttons; pause and resume share a place
    CUIRect header;       // the band under the top edge, inside the frame
    CUIRect headerText;   // its part left of the "Choose pictures..." button
    CUIRect columnTitles; // the row of column titles under the header
    CUIRect list;         // between header and footer: the white page, titles included
    CUIRect rows;         // the part of the list under the column titles
    CUIRect footer;       // the band above the button row
    CUIRect footerLeft;   // the count of pictures left
    CUIRect footerRight;  // progress bar and time remaining, or the completion text
};

UploadListLayout ComputeUploadListLayout(const UploadListLayoutInput& input);
