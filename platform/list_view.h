// A native list control with columns and a picture in front of each row, placed in a toolkit child
// window: the picture browser's details view. The control reports presses and activations (a double
// click, Enter) through callbacks that run inside the native event dispatch; callers post the work
// over to their own pump rather than doing it there.
//
// Threads: the UI thread only.
#pragma once

#include "platform/native_handles.h"
#include "ui/geometry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Rows top-down, each pixel 0xAARRGGBB (alpha not premultiplied).
struct ListViewImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

struct ListViewColumn {
    std::string title;
    int width = 0; // pixels; the last column fills what is left
};

struct ListViewRow {
    int image = -1; // index into the images set with SetImages, -1 for none
    std::vector<std::string> texts;
};

class ListView {
public:
    struct Callbacks {
        // A press of the first button on a row: the row and the point inside the row's picture
        // (negative coordinates when the press was not on it).
        std::function<void(int row, CUIPoint inImage)> pressed;
        // A row was double-clicked or Enter was pressed on it.
        std::function<void(int row)> activated;
        // The selected row changed (-1: none).
        std::function<void(int row)> selected;
    };

    // The control inside `parent`, a toolkit child window; nothing when the parent is not one.
    static std::unique_ptr<ListView> Create(NativeWindow parent);
    virtual ~ListView() = default;

    virtual void SetCallbacks(Callbacks callbacks) = 0;
    // The picture column comes first, as wide as the widest image; then these.
    virtual void SetColumns(const std::vector<ListViewColumn>& columns) = 0;
    virtual void SetImages(const std::vector<ListViewImage>& images) = 0;
    virtual void SetRows(const std::vector<ListViewRow>& rows) = 0;
    virtual void SetRowImage(int row, int image) = 0;
    virtual int GetSelection() const = 0;
    virtual int GetRowCount() const = 0;
    // The row's rectangle inside the parent, for tests and pointers; empty when it is not shown.
    virtual CUIRect GetRowRect(int row) const = 0;
    // Fills the parent.
    virtual void SetSize(CUISize size) = 0;
};

} // namespace platform
