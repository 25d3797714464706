#include "views/picture_thumbnail_view.h"

#include "platform/system_colors.h"
#include "platform/window_system.h"
#include "ui/application.h"
#include "ui/drawable.h"
#include "views/picture_browser_pane.h"

#include <algorithm>

namespace {

constexpr uint32_t kBitmapTicked = 173;
constexpr uint32_t kBitmapUnticked = 174;
constexpr uint32_t kBitmapFrame = 175;
constexpr int kIconSize = 32;

const CUIColor kWhite(255, 255, 255);

} // namespace

CPictureThumbnailView::CPictureThumbnailView(CPictureBrowserModel& model, Callbacks callbacks)
    : m_model(model), m_callbacks(std::move(callbacks)) {
    m_titleFont = CUIFont::FromStandard(CUIFont::kIconTitleFont);
    m_frame = CUIImage::FromResource(kBitmapFrame);
    m_ticked = CUIImage::FromResource(kBitmapTicked);
    m_unticked = CUIImage::FromResource(kBitmapUnticked);
    m_worker = std::make_unique<CThumbnailWorker>(m_thumbnailCache);
}

CPictureThumbnailView::~CPictureThumbnailView() {
    *m_alive = false;
    // The worker stops before the providers it borrows go.
    m_worker->CancelAll();
    m_worker.reset();
}

void CPictureThumbnailView::Reset() {
    m_worker->CancelAll();
    ++m_generation;
    m_thumbnails.clear();
    m_requested.clear();
    m_labels.clear();
    m_selection.reset();
    m_scroll = 0;
    RedrawAll();
}

void CPictureThumbnailView::RedrawAll() {
    if (GetHandle() != nullptr)
        Invalidate();
}

int CPictureThumbnailView::GetViewWidth() const {
    const int width = GetHandle() != nullptr ? GetClientRect().Width() : 0;
    return std::max(width - kScrollBarWidth, 0);
}

int CPictureThumbnailView::GetColumns() const {
    return CPictureGrid::GetColumns(GetViewWidth());
}

int CPictureThumbnailView::GetContentHeight() const {
    return CPictureGrid::GetRows(m_model.GetEntries().size(), GetColumns()) * CPictureGrid::kCellHeight;
}

CUIRect CPictureThumbnailView::GetCellRect(size_t index) const {
    return CPictureGrid::GetCellRect(index, GetColumns()).Offset(0, -m_scroll);
}

void CPictureThumbnailView::ScrollTo(int scroll) {
    const int height = GetHandle() != nullptr ? GetClientRect().Height() : 0;
    scroll = std::clamp(scroll, 0, std::max(GetContentHeight() - height, 0));
    if (scroll == m_scroll)
        return;
    m_scroll = scroll;
    RedrawAll();
}

CUIRect CPictureThumbnailView::GetScrollThumb() const {
    const CUIRect client = GetClientRect();
    const int content = std::max(GetContentHeight(), client.Height());
    const int track = client.Height();
    if (content <= 0 || track <= 0)
        return {};
    const int length = std::max(track * client.Height() / content, 20);
    const int range = std::max(content - client.Height(), 1);
    const int top = (track - length) * m_scroll / range;
    return CUIRect::FromSize(client.right - kScrollBarWidth + 2, top, kScrollBarWidth - 4, length);
}

// --- Painting -------------------------------------------------------------------------------------

void CPictureThumbnailView::Paint(CUIDrawableRep& dc, const CUIRect& update) {
    const CUIRect client = GetClientRect();
    dc.SetColor(kWhite);
    dc.FillRect(update.Intersect({client.left, client.top, client.right - kScrollBarWidth, client.bottom}));
    m_paintedCells = 0;
    PaintedCells painted;
    const std::vector<CPictureBrowserEntry>& entries = m_model.GetEntries();
    const int columns = GetColumns();
    // Only the rows that meet the damaged area are walked.
    const int firstRow = std::max((update.top + m_scroll) / CPictureGrid::kCellHeight, 0);
    const int lastRow = (update.bottom + m_scroll - 1) / CPictureGrid::kCellHeight;
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = 0; column < columns; ++column) {
            const size_t index = size_t(row) * size_t(columns) + size_t(column);
            if (index >= entries.size())
                break;
            const CUIRect cell = GetCellRect(index);
            if (cell.Intersect(update).IsEmpty())
                continue;
            dc.PushClip();
            dc.IntersectClip(cell);
            const bool withThumbnail = PaintCell(dc, index, cell);
            dc.PopClip();
            ++m_paintedCells;
            if (m_paintObserver) {
                painted.all.push_back(index);
                if (withThumbnail)
                    painted.withThumbnail.push_back(index);
            }
        }
    }
    PaintScrollBar(dc);
    if (m_paintObserver)
        m_paintObserver(painted);
}

