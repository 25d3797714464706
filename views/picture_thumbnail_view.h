// The picture browser's thumbnails: an own-drawn grid of the current folder's entries, 111 x 115
// pixels a cell, with a vertical scroll bar. Each picture's thumbnail is asked of the worker when its
// cell is first painted and drawn when it arrives; until then the cell shows the file's icon. Only the
// cells that meet the damaged area are painted.
//
// Ownership: the model is borrowed from the dialog. The worker and its providers are this view's;
// the requests of a folder are abandoned by Reset and by the view's end.
// Threads: the UI thread, but for the worker's answers, which are posted over to it.
#pragma once

#include "pictures/file_type_icon_provider.h"
#include "pictures/jpeg_thumbnail_provider.h"
#include "pictures/thumbnail_cache.h"
#include "pictures/thumbnail_worker.h"
#include "ui/font.h"
#include "ui/window.h"
#include "views/picture_browser_model.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CUIDrawableRep;

class CPictureThumbnailView : public CUIWindow {
public:
    static constexpr int kScrollBarWidth = 16;
    static constexpr int kWheelStep = CPictureGrid::kCellHeight / 2;

    struct Callbacks {
        std::function<void(size_t index)> open; // a folder's cell was double-clicked
        std::function<void()> selectionChanged; // another cell is selected
    };

    CPictureThumbnailView(CPictureBrowserModel& model, Callbacks callbacks);
    ~CPictureThumbnailView() override;

    // After the model moved to another folder: pending thumbnails are dropped, the grid goes to the top.
    void Reset();
    // After ticks changed in the model.
    void RedrawAll();

    std::optional<size_t> GetSelection() const { return m_selection; }
    int GetScroll() const { return m_scroll; }
    int GetColumns() const;
    // The cell's rectangle in the window now, scrolled.
    CUIRect GetCellRect(size_t index) const;
    // How many cells the last paint drew, and how many paints there were.
    int GetPaintedCells() const { return m_paintedCells; }
    int GetPaintCount() const { return m_paintCount; }
    // How many thumbnails have arrived for the folder shown.
    size_t GetThumbnailCount() const { return m_thumbnails.size(); }

    // A hook for benchmarks and tests, nothing else: after each paint, the cells it drew (indices of
    // the model's entries) and those of them that showed their thumbnail rather than the icon.
    struct PaintedCells {
        std::vector<size_t> all;
        std::vector<size_t> withThumbnail;
    };
    using PaintObserver = std::function<void(const PaintedCells&)>;
    void SetPaintObserver(PaintObserver observer) { m_paintObserver = std::move(observer); }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

private:
    void Paint(CUIDrawableRep& dc, const CUIRect& update);
    // True when the cell showed its thumbnail.
    bool PaintCell(CUIDrawableRep& dc, size_t index, const CUIRect& cell);
    void PaintScrollBar(CUIDrawableRep& dc);
    const CImagePair* FindThumbnail(const std::string& path);
    const CUIImage& FindIcon(const std::string& path);
    void OnThumbnail(uint64_t generation, const std::string& path, const CImagePair& image);
    void OnButtonDown(CUIPoint point, bool doubleClick);
    void ScrollTo(int scroll);
    int GetContentHeight() const;
    int GetViewWidth() const;
    CUIRect GetScrollThumb() const;

    CPictureBrowserModel& m_model;
    Callbacks m_callbacks;
    CUIFont m_titleFont;
    std::optional<CUIImage> m_frame, m_ticked, m_unticked;

    CFileTypeIconProvider m_iconProvider;
    CJPEGThumbnailProvider m_jpegProvider{&m_iconProvider};
    CThumbnailCache m_thumbnailCache{&m_jpegProvider};
    std::unique_ptr<CThumbnailWorker> m_worker;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    uint64_t m_generation = 0; // answers of an abandoned folder carry an older one
    std::map<std::string, CImagePair> m_thumbnails;
    std::map<std::string, bool> m_requested;
    std::map<std::string, CUIImage> m_icons;
    std::map<std::string, std::string> m_labels;

    std::optional<size_t> m_selection;
    int m_scroll = 0;
    std::optional<int> m_dragFrom; // the pointer's y where a drag of the scroll thumb began
    int m_dragScroll = 0;
    int m_paintedCells = 0;
    int m_paintCount = 0;
    PaintObserver m_paintObserver;
};
