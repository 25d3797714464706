// The upload list window: the main pane of the control. It shows the album pictures are added to, the
// queued pictures in three sortable columns (thumbnail and name, size, status), the overall progress
// with the time remaining, and the buttons and link of the six commands; it turns clicks, keys, the
// context menu and dropped files into operations on the upload queue, and shows the completion dialog
// when a run ends. Everything is drawn by the window itself with the toolkit.
//
// Ownership: the selection (over the queue) and the dialogs are borrowed and outlive the view. The
// application owns the six commands and the refresh timer; the view detaches the commands and removes
// the timer when it goes. Thumbnails are decoded on the view's own worker thread.
//
// Threads: the UI thread only. Thumbnail answers arrive on the worker and are carried over with the
// application's cross-thread calls; queue changes made by sender threads are collected by the refresh.
#pragma once

#include "pictures/file_type_icon_provider.h"
#include "pictures/image_provider.h"
#include "pictures/jpeg_thumbnail_provider.h"
#include "pictures/thumbnail_cache.h"
#include "pictures/thumbnail_worker.h"
#include "ui/font.h"
#include "ui/image_button.h"
#include "ui/window.h"
#include "views/time_remaining_table.h"
#include "views/upload_list_columns.h"
#include "views/upload_list_commands.h"
#include "views/upload_list_corners.h"
#include "views/upload_list_layout.h"
#include "views/upload_list_rows.h"
#include "views/upload_list_rules.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CException;
class CNameValueDocument;
class CUIDrawableRep;
class CUploadSelection;
class IUploadListDialogs;
class UploadQueue;
struct PluginParameters;

class CUploadListView : public CUIWindow, public CUIDropTarget, private IUploadListCommandTarget {
public:
    static constexpr int kRefreshIntervalMs = 1000;
    static constexpr int kContextMenuId = 104;
    static constexpr int kScrollBarWidth = 16;
    // More files than this are added under the "Processing..." dialog rather than in one go.
    static constexpr size_t kDirectAddLimit = 20;

    // Colours and icon size from the page's parameters, ViewURL for "View pictures". The selection
    // (named "upload", over the queue) and the dialogs are borrowed and outlive the view.
    CUploadListView(CUploadSelection& selection, IUploadListDialogs& dialogs,
                    const PluginParameters& parameters);
    ~CUploadListView() override;

    // A child window of `parent`: registers the six commands, binds the context menu, becomes a drop
    // target and starts the refresh timer.
    void Create(CUIWindow& parent);
    // Column state and "browseDir".
    void ReadState(const CNameValueDocument& preferences);
    void WriteState(CNameValueDocument& preferences) const;
    // Start-up failed: every command but Preferences is disabled and the list shows nothing.
    void SetDisabled(bool disabled);
    // The wait cursor while a start-up step runs.
    void SetBusy(bool busy);
    // A picture that could not be added: a failed row with this error; its status text opens
    // "Transfer Failed" like that of any failed picture.
    void ReportAddError(const std::string& path, const CException& error);
    // Keyboard messages offered first by the control: true when the list used the message.
    bool TranslateAccelerator(const ui::Message& message);
    // Files dropped or chosen.
    void AddFiles(const std::vector<std::string>& paths);

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;
    void OnDragOver(bool inside) override;
    void OnDropFiles(const std::vector<std::string>& paths, CUIPoint point) override;

    // What the refresh timer does: ticks the queue, picks up its changes, follows the run's state.
    void Refresh(bool force = false);
    // Lays the window out for a client area of this size: the window's own when it changes, or the
    // size of an off-screen drawing.
    void Layout(CUISize client);
    // Paints the whole window into `drawable` (a paint's, or a memory one).
    void Paint(CUIDrawableRep& drawable);