bool CPictureThumbnailView::PaintCell(CUIDrawableRep& dc, size_t index, const CUIRect& cell) {
    const CPictureBrowserEntry& entry = m_model.GetEntries()[index];
    if (m_frame)
        dc.DrawImage({cell.left + CPictureGrid::kFrameAt.x, cell.top + CPictureGrid::kFrameAt.y}, *m_frame);

    const CImagePair* thumbnail = entry.IsPicture() ? FindThumbnail(entry.path) : nullptr;
    const bool withThumbnail = thumbnail != nullptr && !thumbnail->IsEmpty();
    if (withThumbnail) {
        dc.DrawImage({cell.left + CPictureGrid::kThumbnailAt.x, cell.top + CPictureGrid::kThumbnailAt.y},
                     thumbnail->picture, thumbnail->mask.Width() > 0 ? &thumbnail->mask : nullptr);
    } else if (thumbnail == nullptr) {
        const CUIImage& icon = FindIcon(entry.path);
        if (icon.Width() > 0)
            dc.DrawImage(
                {cell.left + (CPictureGrid::kCellWidth - icon.Width()) / 2, cell.top + CPictureGrid::kIconY},
                icon);
    }
    // A picture whose thumbnail could not be made keeps the empty frame.

    const bool selected = m_selection == index;
    dc.SetFont(m_titleFont);
    auto found = m_labels.find(entry.path);
    if (found == m_labels.end()) {
        auto measure = [&dc](std::string_view text) { return dc.MeasureText(text).cx; };
        found = m_labels.emplace(entry.path, MakePictureLabel(entry.name, measure)).first;
    }
    const CUIRect label = CPictureGrid::GetLabelRect().Offset(cell.left, cell.top);
    if (selected) {
        const int width = std::min(dc.MeasureText(found->second).cx + 4, label.Width());
        dc.SetSystemColor(platform::kColorHighlight);
        dc.FillRect(CUIRect::FromSize(label.left - 2, label.top + 5, width, label.Height() - 10));
        dc.SetSystemColor(platform::kColorHighlightText);
    } else {
        dc.SetColor(0, 0, 0);
    }
    dc.DrawText(label, found->second,
                platform::kTextLeft | platform::kTextVCenter | platform::kTextSingleLine);
    if (entry.IsPicture()) {
        const std::optional<CUIImage>& box = entry.kind == PictureEntryKind::Ticked ? m_ticked : m_unticked;
        if (box) {
            const CUIRect tick = CPictureGrid::GetTickRect().Offset(cell.left, cell.top);
            dc.DrawImage({tick.left, tick.top}, *box);
        }
    }
    return withThumbnail;
}

void CPictureThumbnailView::PaintScrollBar(CUIDrawableRep& dc) {
    const CUIRect client = GetClientRect();
    dc.SetColor(240, 240, 240);
    dc.FillRect({client.right - kScrollBarWidth, client.top, client.right, client.bottom});
    dc.SetColor(205, 205, 205);
    dc.FillRect(
        {client.right - kScrollBarWidth, client.top, client.right - kScrollBarWidth + 1, client.bottom});
    if (GetContentHeight() <= client.Height())
        return; // nothing to scroll: the track stays empty
    dc.SetColor(m_dragFrom ? CUIColor(120, 120, 120) : CUIColor(168, 168, 168));
    dc.FillRect(GetScrollThumb());
}

// --- Thumbnails -----------------------------------------------------------------------------------

