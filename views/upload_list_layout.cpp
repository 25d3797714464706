#include "views/upload_list_layout.h"

#include <algorithm>

namespace {

// A rectangle whose far edges never come before its near ones: a window too small for the bands
// gives empty areas, not inverted ones that would paint outside their neighbours.
CUIRect Clamped(int left, int top, int right, int bottom) {
    return {left, top, (std::max)(left, right), (std::max)(top, bottom)};
}

} // namespace

UploadListLayout ComputeUploadListLayout(const UploadListLayoutInput& in) {
    const int width = in.client.cx;
    const int height = in.client.cy;
    const int edge = kUploadListEdge;
    const int gap = kUploadListGap;
    UploadListLayout out;

    // Bottom row, from the right: Remove, then Pause and Resume/Start in one place, then Retry.
    const int rowY = height - edge - kUploadListButtonRow;
    const int removeX = width - edge - in.remove.cx - gap;
    out.remove = CUIRect::FromSize(removeX, rowY, in.remove.cx, in.remove.cy);
    const int pauseX = removeX - gap - (std::max)(in.pause.cx, in.resume.cx);
    out.pause = CUIRect::FromSize(pauseX, rowY, in.pause.cx, in.pause.cy);
    out.resume = CUIRect::FromSize(pauseX, rowY, in.resume.cx, in.resume.cy);
    out.retry = CUIRect::FromSize(pauseX - gap - in.retry.cx, rowY, in.retry.cx, in.retry.cy);
    out.preferences = CUIRect::FromSize(edge + gap, rowY, in.preferences.cx, in.preferences.cy);

    out.choose = CUIRect::FromSize(width - edge - in.choose.cx - gap, edge + 12, in.choose.cx, in.choose.cy);

    const int headerHeight = (std::max)(in.iconTitleFontHeight + 6, in.choose.cy + 12) + 6;
    out.header = Clamped(edge, edge, width - edge, edge + headerHeight);
    out.headerText = Clamped(edge + gap, edge, out.choose.left - gap, out.header.bottom);
    out.columnTitles = Clamped(edge, out.header.bottom, width - edge, out.header.bottom + in.iconTitleFontHeight + 4);

    const int fontHeight = (std::max)(in.dialogFontHeight, in.iconTitleFontHeight);
    const int footerHeight = 2 * fontHeight + 14;
    const int footerTop = height - edge - footerHeight - 44;
    out.footer = Clamped(edge, footerTop, width - edge, footerTop + footerHeight);
    const int footerRightEnd = width - edge - gap;
    out.footerRight = Clamped(footerRightEnd - kUploadListFooterRight, footerTop, footerRightEnd, out.footer.bottom);
    out.footerLeft = Clamped(edge + gap, footerTop, out.footerRight.left - gap, out.footer.bottom);

    out.list = Clamped(edge, out.header.bottom, width - edge, footerTop);
    out.rows = Clamped(edge, (std::min)(out.columnTitles.bottom, out.list.bottom), width - edge, footerTop);
    return out;
}