    // State, for the control and for tests.
    const UploadListLayout& GetLayout() const { return m_layout; }
    const CUploadListColumns& GetColumns() const { return m_columns; }
    const CUploadListRows& GetRows() const { return m_rows; }
    size_t GetRowCount() const { return m_rows.Count() + m_addErrors.size(); }
    // The path shown at display position `index`.
    const std::string& GetRowPath(size_t index) const;
    int GetRowHeight() const { return m_rowHeight; }
    // The title of column `index` (0 Picture, 1 Size, 2 Status) as drawn.
    CUIRect GetColumnRect(int index) const;
    size_t GetTopRow() const { return m_topRow; }
    bool IsDragOver() const { return m_dragOver; }
    bool IsDisabled() const { return m_disabled; }
    bool IsPauseButtonShown() const;
    UploadResumeTemplate GetResumeTemplate() const { return m_resumeTemplate; }
    bool IsCompletionTextShown() const { return m_showCompletion; }
    int GetCommandId(UploadListCommandKind kind) const { return m_commandIds[Index(kind)]; }
    bool HasThumbnail(const std::string& path) const { return m_thumbnails.count(path) != 0; }
    const std::string& GetBrowseFolder() const { return m_browseFolder; }
    // The colours the frame is drawn in, for tests that look at pixels.
    CUIColor GetEdgeColor() const { return m_edgeColor; }
    CUIColor GetDropColor() const { return m_dropColor; }

private:
    class RefreshTimer;
    class CompletionTask;

    // A picture that the queue refused, shown after the queue's rows.
    struct AddError {
        std::string path;
        std::string name;
        std::string text;
    };

    static size_t Index(UploadListCommandKind kind) { return static_cast<size_t>(kind); }

    // IUploadListCommandTarget
    bool IsCommandEnabled(UploadListCommandKind kind) const override;
    bool IsCommandChecked(UploadListCommandKind kind) const override;
    void ExecuteCommand(UploadListCommandKind kind) override;

    // The commands' actions.
    void ShowProperties();
    void RemoveSelected();
    void PauseOrResume();
    void RetryFailed();
    void RunPreferences();
    void Browse();

    // The run's state, as the footer and the completion flow see it.
    bool IsRunning() const;
    bool IsEmpty() const { return GetRowCount() == 0; }
    void FollowRunState();
    void ShowCompletion();
    void AddOne(const std::string& path);
    void AddErrorRow(const std::string& path, const std::string& text);
    void SortChanged();

    // Layout and painting.
    void LoadImages();
    void ApplyColors();
    void UpdateLayout();
    void Redraw(const CUIRect* rect = nullptr);
    void RenderCorners();
    std::vector<CUIPushArea*> VisibleButtons();
    CUIRect RowsArea() const; // the rows, less the scroll bar when there is one
    bool HasScrollBar() const;
    CUIRect ScrollBarRect() const;
    CUIRect ScrollThumbRect() const;
    size_t VisibleRowCount() const;
    void ScrollTo(long long topRow);
    void UpdateColumnWidths();
    CUIRect ColumnRect(int index, const CUIRect& band) const;
    void TraceLayout() const;
    void PaintFrame(CUIDrawableRep& dc);
    void PaintHeader(CUIDrawableRep& dc);
    void PaintEmptyList(CUIDrawableRep& dc);
    void PaintColumnTitles(CUIDrawableRep& dc);
    void PaintRows(CUIDrawableRep& dc);
    void PaintRow(CUIDrawableRep& dc, size_t index, const CUIRect& rect);
    void PaintScrollBar(CUIDrawableRep& dc);
    void PaintFooter(CUIDrawableRep& dc);

    // Input.
    enum class Click { Single, Double };
    void OnButtonDown(CUIPoint point, ui::WParam keys, Click click);
    void OnMouseMove(CUIPoint point);
    void UpdateToolTip();
    void OnButtonUp(CUIPoint point);
    void OnWheel(int delta);
    void OnContextMenu(ui::LParam lParam);
    void ClickRow(size_t index, ui::WParam keys);
    void MoveFocusRow(int step);
    void SelectAll();
    void EnsureVisible(size_t index);
    // The column title under the point, or -1; `border` is set when the point is on its right border.
    int HitColumnTitle(CUIPoint point, bool& border) const;
    // Whether the point is on the status text of a failed row; its path is given, and for a row the
    // queue refused, the refusal's text.
    bool HitFailedStatus(CUIPoint point, std::string& path, std::string& refusal);
    void UpdateCommands();