const CImagePair* CPictureThumbnailView::FindThumbnail(const std::string& path) {
    auto found = m_thumbnails.find(path);
    if (found != m_thumbnails.end())
        return &found->second;
    if (m_requested.emplace(path, true).second) {
        std::shared_ptr<bool> alive = m_alive;
        const uint64_t generation = m_generation;
        m_worker->Request(path, CSizeSpec{CPictureGrid::kThumbnailSize, false},
                          [this, alive, generation](const std::string& done, const CImagePair& image, int) {
                              CUIApplication* app = CUIApplication::Get();
                              if (app == nullptr)
                                  return;
                              app->PostCall([this, alive, generation, done, image] {
                                  if (*alive)
                                      OnThumbnail(generation, done, image);
                              });
                          });
    }
    return nullptr;
}

void CPictureThumbnailView::OnThumbnail(uint64_t generation, const std::string& path,
                                        const CImagePair& image) {
    if (generation != m_generation)
        return; // for a folder the user has left
    m_thumbnails[path] = image;
    const std::vector<CPictureBrowserEntry>& entries = m_model.GetEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].path == path && GetHandle() != nullptr) {
            const CUIRect cell = GetCellRect(i);
            Invalidate(&cell);
        }
    }
}

const CUIImage& CPictureThumbnailView::FindIcon(const std::string& path) {
    auto found = m_icons.find(path);
    if (found == m_icons.end())
        found = m_icons.emplace(path, MakeShellIconImage(path, kIconSize, kWhite)).first;
    return found->second;
}

// --- Input ----------------------------------------------------------------------------------------

void CPictureThumbnailView::OnButtonDown(CUIPoint point, bool doubleClick) {
    const CUIRect client = GetClientRect();
    if (point.x >= client.right - kScrollBarWidth) {
        const CUIRect thumb = GetScrollThumb();
        if (thumb.Contains(point)) {
            m_dragFrom = point.y;
            m_dragScroll = m_scroll;
            SetCapture();
        } else {
            // A click in the track pages towards it.
            ScrollTo(m_scroll + (point.y < thumb.top ? -client.Height() : client.Height()));
        }
        return;
    }
    std::optional<size_t> index =
        CPictureGrid::HitCell({point.x, point.y + m_scroll}, GetColumns(), m_model.GetEntries().size());
    if (!index)
        return;
    const CUIRect cell = GetCellRect(*index);
    const CPictureBrowserEntry& entry = m_model.GetEntries()[*index];
    if (entry.IsPicture() && CPictureGrid::GetTickRect().Offset(cell.left, cell.top).Contains(point)) {
        m_model.ToggleTick(*index);
        Invalidate(&cell);
        return;
    }
    if (m_selection != index) {
        if (m_selection) {
            const CUIRect old = GetCellRect(*m_selection);
            Invalidate(&old);
        }
        m_selection = index;
        Invalidate(&cell);
        if (m_callbacks.selectionChanged)
            m_callbacks.selectionChanged();
    }
    // Last: opening the folder fills the model anew and resets this view.
    if (doubleClick && !entry.IsPicture() && m_callbacks.open)
        m_callbacks.open(*index);
}

bool CPictureThumbnailView::HandleMessage(const ui::Message& message, ui::LResult&) {
    const CUIPoint point{ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)};
    switch (message.message) {
    case ui::kWmPaint: {
        if (PaintUpdate([this](CUIDrawableRep& dc, const CUIRect& update) { Paint(dc, update); }))
            ++m_paintCount;
        return true;
    }
    case ui::kWmSize:
        ScrollTo(m_scroll); // a taller view may show the end of the grid
        RedrawAll();
        return true;
    case ui::kWmLButtonDown:
        OnButtonDown(point, false);
        return true;
    case ui::kWmLButtonDblClk:
        OnButtonDown(point, true);
        return true;
    case ui::kWmMouseMove:
        if (m_dragFrom) {
            const CUIRect client = GetClientRect();
            const int track = client.Height() - GetScrollThumb().Height();
            const int range = GetContentHeight() - client.Height();
            if (track > 0)
                ScrollTo(m_dragScroll + (point.y - *m_dragFrom) * range / track);
        }
        return true;
    case ui::kWmLButtonUp:
        if (m_dragFrom) {
            m_dragFrom.reset();
            ReleaseCapture();
            RedrawAll();
        }
        return true;
    case ui::kWmMouseWheel:
        ScrollTo(m_scroll - static_cast<int16_t>(ui::HiWord(message.wParam)) / 120 * kWheelStep);
        return true;
    default:
        return false;
    }
}