    // Thumbnails: asked for when a row is painted, drawn once they arrive.
    const CImagePair* FindThumbnail(const std::string& path);
    void OnThumbnail(const std::string& path, const CImagePair& image);

    CUploadSelection& m_selection;
    UploadQueue& m_queue;
    IUploadListDialogs& m_dialogs;
    const std::string m_viewURL;
    const std::string m_albumName;
    const int m_iconSize;

    CUIColor m_pageColor, m_edgeColor, m_dropColor, m_backgroundColor, m_linkColor, m_activeLinkColor;
    CUIImageButton::Colors m_buttonColors;

    CUIFont m_dialogFont;
    CUIFont m_titleFont;
    CTimeRemainingTable m_timeTable;
    std::string m_ellipsis;
    std::array<std::string, kUploadListColumnCount> m_columnTitles;

    CUIImageButton m_remove, m_pause, m_resume, m_retry, m_choose;
    std::optional<CUIImage> m_resumeImage, m_startImage;
    CUILinkImage m_preferences;
    std::array<std::optional<CUIImage>, 4> m_sortArrows; // up, down; then the same for later keys
    std::array<CUIImage, 4> m_sortArrowMasks{CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0)};
    std::optional<CUIImage> m_emptyPicture, m_dropHint;
    CUploadListCorners m_corners; // made again when the frame's colour changes
    bool m_cornersForDrop = false;

    CUISize m_client;
    std::array<int, kUploadListColumnCount> m_shownWidths{}; // as drawn: see UpdateColumnWidths
    int m_sizeTextWidth = 0;                                 // the widest size text and its padding
    UploadListLayout m_layout{};
    int m_rowHeight = 0;
    size_t m_topRow = 0;

    CUploadListColumns m_columns;
    CUploadListRows m_rows;
    std::vector<AddError> m_addErrors;
    std::string m_browseFolder;

    // Selection by keyboard and Shift-click: where a range starts, and the row the keys move.
    size_t m_anchorRow = 0;
    size_t m_focusRow = 0;
    bool m_shiftDown = false;

    // Mouse gestures in progress.
    CUIPushArea* m_pressedButton = nullptr;
    int m_pressedTitle = -1;
    int m_resizedColumn = -1;
    int m_resizeStartX = 0;
    int m_resizeStartWidth = 0;
    int m_resizeWidth = 0;
    bool m_draggingThumb = false;
    std::optional<CUIPoint> m_pointer; // where the pointer last moved over the window
    int m_thumbGrabOffset = 0;

    bool m_disabled = false;
    bool m_dragOver = false;
    bool m_showCompletion = false;
    bool m_runStateKnown = false; // the state below has been seen once
    bool m_wasRunning = false;
    uint64_t m_launchesSeen = 0;
    bool m_wasPaused = false;
    UploadResumeTemplate m_resumeTemplate = UploadResumeTemplate::Resume;

    std::array<CUploadListCommand*, kUploadListCommandCount> m_commands{};
    std::array<int, kUploadListCommandCount> m_commandIds{};
    RefreshTimer* m_timer = nullptr; // owned by the application while it runs

    // The provider chain, front first: cache, JPEG decoder, file-type icon; then the worker on it.
    CFileTypeIconProvider m_iconProvider;
    CJPEGThumbnailProvider m_jpegProvider{&m_iconProvider};
    CThumbnailCache m_thumbnailCache{&m_jpegProvider};
    std::unordered_map<std::string, CImagePair> m_thumbnails;
    std::unordered_set<std::string> m_requested;
    // Calls posted by the worker check this before touching the view.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::unique_ptr<CThumbnailWorker> m_worker; // last: its callbacks use the members above
};
