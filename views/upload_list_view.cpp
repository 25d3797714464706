#include "views/upload_list_view.h"

#include "foundation/exception.h"
#include "foundation/path.h"
#include "foundation/preferences.h"
#include "foundation/trace.h"
#include "pictures/size_text.h"
#include "platform/open_url.h"
#include "platform/resources.h"
#include "platform/system_colors.h"
#include "ui/application.h"
#include "ui/drawable.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"
#include "views/progress_dialog.h"
#include "views/upload_list_dialogs.h"
#include "views/upload_list_fit.h"
#include "views/upload_list_texts.h"

#include <algorithm>
#include <cmath>

namespace {

// Bitmaps of the module.
constexpr uint32_t kBitmapRemove = 113;
constexpr uint32_t kBitmapPause = 116;
constexpr uint32_t kBitmapResume = 119;
constexpr uint32_t kBitmapStart = 137;
constexpr uint32_t kBitmapRetry = 146;
constexpr uint32_t kBitmapChoose = 122;
constexpr uint32_t kBitmapSortFirst = 132; // 132 up, 133 down; 134 and 135 for the later keys
constexpr uint32_t kBitmapEmptyList = 139;
constexpr uint32_t kBitmapDropHint = 201;
constexpr uint32_t kBitmapLinkDisabled = 191;
constexpr uint32_t kBitmapLinkNormal = 192;
constexpr uint32_t kBitmapLinkPressed = 193;

constexpr uint32_t kStringEllipsis = 10051;
constexpr uint32_t kStringFirstColumnTitle = 10059; // "Picture", "Size", "Status"
constexpr uint32_t kStringUploadComplete = 10064;
constexpr uint32_t kStringUploadErrors = 10065;

constexpr int kCellPadding = 4;     // around the thumbnail and the column titles
constexpr int kTextPadding = 2;     // either side of a cell's text
constexpr int kTitleBorderGrip = 3; // pixels either side of a title's right border that resize it
constexpr int kMinColumnWidth = 16;
constexpr int kWheelStep = 120; // one notch
constexpr int kWheelRows = 3;
constexpr int kMinThumbHeight = 12;
// Decoded thumbnails kept beyond those of the visible page, so that scrolling back is instant.
constexpr size_t kKeptThumbnails = 400;

CUIColor ColorParameter(const std::string& text) {
    const uint32_t rgb = ParseColor(text); // 0xRRGGBB
    return CUIColor(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                    static_cast<uint8_t>(rgb));
}

CUIPoint PointOf(ui::LParam lParam) {
    return {ui::GetXLParam(lParam), ui::GetYLParam(lParam)};
}

} // namespace

// Ticks the view once a second; owned by the application from AddTimer to RemoveTimer.
class CUploadListView::RefreshTimer : public CUITimerHandler {
public:
    explicit RefreshTimer(CUploadListView& view) : m_view(view) {}
    void OnTimer() override { m_view.Refresh(); }

private:
    CUploadListView& m_view;
};

// The end of a run, shown once the UI thread is free: the Transfer Status dialog, if the queue stayed
// stopped and some picture went or failed, then the counts are forgotten. The view may be gone by then.
class CUploadListView::CompletionTask : public CUITask {
public:
    CompletionTask(CUploadListView& view, std::shared_ptr<bool> alive)
        : m_view(view), m_alive(std::move(alive)) {}
    bool Run() override {
        if (*m_alive)
            m_view.ShowCompletion();
        return true;
    }

private:
    CUploadListView& m_view;
    std::shared_ptr<bool> m_alive;
};

CUploadListView::CUploadListView(CUploadSelection& selection, IUploadListDialogs& dialogs,
                                 const PluginParameters& parameters)
    : m_selection(selection), m_queue(selection.GetQueue()), m_dialogs(dialogs),
      m_viewURL(parameters.d_viewURL), m_albumName(parameters.d_albumName),
      m_iconSize(static_cast<int>(std::clamp<uint32_t>(parameters.d_iconSize, 1, 256))),
      m_pageColor(ColorParameter(parameters.d_pageColor)),
      m_edgeColor(ColorParameter(parameters.d_edgeColor)),
      m_dropColor(ColorParameter(parameters.d_dropColor)),
      m_backgroundColor(ColorParameter(parameters.d_backgroundColor)),
      m_linkColor(ColorParameter(parameters.d_linkColor)),
      m_activeLinkColor(ColorParameter(parameters.d_aLinkColor)), m_timeTable(CTimeRemainingTable::Load()),
      m_ellipsis(platform::LoadText(kStringEllipsis)) {
    m_buttonColors.background = m_backgroundColor;
    m_buttonColors.normalBody = ColorParameter(parameters.d_buttonColor);
    m_buttonColors.normalText = ColorParameter(parameters.d_buttonTextColor);
    m_buttonColors.pressedBody = ColorParameter(parameters.d_buttonPressedColor);
    m_buttonColors.pressedText = ColorParameter(parameters.d_buttonPressedTextColor);
    m_buttonColors.disabledBody = ColorParameter(parameters.d_buttonDisabledColor);
    m_buttonColors.disabledText = ColorParameter(parameters.d_buttonDisabledTextColor);
    for (int i = 0; i < kUploadListColumnCount; ++i)
        m_columnTitles[i] = platform::LoadText(kStringFirstColumnTitle + i);
    m_dialogFont = CUIFont::FromStandard(CUIFont::kDialogFont);
    m_titleFont = CUIFont::FromStandard(CUIFont::kIconTitleFont);
    {
        CUIDrawable probe = CUIDrawable::ForMemory(1, 1);
        probe->SetFont(m_titleFont);
        // The widest size texts: four digits of a unit, or three with a decimal point.
        for (uint64_t bytes : {uint64_t{1023} << 10, uint64_t{1023} << 20, uint64_t{999} << 20})
            m_sizeTextWidth =
                std::max(m_sizeTextWidth, probe->MeasureText(FormatSizeText(bytes)).cx + 2 * kTextPadding);
    }
    LoadImages();
    ApplyColors();
    m_worker = std::make_unique<CThumbnailWorker>(m_thumbnailCache);
}

CUploadListView::~CUploadListView() {
    *m_alive = false;
    // Answers still on their way find the view gone; the worker stops before the providers go.
    m_worker.reset();
    CUIApplication* app = CUIApplication::Get();
    if (app != nullptr) {
        if (m_timer != nullptr)
            app->RemoveTimer(m_timer);
        for (size_t i = 0; i < m_commands.size(); ++i) {
            // The application may already have let its commands go.
            if (m_commands[i] != nullptr && app->FindCommand(m_commandIds[i]) == m_commands[i])
                m_commands[i]->Detach();
        }
    }
    SetDropTarget(nullptr);
}

void CUploadListView::LoadImages() {
    auto load = [](uint32_t id) { return CUIImage::FromResource(id); };
    auto button = [&](CUIImageButton& b, uint32_t id) {
        if (auto image = load(id))
            b.SetTemplate(std::move(*image));
    };
    button(m_remove, kBitmapRemove);
    button(m_pause, kBitmapPause);
    button(m_retry, kBitmapRetry);
    button(m_choose, kBitmapChoose);
    m_resumeImage = load(kBitmapResume);
    m_startImage = load(kBitmapStart);
    if (m_resumeImage)
        m_resume.SetTemplate(*m_resumeImage);
    for (size_t i = 0; i < m_sortArrows.size(); ++i) {
        m_sortArrows[i] = load(kBitmapSortFirst + static_cast<uint32_t>(i));
        if (!m_sortArrows[i])
            continue;
        // The arrows come on white; the title band shows through there.
        const CUIImage& arrow = *m_sortArrows[i];
        CUIImage mask(arrow.Width(), arrow.Height());
        for (int y = 0; y < arrow.Height(); ++y)
            for (int x = 0; x < arrow.Width(); ++x)
                mask.SetPixel(x, y,
                              arrow.GetPixel(x, y) == CUIColor(255, 255, 255) ? CUIColor(255, 255, 255)
                                                                              : CUIColor(0, 0, 0));
        m_sortArrowMasks[i] = std::move(mask);
    }
    m_emptyPicture = load(kBitmapEmptyList);
    m_dropHint = load(kBitmapDropHint);
    auto normal = load(kBitmapLinkNormal);
    auto pressed = load(kBitmapLinkPressed);
    auto disabled = load(kBitmapLinkDisabled);
    if (normal && pressed && disabled)
        m_preferences = CUILinkImage(std::move(*normal), std::move(*pressed), std::move(*disabled));
}

void CUploadListView::ApplyColors() {
    for (CUIImageButton* b : {&m_remove, &m_pause, &m_resume, &m_retry, &m_choose})
        b->SetColors(m_buttonColors);
    RenderCorners();
}

void CUploadListView::RenderCorners() {
    // The corners are drawn against the colour inside the frame: the band around the list is the
    // page's background, which the module's bitmaps (buttons, link, hint) are drawn on too.
    m_corners.Render(kUploadListCornerRadius, kUploadListEdge, m_dragOver ? m_dropColor : m_edgeColor,
                     m_backgroundColor, m_backgroundColor);
    m_cornersForDrop = m_dragOver;
}

void CUploadListView::Create(CUIWindow& parent) {
    CreateChild(parent);
    CUIApplication* app = CUIApplication::Get();
    for (int i = 0; i < kUploadListCommandCount; ++i) {
        auto* command = new CUploadListCommand(static_cast<UploadListCommandKind>(i), *this);
        m_commands[i] = command;
        m_commandIds[i] = app->RegisterCommand(command);
    }
    m_remove.SetCommand(m_commands[Index(UploadListCommandKind::Remove)]);
    m_pause.SetCommand(m_commands[Index(UploadListCommandKind::PauseResume)]);
    m_resume.SetCommand(m_commands[Index(UploadListCommandKind::PauseResume)]);
    m_retry.SetCommand(m_commands[Index(UploadListCommandKind::Retry)]);
    m_choose.SetCommand(m_commands[Index(UploadListCommandKind::Browse)]);
    m_preferences.SetCommand(m_commands[Index(UploadListCommandKind::Preferences)]);
    SetDropTarget(this);
    m_timer = new RefreshTimer(*this);
    app->AddTimer(m_timer, kRefreshIntervalMs);
    m_wasRunning = IsRunning();
    m_launchesSeen = m_queue.GetLaunchCount();
    Refresh(true);
    Layout({GetClientRect().Width(), GetClientRect().Height()});
}

void CUploadListView::ReadState(const CNameValueDocument& preferences) {
    m_columns.Read(preferences);
    UpdateColumnWidths();
    m_browseFolder = GetBrowseDir(preferences);
    SortChanged();
}

void CUploadListView::WriteState(CNameValueDocument& preferences) const {
    m_columns.Write(preferences);
    SetBrowseDir(preferences, m_browseFolder);
}

void CUploadListView::SetDisabled(bool disabled) {
    m_disabled = disabled;
    UpdateCommands();
    Redraw();
}

void CUploadListView::SetBusy(bool busy) {
    SetCursor(busy ? platform::CursorShape::Wait : platform::CursorShape::Arrow);
}

void CUploadListView::ReportAddError(const std::string& path, const CException& error) {
    AddErrorRow(path, error.GetText());
}

void CUploadListView::AddErrorRow(const std::string& path, const std::string& text) {
    for (AddError& row : m_addErrors) {
        if (row.path == path) {
            row.text = text;
            Redraw();
            return;
        }
    }
    m_addErrors.push_back({path, ::GetFileName(path), text});
    m_showCompletion = false;
    Redraw();
}

const std::string& CUploadListView::GetRowPath(size_t index) const {
    if (index < m_rows.Count())
        return m_rows.At(index).path;
    return m_addErrors[index - m_rows.Count()].path;
}

// --- Commands -------------------------------------------------------------------------------------

bool CUploadListView::IsCommandEnabled(UploadListCommandKind kind) const {
    switch (kind) {
    case UploadListCommandKind::Properties:
    case UploadListCommandKind::Browse:
        return !m_disabled;
    case UploadListCommandKind::Remove:
        return !m_disabled && !m_selection.IsEmpty();
    case UploadListCommandKind::PauseResume:
        return !m_disabled && !m_rows.Empty();
    case UploadListCommandKind::Retry:
        return !m_disabled && m_queue.HasFailed();
    case UploadListCommandKind::Preferences:
        return true;
    }
    return false;
}

bool CUploadListView::IsCommandChecked(UploadListCommandKind kind) const {
    return kind == UploadListCommandKind::PauseResume && m_queue.IsPaused();
}

void CUploadListView::ExecuteCommand(UploadListCommandKind kind) {
    switch (kind) {
    case UploadListCommandKind::Properties:
        ShowProperties();
        break;
    case UploadListCommandKind::Remove:
        RemoveSelected();
        break;
    case UploadListCommandKind::PauseResume:
        PauseOrResume();
        break;
    case UploadListCommandKind::Retry:
        RetryFailed();
        break;
    case UploadListCommandKind::Preferences:
        RunPreferences();
        break;
    case UploadListCommandKind::Browse:
        Browse();
        break;
    }
}

void CUploadListView::ShowProperties() {
    std::vector<std::string> paths = m_selection.GetElements();
    if (!paths.empty())
        m_dialogs.ShowProperties(*this, paths);
}

void CUploadListView::RemoveSelected() {
    const size_t count = m_selection.GetCount();
    if (count == 0)
        return;
    CUIMessageBox question(RemoveQuestionCaption(), FormatRemoveQuestion(count),
                           CUIMessageBox::Buttons::YesNo, CUIMessageBox::Icon::Exclamation, 2);
    if (question.Show(this) != CUIMessageBox::kOkOrYes)
        return;
    // Rows of pictures the queue refused are not in the queue: removing them only forgets them.
    std::erase_if(m_addErrors, [&](const AddError& row) {
        if (!m_selection.Contains(row.path) || m_queue.Contains(row.path))
            return false;
        m_selection.Deselect(row.path);
        return true;
    });
    if (!m_selection.IsEmpty()) {
        m_queue.Pause();
        m_dialogs.RunRemoving(*this, m_selection);
        m_queue.Resume();
    }
    Refresh(true);
}

void CUploadListView::PauseOrResume() {
    if (m_queue.IsPaused())
        m_queue.Resume();
    else
        m_queue.Pause();
    Refresh(true);
}

void CUploadListView::RetryFailed() {
    m_queue.RetryFailed();
    Refresh(true);
}

void CUploadListView::RunPreferences() {
    CNameValueDocument preferences;
    try {
        LoadPreferences(preferences);
    } catch (const CException&) {
        // Unreadable preferences count as the defaults.
    }
    const bool autoStartBefore = GetAutoStart(preferences);
    if (m_dialogs.RunPreferences(*this, m_browseFolder) != 1)
        return;
    try {
        LoadPreferences(preferences);
    } catch (const CException&) {
        return;
    }
    if (GetBrowseDirSpecified(preferences))
        m_browseFolder = GetBrowseDir(preferences);
    switch (DecideAutoStartChange(autoStartBefore, GetAutoStart(preferences), m_queue.IsPaused())) {
    case UploadAutoStartAction::Resume:
        m_queue.Resume();
        break;
    case UploadAutoStartAction::Pause:
        m_queue.Pause();
        break;
    case UploadAutoStartAction::None:
        break;
    }
    Refresh(true);
}

void CUploadListView::Browse() {
    CNameValueDocument preferences;
    try {
        LoadPreferences(preferences);
    } catch (const CException&) {
    }
    // Our own picture browser unless the user asked for the standard chooser; either way the folder
    // it ends in is remembered.
    std::string folder = m_browseFolder;
    const FileChooser chooser =
        GetOldFileDialog(preferences) ? FileChooser::Standard : FileChooser::PictureBrowser;
    std::vector<std::string> paths = m_dialogs.ChooseFiles(*this, folder, chooser);
    if (!GetBrowseDirSpecified(preferences))
        m_browseFolder = folder;
    if (!paths.empty())
        AddFiles(paths);
}

void CUploadListView::AddOne(const std::string& path) {
    try {
        m_queue.AddFromUser(path);
    } catch (const CException& error) {
        ReportAddError(path, error);
    }
}

void CUploadListView::AddFiles(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    m_showCompletion = false;
    if (paths.size() <= kDirectAddLimit || GetHandle() == nullptr) {
        for (const std::string& path : paths)
            AddOne(path);
        Refresh(true);
        return;
    }
    // Many files: one task each under "Processing...", which runs them on its worker. A refusal is
    // carried back to the UI thread, where the rows live.
    std::vector<CProgressRun::Task> tasks;
    tasks.reserve(paths.size());
    std::shared_ptr<bool> alive = m_alive;
    for (const std::string& path : paths) {
        tasks.push_back([this, alive, path] {
            try {
                m_queue.AddFromUser(path);
            } catch (const CException& error) {
                std::string text = error.GetText();
                CUIApplication::Get()->PostCall([this, alive, path, text] {
                    if (*alive)
                        AddErrorRow(path, text);
                });
            }
        });
    }
    CProcessingDialog().Run(this, std::move(tasks));
    Refresh(true);
}

void CUploadListView::SortChanged() {
    m_rows.Resort(m_columns);
    // The scheduler starts pictures in the order the list shows them.
    CUploadListColumns columns = m_columns;
    m_queue.GetSession().SetOrderingRule([columns](const UploadJob& a, const UploadJob& b) {
        const std::string nameA = a.GetFileName();
        const std::string nameB = b.GetFileName();
        return columns.Less({nameA, a.GetSize(), static_cast<int>(a.GetStatus())},
                            {nameB, b.GetSize(), static_cast<int>(b.GetStatus())});
    });
    Redraw();
}

// --- Refresh and the run's state ------------------------------------------------------------------

bool CUploadListView::IsRunning() const {
    return !m_queue.IsPaused() && m_queue.GetPendingCount() > 0;
}

void CUploadListView::Refresh(bool force) {
    m_queue.Refresh();
    const size_t countBefore = m_rows.Count();
    const bool changed = m_rows.Refresh(m_queue, m_columns, force);
    if (changed) {
        // A button may have gone from under a pointer that stays still: its tooltip goes with it.
        UpdateToolTip();
        if (m_rows.Count() > countBefore)
            m_showCompletion = false;
        // Pictures that left the queue (complete, or removed elsewhere) leave the selection too.
        for (const std::string& path : m_selection.GetElements()) {
            const bool refused = std::any_of(m_addErrors.begin(), m_addErrors.end(),
                                             [&](const AddError& row) { return row.path == path; });
            if (!refused && !m_queue.Contains(path))
                m_selection.Deselect(path);
        }
        m_focusRow = std::min(m_focusRow, GetRowCount() == 0 ? 0 : GetRowCount() - 1);
        ScrollTo(static_cast<long long>(m_topRow));
        UpdateColumnWidths();
    }
    FollowRunState();
    UpdateCommands();
    if (changed) {
        Redraw();
    } else {
        // The footer's percentage and estimate move with the clock.
        Redraw(&m_layout.footer);
    }
}

void CUploadListView::FollowRunState() {
    const bool paused = m_queue.IsPaused();
    const bool running = IsRunning();
    // A run can start and end between two refreshes (a picture refused at once): senders launched
    // meanwhile mean it ran.
    const uint64_t launches = m_queue.GetLaunchCount();
    const bool ranMeanwhile = launches != m_launchesSeen;
    m_launchesSeen = launches;
    const bool wasRunning = m_wasRunning || (ranMeanwhile && m_runStateKnown);
    // The state at creation counts as a change, so that the button wears the right template at once.
    if (!m_runStateKnown || paused != m_wasPaused || running != wasRunning) {
        m_runStateKnown = true;
        bool autoStart = true;
        bool alertDone = false;
        CNameValueDocument preferences;
        try {
            LoadPreferences(preferences);
            autoStart = GetAutoStart(preferences);
            alertDone = GetAlertDone(preferences);
        } catch (const CException&) {
        }
        const UploadResumeTemplate before = m_resumeTemplate;
        m_resumeTemplate = ChooseResumeTemplate(m_resumeTemplate, running, paused, autoStart);
        if (before != m_resumeTemplate) {
            const auto& image =
                m_resumeTemplate == UploadResumeTemplate::Start ? m_startImage : m_resumeImage;
            if (image)
                m_resume.SetTemplate(*image);
        }
        switch (DecideCompletion(wasRunning, running, alertDone, paused && m_queue.GetPendingCount() > 0)) {
        case UploadCompletionAction::ClearCounts:
            m_showCompletion = true;
            m_queue.ResetCounters();
            break;
        case UploadCompletionAction::PostStatusTask:
            m_showCompletion = true;
            CUIApplication::Get()->PostTask(new CompletionTask(*this, m_alive));
            break;
        case UploadCompletionAction::None:
            break;
        }
        if (paused != m_wasPaused)
            UpdateLayout();
        m_wasPaused = paused;
        m_wasRunning = running;
        Redraw();
    }
}

void CUploadListView::ShowCompletion() {
    const size_t successes = m_queue.GetCompletedCount();
    const size_t failures = m_queue.GetFailedCount();
    if (!ShouldShowTransferStatus(IsRunning(), successes, failures))
        return;
    const int result = m_dialogs.RunTransferStatus(*this, successes, failures);
    if (result == 1 && !m_viewURL.empty())
        platform::OpenURL(m_viewURL); // a navigation that fails is not the user's concern here
    m_queue.ResetCounters();
}

void CUploadListView::UpdateCommands() {
    for (CUploadListCommand* command : m_commands) {
        if (command != nullptr)
            command->Update();
    }
}

// --- Layout ---------------------------------------------------------------------------------------

void CUploadListView::Redraw(const CUIRect* rect) {
    // A view without a window (painted off screen) has nothing to invalidate.
    if (GetHandle() != nullptr)
        Invalidate(rect);
}

void CUploadListView::Layout(CUISize client) {
    m_client = client;
    UpdateLayout();
}

void CUploadListView::UpdateLayout() {
    UploadListLayoutInput in{};
    in.client = m_client;
    in.dialogFontHeight = m_dialogFont.GetHeight();
    in.iconTitleFontHeight = m_titleFont.GetHeight();
    in.remove = m_remove.GetSize();
    in.pause = m_pause.GetSize();
    // Resume and Start share the place; the wider of the two decides it.
    in.resume = m_resume.GetSize();
    if (m_startImage && m_resumeImage)
        in.resume = {std::max(m_startImage->Width(), m_resumeImage->Width()), m_resume.GetSize().cy};
    in.retry = m_retry.GetSize();
    in.choose = m_choose.GetSize();
    in.preferences = m_preferences.GetSize();
    m_layout = ComputeUploadListLayout(in);
    m_remove.SetPosition({m_layout.remove.left, m_layout.remove.top});
    m_pause.SetPosition({m_layout.pause.left, m_layout.pause.top});
    m_resume.SetPosition({m_layout.resume.left, m_layout.resume.top});
    m_retry.SetPosition({m_layout.retry.left, m_layout.retry.top});
    m_choose.SetPosition({m_layout.choose.left, m_layout.choose.top});
    m_preferences.SetPosition({m_layout.preferences.left, m_layout.preferences.top});
    m_rowHeight = std::max(m_iconSize, m_titleFont.GetHeight()) + kCellPadding;
    ScrollTo(static_cast<long long>(m_topRow));
    UpdateColumnWidths();
    TraceLayout();
}

// Where the pieces a person clicks are, for whoever drives the window from outside (and reads the
// trace to find them).
void CUploadListView::TraceLayout() const {
    if (!IsTraceEnabled("ui", 1))
        return;
    auto box = [](const CUIRect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
               std::to_string(r.bottom);
    };
    const CUIRect status = ColumnRect(2, m_layout.rows);
    Trace("ui", 1,
          "upload list layout: pause %s remove %s retry %s rows %s row %d status %d,%d choose %s preferences "
          "%s",
          box(m_layout.pause).c_str(), box(m_layout.remove).c_str(), box(m_layout.retry).c_str(),
          box(m_layout.rows).c_str(), m_rowHeight, status.left + kTextPadding, status.right,
          box(m_layout.choose).c_str(), box(m_layout.preferences).c_str());
}

bool CUploadListView::IsPauseButtonShown() const {
    return !m_queue.IsPaused();
}

std::vector<CUIPushArea*> CUploadListView::VisibleButtons() {
    std::vector<CUIPushArea*> buttons{&m_choose, &m_preferences};
    // The empty list's hint takes the place of the row of buttons, none of which could act anyway.
    if (!IsEmpty() || m_disabled) {
        buttons.push_back(&m_remove);
        buttons.push_back(IsPauseButtonShown() ? static_cast<CUIPushArea*>(&m_pause) : &m_resume);
        buttons.push_back(&m_retry);
    }
    return buttons;
}

bool CUploadListView::HasScrollBar() const {
    const int height = m_layout.rows.Height();
    return m_rowHeight > 0 && static_cast<long long>(GetRowCount()) * m_rowHeight > height;
}

CUIRect CUploadListView::RowsArea() const {
    CUIRect area = m_layout.rows;
    if (HasScrollBar())
        area.right = std::max(area.left, area.right - kScrollBarWidth);
    return area;
}

CUIRect CUploadListView::ScrollBarRect() const {
    const CUIRect& rows = m_layout.rows;
    return {std::max(rows.left, rows.right - kScrollBarWidth), rows.top, rows.right, rows.bottom};
}

size_t CUploadListView::VisibleRowCount() const {
    return m_rowHeight > 0 ? static_cast<size_t>(std::max(0, m_layout.rows.Height() / m_rowHeight)) : 0;
}

CUIRect CUploadListView::ScrollThumbRect() const {
    const CUIRect bar = ScrollBarRect();
    const size_t count = GetRowCount();
    const size_t visible = std::max<size_t>(1, VisibleRowCount());
    if (count == 0 || bar.Height() <= 0)
        return bar;
    const int track = bar.Height();
    int thumb = static_cast<int>(static_cast<long long>(track) * std::min(visible, count) / count);
    thumb = std::min(track, std::max(kMinThumbHeight, thumb));
    const size_t maxTop = count > visible ? count - visible : 0;
    const int top =
        maxTop == 0 ? 0 : static_cast<int>(static_cast<long long>(track - thumb) * m_topRow / maxTop);
    return {bar.left, bar.top + top, bar.right, bar.top + top + thumb};
}

void CUploadListView::ScrollTo(long long topRow) {
    const size_t count = GetRowCount();
    const size_t visible = VisibleRowCount();
    const long long maxTop = count > visible ? static_cast<long long>(count - visible) : 0;
    const size_t top = static_cast<size_t>(std::clamp<long long>(topRow, 0, maxTop));
    if (top == m_topRow)
        return;
    m_topRow = top;
    // What was asked for the rows that scrolled away is no longer wanted.
    m_worker->CancelAll();
    m_requested.clear();
    Redraw(&m_layout.list);
}

void CUploadListView::EnsureVisible(size_t index) {
    const size_t visible = std::max<size_t>(1, VisibleRowCount());
    if (index < m_topRow)
        ScrollTo(static_cast<long long>(index));
    else if (index >= m_topRow + visible)
        ScrollTo(static_cast<long long>(index - visible + 1));
}

void CUploadListView::UpdateColumnWidths() {
    const int available = RowsArea().Width();
    int used = 0;
    for (int i = 0; i < kUploadListColumnCount; ++i) {
        int width = m_columns.Width(CUploadListColumns::ColumnAt(i));
        // The stored widths suit a smaller font than some desktops give: sizes stay readable.
        if (CUploadListColumns::ColumnAt(i) == UploadListColumn::Size)
            width = std::max(width, m_sizeTextWidth);
        // The last column takes what is left of the row, so that its text is cut only when it must be.
        if (i == kUploadListColumnCount - 1)
            width = std::max(width, available - used);
        m_shownWidths[i] = width;
        used += width;
    }
}

CUIRect CUploadListView::ColumnRect(int index, const CUIRect& band) const {
    int left = band.left;
    for (int i = 0; i < index; ++i)
        left += m_shownWidths[i];
    return CUIRect{left, band.top, left + m_shownWidths[index], band.bottom}.Intersect(band);
}

CUIRect CUploadListView::GetColumnRect(int index) const {
    CUIRect band = m_layout.columnTitles;
    band.right = RowsArea().right;
    return ColumnRect(index, band);
}

// --- Painting -------------------------------------------------------------------------------------

void CUploadListView::Paint(CUIDrawableRep& dc) {
    if (m_cornersForDrop != m_dragOver)
        RenderCorners();
    dc.PushClip();
    PaintFrame(dc);
    PaintHeader(dc);
    if (m_disabled) {
        dc.SetColor(255, 255, 255);
        dc.FillRect(m_layout.list);
    } else if (IsEmpty()) {
        PaintEmptyList(dc);
    } else {
        PaintColumnTitles(dc);
        PaintRows(dc);
    }
    PaintFooter(dc);
    dc.PopClip();
}

void CUploadListView::PaintFrame(CUIDrawableRep& dc) {
    const CUIRect client{0, 0, m_client.cx, m_client.cy};
    const int w = client.Width();
    const int h = client.Height();
    const int e = kUploadListEdge;
    const int r = kUploadListCornerRadius;
    dc.SetColor(m_backgroundColor);
    dc.FillRect(client);
    dc.SetColor(m_dragOver ? m_dropColor : m_edgeColor);
    dc.FillRect({r, 0, w - r, e});
    dc.FillRect({r, h - e, w - r, h});
    dc.FillRect({0, r, e, h - r});
    dc.FillRect({w - e, r, w, h - r});
    for (auto corner : {CUploadListCorners::TopLeft, CUploadListCorners::TopRight,
                        CUploadListCorners::BottomLeft, CUploadListCorners::BottomRight}) {
        const CUIPoint at{(corner & CUploadListCorners::TopRight) ? w - r : 0,
                          (corner & CUploadListCorners::BottomLeft) ? h - r : 0};
        dc.DrawImage(at, m_corners.Image(corner), &m_corners.Mask(corner));
    }
    for (CUIPushArea* area : VisibleButtons()) {
        if (area == &m_preferences)
            m_preferences.Draw(dc);
        else
            static_cast<CUIImageButton*>(area)->Draw(dc);
    }
    if (IsEmpty() && !m_disabled && m_dropHint) {
        const int y = h - e - 44 + (44 - m_dropHint->Height()) / 2;
        dc.DrawImage({w - e - m_dropHint->Width() - 8, y}, *m_dropHint);
    }
}

void CUploadListView::PaintHeader(CUIDrawableRep& dc) {
    const CUIRect& area = m_layout.headerText;
    if (area.IsEmpty())
        return;
    dc.SetFont(m_dialogFont);
    dc.SetSystemColor(platform::kColorWindowText);
    const TextWidthMeasure measure = [&](std::string_view text) { return dc.MeasureText(text).cx; };
    const std::string text =
        FitTextToWidth(FormatAlbumHeaderText(m_albumName), area.Width(), m_ellipsis, measure);
    dc.DrawText(area, text, platform::kTextLeft | platform::kTextVCenter | platform::kTextSingleLine);
}

void CUploadListView::PaintEmptyList(CUIDrawableRep& dc) {
    const CUIRect& list = m_layout.list;
    dc.SetColor(255, 255, 255);
    dc.FillRect(list);
    if (!m_emptyPicture)
        return;
    const CUIPoint at{list.left + (list.Width() - m_emptyPicture->Width()) / 2,
                      list.top + (list.Height() - m_emptyPicture->Height()) / 2};
    dc.PushClip();
    dc.IntersectClip(list);
    dc.DrawImage(at, *m_emptyPicture);
    dc.PopClip();
}

void CUploadListView::PaintColumnTitles(CUIDrawableRep& dc) {
    const CUIRect band = m_layout.columnTitles;
    if (band.IsEmpty())
        return;
    dc.PushClip();
    dc.IntersectClip(band);
    dc.SetSystemColor(platform::kColorBtnFace);
    dc.FillRect(band);
    dc.SetFont(m_titleFont);
    const TextWidthMeasure measure = [&](std::string_view text) { return dc.MeasureText(text).cx; };
    for (int i = 0; i < kUploadListColumnCount; ++i) {
        const UploadListColumn column = CUploadListColumns::ColumnAt(i);
        CUIRect cell = ColumnRect(i, band);
        if (i == m_resizedColumn)
            cell.right = cell.left + m_resizeWidth;
        if (cell.IsEmpty())
            continue;
        const bool pressed = m_pressedTitle == i;
        dc.SetSystemColor(pressed ? platform::kColorBtnShadow : platform::kColorBtnFace);
        dc.FillRect(cell);
        dc.SetSystemColor(platform::kColorBtnShadow);
        dc.FillRect({cell.right - 1, cell.top, cell.right, cell.bottom});
        dc.FillRect({cell.left, cell.bottom - 1, cell.right, cell.bottom});
        CUIRect textRect{cell.left + kCellPadding, cell.top, cell.right - kCellPadding, cell.bottom};
        const int position = m_columns.SortPosition(column);
        const CUIImage* arrow = nullptr;
        const CUIImage* arrowMask = nullptr;
        if (position >= 0) {
            const size_t which = (position == 0 ? 0 : 2) + (m_columns.Ascending(column) ? 0 : 1);
            if (m_sortArrows[which]) {
                arrow = &*m_sortArrows[which];
                arrowMask = &m_sortArrowMasks[which];
            }
        }
        if (arrow != nullptr)
            textRect.right -= arrow->Width() + kCellPadding;
        dc.SetSystemColor(platform::kColorBtnText);
        const std::string title = FitTextToWidth(m_columnTitles[i], textRect.Width(), m_ellipsis, measure);
        dc.DrawText(textRect, title,
                    platform::kTextLeft | platform::kTextVCenter | platform::kTextSingleLine);
        if (arrow != nullptr) {
            const CUIPoint at{cell.right - kCellPadding - arrow->Width(),
                              cell.top + (cell.Height() - arrow->Height()) / 2};
            dc.DrawImage(at, *arrow, arrowMask);
        }
    }
    dc.PopClip();
}

void CUploadListView::PaintRows(CUIDrawableRep& dc) {
    const CUIRect area = m_layout.rows;
    if (area.IsEmpty())
        return;
    dc.PushClip();
    dc.IntersectClip(area);
    dc.SetColor(m_pageColor);
    dc.FillRect(area);
    const CUIRect rows = RowsArea();
    // Only the rows of the visible page are looked at, however long the list.
    const size_t count = GetRowCount();
    const size_t last = std::min(count, m_topRow + VisibleRowCount() + 1);
    for (size_t index = m_topRow; index < last; ++index) {
        const int top = rows.top + static_cast<int>(index - m_topRow) * m_rowHeight;
        PaintRow(dc, index, {rows.left, top, rows.right, top + m_rowHeight});
    }
    if (HasScrollBar())
        PaintScrollBar(dc);
    dc.PopClip();
    // Thumbnails kept for rows far away are let go, so that a long list does not hold them all.
    if (m_thumbnails.size() > kKeptThumbnails + VisibleRowCount()) {
        std::unordered_set<std::string> visible;
        for (size_t index = m_topRow; index < last; ++index)
            visible.insert(GetRowPath(index));
        std::erase_if(m_thumbnails, [&](const auto& entry) { return visible.count(entry.first) == 0; });
    }
}

void CUploadListView::PaintRow(CUIDrawableRep& dc, size_t index, const CUIRect& rect) {
    const bool queued = index < m_rows.Count();
    const std::string& path = GetRowPath(index);
    const bool selected = m_selection.Contains(path);
    std::string name, size, status;
    int state = kUploadStateFailed;
    if (queued) {
        const UploadListRow& row = m_rows.At(index);
        name = row.name;
        size = FormatSizeText(row.size);
        state = row.state;
        status = FormatStatusText(row.state, row.fraction);
    } else {
        name = m_addErrors[index - m_rows.Count()].name;
        status = FormatStatusText(kUploadStateFailed, 0);
    }
    if (selected) {
        dc.SetSystemColor(platform::kColorHighlight);
        dc.FillRect(rect);
    }
    dc.SetFont(m_titleFont);
    const TextWidthMeasure measure = [&](std::string_view text) { return dc.MeasureText(text).cx; };
    const unsigned format = platform::kTextLeft | platform::kTextVCenter | platform::kTextSingleLine;
    const CUIColor textColor = selected ? CUIColor::FromSystem(platform::kColorHighlightText)
                                        : CUIColor::FromSystem(platform::kColorWindowText);

    // Picture: the thumbnail, at most IconSize square, then the name.
    CUIRect cell = ColumnRect(0, rect);
    if (!cell.IsEmpty()) {
        dc.PushClip();
        dc.IntersectClip(cell);
        const CUIRect box = CUIRect::FromSize(cell.left + 2, rect.top + (rect.Height() - m_iconSize) / 2,
                                              m_iconSize, m_iconSize);
        if (const CImagePair* thumbnail = FindThumbnail(path)) {
            const CUIPoint at{box.left + (m_iconSize - thumbnail->picture.Width()) / 2,
                              box.top + (m_iconSize - thumbnail->picture.Height()) / 2};
            const bool masked = thumbnail->mask.Width() == thumbnail->picture.Width() &&
                                thumbnail->mask.Height() == thumbnail->picture.Height();
            dc.DrawImage(at, thumbnail->picture, masked ? &thumbnail->mask : nullptr);
        }
        dc.SetColor(textColor);
        const CUIRect text{box.right + kCellPadding, rect.top, cell.right - kTextPadding, rect.bottom};
        dc.DrawText(text, FitTextToWidth(name, text.Width(), m_ellipsis, measure), format);
        dc.PopClip();
    }
    cell = ColumnRect(1, rect);
    if (!cell.IsEmpty()) {
        const CUIRect text{cell.left + kTextPadding, rect.top, cell.right - kTextPadding, rect.bottom};
        dc.SetColor(textColor);
        dc.DrawText(text, FitTextToWidth(size, text.Width(), m_ellipsis, measure), format);
    }
    cell = ColumnRect(2, rect);
    if (!cell.IsEmpty()) {
        const CUIRect text{cell.left + kTextPadding, rect.top, cell.right - kTextPadding, rect.bottom};
        // A failed item's status is a link to its details.
        dc.SetColor(state == kUploadStateFailed && !selected ? m_linkColor : textColor);
        dc.DrawText(text, FitTextToWidth(status, text.Width(), m_ellipsis, measure), format);
    }
}

void CUploadListView::PaintScrollBar(CUIDrawableRep& dc) {
    const CUIRect bar = ScrollBarRect();
    dc.SetSystemColor(platform::kColorScrollBar);
    dc.FillRect(bar);
    const CUIRect thumb = ScrollThumbRect();
    dc.SetSystemColor(platform::kColorBtnFace);
    dc.FillRect({thumb.left + 2, thumb.top + 1, thumb.right - 2, thumb.bottom - 1});
    dc.SetSystemColor(platform::kColorBtnShadow);
    dc.FrameRect({thumb.left + 2, thumb.top + 1, thumb.right - 2, thumb.bottom - 1});
}

void CUploadListView::PaintFooter(CUIDrawableRep& dc) {
    const int fontHeight = std::max(m_dialogFont.GetHeight(), m_titleFont.GetHeight());
    const unsigned format = platform::kTextLeft | platform::kTextVCenter | platform::kTextSingleLine;
    const TextWidthMeasure measure = [&](std::string_view text) { return dc.MeasureText(text).cx; };
    dc.SetFont(m_dialogFont);

    const std::string remaining =
        FormatRemainingCountText(m_queue.GetPendingCount(), m_queue.GetTotalCount());
    if (!remaining.empty() && !m_layout.footerLeft.IsEmpty()) {
        const CUIRect& left = m_layout.footerLeft;
        const CUIRect line{left.left, left.top + 2, left.right, left.top + 2 + fontHeight + 4};
        dc.SetSystemColor(platform::kColorBtnFace);
        dc.FillRect(line);
        dc.SetSystemColor(platform::kColorWindowText);
        dc.DrawText({line.left + 2, line.top, line.right - 2, line.bottom},
                    FitTextToWidth(remaining, line.Width() - 4, m_ellipsis, measure), format);
    }

    const CUIRect& right = m_layout.footerRight;
    if (right.IsEmpty())
        return;
    const UploadJob& totals = m_queue.GetSession().GetTotals();
    const int state = static_cast<int>(totals.GetStatus());
    if (!m_queue.IsPaused() && state == kUploadStateActive) {
        const CUIRect bar{right.left, right.top + 2, right.right, right.top + 2 + fontHeight + 4};
        const double fraction = std::clamp(totals.GetFractionDone(), 0.0, 1.0);
        dc.SetColor(255, 255, 255);
        dc.FillRect(bar);
        dc.SetSystemColor(platform::kColorHighlight);
        dc.FillRect({bar.left + 1, bar.top + 1, bar.left + 1 + static_cast<int>((bar.Width() - 2) * fraction),
                     bar.bottom - 1});
        dc.SetSystemColor(platform::kColorBtnShadow);
        dc.FrameRect(bar);
        dc.SetSystemColor(platform::kColorWindowText);
        dc.DrawText(bar, FormatStatusText(kUploadStateActive, fraction),
                    platform::kTextCenter | platform::kTextVCenter | platform::kTextSingleLine);
        const std::string estimate = m_timeTable.Format(state, totals.GetEstimatedSecondsRemaining());
        const CUIRect below{right.left, bar.bottom + 2, right.right, bar.bottom + 2 + fontHeight};
        dc.DrawText(below, FitTextToWidth(estimate, below.Width(), m_ellipsis, measure), format);
        return;
    }
    if (m_showCompletion && !m_disabled && !IsEmpty() && !IsRunning()) {
        const std::string text =
            platform::LoadText(m_queue.HasFailed() ? kStringUploadErrors : kStringUploadComplete);
        dc.SetSystemColor(platform::kColorWindowText);
        dc.DrawText({right.left, right.top + 2, right.right, right.top + 2 + fontHeight + 4},
                    FitTextToWidth(text, right.Width(), m_ellipsis, measure), format);
    }
}

// --- Thumbnails -----------------------------------------------------------------------------------

const CImagePair* CUploadListView::FindThumbnail(const std::string& path) {
    auto found = m_thumbnails.find(path);
    if (found != m_thumbnails.end())
        return &found->second;
    // Painting never waits: the decode is asked for once, and the row is drawn again when it comes.
    if (m_requested.insert(path).second) {
        std::shared_ptr<bool> alive = m_alive;
        m_worker->Request(path, CSizeSpec{m_iconSize, false},
                          [this, alive](const std::string& done, const CImagePair& image, int) {
                              CUIApplication* app = CUIApplication::Get();
                              if (app == nullptr)
                                  return;
                              app->PostCall([this, alive, done, image] {
                                  if (*alive)
                                      OnThumbnail(done, image);
                              });
                          });
    }
    return nullptr;
}

void CUploadListView::OnThumbnail(const std::string& path, const CImagePair& image) {
    m_requested.erase(path);
    m_thumbnails[path] = image;
    Redraw(&m_layout.rows);
}

// --- Input ----------------------------------------------------------------------------------------

bool CUploadListView::HandleMessage(const ui::Message& message, ui::LResult&) {
    switch (message.message) {
    case ui::kWmPaint: {
        PaintUpdate([this](CUIDrawableRep& dc, const CUIRect&) { Paint(dc); });
        return true;
    }
    case ui::kWmSize:
        Layout({GetClientRect().Width(), GetClientRect().Height()});
        Redraw();
        return true;
    case ui::kWmLButtonDown:
        OnButtonDown(PointOf(message.lParam), message.wParam, Click::Single);
        return true;
    case ui::kWmLButtonDblClk:
        OnButtonDown(PointOf(message.lParam), message.wParam, Click::Double);
        return true;
    case ui::kWmMouseMove:
        OnMouseMove(PointOf(message.lParam));
        return true;
    case ui::kWmLButtonUp:
        OnButtonUp(PointOf(message.lParam));
        return true;
    case ui::kWmMouseWheel:
        OnWheel(static_cast<int16_t>(ui::HiWord(message.wParam)));
        return true;
    case ui::kWmContextMenu:
        OnContextMenu(message.lParam);
        return true;
    case ui::kWmKeyDown:
    case ui::kWmKeyUp:
    case ui::kWmChar:
        if (TranslateAccelerator(message))
            return true;
        return false;
    default:
        return false;
    }
}

bool CUploadListView::TranslateAccelerator(const ui::Message& message) {
    if (message.message == ui::kWmKeyUp) {
        if (message.wParam == ui::kVkShift)
            m_shiftDown = false;
        return false;
    }
    if (message.message == ui::kWmChar) {
        switch (message.wParam) {
        case ui::kVkBack: // the character Backspace
            CUIApplication::Get()->DispatchCommand(GetCommandId(UploadListCommandKind::Remove));
            return true;
        case 1: // Ctrl+A
            SelectAll();
            return true;
        default:
            return false;
        }
    }
    if (message.message != ui::kWmKeyDown)
        return false;
    switch (message.wParam) {
    case ui::kVkShift:
        m_shiftDown = true;
        return false;
    case ui::kVkDelete:
        CUIApplication::Get()->DispatchCommand(GetCommandId(UploadListCommandKind::Remove));
        return true;
    case ui::kVkUp:
        MoveFocusRow(-1);
        return true;
    case ui::kVkDown:
        MoveFocusRow(1);
        return true;
    case ui::kVkPrior:
        MoveFocusRow(-static_cast<int>(std::max<size_t>(1, VisibleRowCount())));
        return true;
    case ui::kVkNext:
        MoveFocusRow(static_cast<int>(std::max<size_t>(1, VisibleRowCount())));
        return true;
    case ui::kVkHome:
        MoveFocusRow(-static_cast<int>(GetRowCount()));
        return true;
    case ui::kVkEnd:
        MoveFocusRow(static_cast<int>(GetRowCount()));
        return true;
    default:
        return false;
    }
}

void CUploadListView::SelectAll() {
    m_selection.SelectAll();
    for (const AddError& row : m_addErrors)
        m_selection.Select(row.path);
    UpdateCommands();
    Redraw(&m_layout.list);
}

void CUploadListView::MoveFocusRow(int step) {
    const size_t count = GetRowCount();
    if (count == 0)
        return;
    const long long target = std::clamp<long long>(static_cast<long long>(m_focusRow) + step, 0,
                                                   static_cast<long long>(count) - 1);
    ClickRow(static_cast<size_t>(target), m_shiftDown ? ui::kMkShift : 0);
}

void CUploadListView::ClickRow(size_t index, ui::WParam keys) {
    const std::string path = GetRowPath(index);
    if ((keys & ui::kMkShift) != 0) {
        const size_t from = std::min(m_anchorRow, index);
        const size_t to = std::min(GetRowCount() - 1, std::max(m_anchorRow, index));
        if ((keys & ui::kMkControl) == 0)
            m_selection.Clear();
        for (size_t i = from; i <= to; ++i)
            m_selection.Select(GetRowPath(i));
    } else if ((keys & ui::kMkControl) != 0) {
        if (m_selection.Contains(path))
            m_selection.Deselect(path);
        else
            m_selection.Select(path);
        m_anchorRow = index;
    } else {
        m_selection.Clear();
        m_selection.Select(path);
        m_anchorRow = index;
    }
    m_focusRow = index;
    EnsureVisible(index);
    UpdateCommands();
    Redraw(&m_layout.list);
}

int CUploadListView::HitColumnTitle(CUIPoint point, bool& border) const {
    border = false;
    const CUIRect band = m_layout.columnTitles;
    if (!band.Contains(point) || IsEmpty() || m_disabled)
        return -1;
    for (int i = 0; i < kUploadListColumnCount; ++i) {
        const CUIRect cell = ColumnRect(i, band);
        if (std::abs(point.x - cell.right) <= kTitleBorderGrip) {
            border = true;
            return i;
        }
        if (cell.Contains(point))
            return i;
    }
    return -1;
}

bool CUploadListView::HitFailedStatus(CUIPoint point, std::string& path, std::string& refusal) {
    const CUIRect rows = RowsArea();
    if (!rows.Contains(point) || m_rowHeight <= 0)
        return false;
    const size_t index = m_topRow + static_cast<size_t>((point.y - rows.top) / m_rowHeight);
    if (index >= GetRowCount())
        return false;
    const bool failed = index >= m_rows.Count() || m_rows.At(index).state == kUploadStateFailed;
    if (!failed)
        return false;
    const CUIRect cell = ColumnRect(2, rows);
    const int textLeft = cell.left + kTextPadding;
    const int textWidth = m_titleFont.IsEmpty() ? cell.Width() : [&] {
        CUIDrawable probe = CUIDrawable::ForMemory(1, 1);
        probe->SetFont(m_titleFont);
        return probe->MeasureText(FormatStatusText(kUploadStateFailed, 0)).cx;
    }();
    if (point.x < textLeft || point.x >= std::min(cell.right, textLeft + textWidth))
        return false;
    path = GetRowPath(index);
    refusal = index >= m_rows.Count() ? m_addErrors[index - m_rows.Count()].text : std::string();
    return true;
}

void CUploadListView::OnButtonDown(CUIPoint point, ui::WParam keys, Click click) {
    SetFocus();
    for (CUIPushArea* area : VisibleButtons()) {
        if (area->OnButtonDown(point, 0)) {
            m_pressedButton = area;
            SetCapture();
            Redraw();
            return;
        }
    }
    bool border = false;
    const int title = HitColumnTitle(point, border);
    if (title >= 0) {
        SetCapture();
        if (border) {
            m_resizedColumn = title;
            m_resizeStartX = point.x;
            m_resizeStartWidth = m_shownWidths[title];
            m_resizeWidth = m_resizeStartWidth;
        } else {
            m_pressedTitle = title;
        }
        Redraw(&m_layout.columnTitles);
        return;
    }
    if (HasScrollBar() && ScrollBarRect().Contains(point)) {
        const CUIRect thumb = ScrollThumbRect();
        if (thumb.Contains(point)) {
            m_draggingThumb = true;
            m_thumbGrabOffset = point.y - thumb.top;
            SetCapture();
        } else {
            const long long page = static_cast<long long>(std::max<size_t>(1, VisibleRowCount()));
            ScrollTo(static_cast<long long>(m_topRow) + (point.y < thumb.top ? -page : page));
        }
        return;
    }
    if (IsEmpty() || m_disabled)
        return;
    std::string failedPath, refusal;
    // The second press of a double click has opened the details already with its first.
    if ((keys & (ui::kMkShift | ui::kMkControl)) == 0 && HitFailedStatus(point, failedPath, refusal)) {
        if (click == Click::Double)
            return;
        m_dialogs.ShowTransferFailed(*this, failedPath, refusal);
        return;
    }
    const CUIRect rows = RowsArea();
    if (rows.Contains(point) && m_rowHeight > 0) {
        const size_t index = m_topRow + static_cast<size_t>((point.y - rows.top) / m_rowHeight);
        if (index < GetRowCount())
            ClickRow(index, keys);
    }
}

void CUploadListView::UpdateToolTip() {
    // The tooltip is the description of the command under the pointer.
    std::string tip;
    for (CUIPushArea* area : VisibleButtons()) {
        if (m_pointer && area->HitTest(*m_pointer)) {
            if (const auto* command = dynamic_cast<const CUploadListCommand*>(area->GetCommand()))
                tip = command->GetDescription();
            break;
        }
    }
    if (tip != GetToolTip())
        SetToolTip(tip);
}

void CUploadListView::OnMouseMove(CUIPoint point) {
    m_pointer = point;
    UpdateToolTip();
    if (m_pressedButton != nullptr) {
        if (m_pressedButton->OnMouseMove(point))
            Redraw();
        return;
    }
    if (m_resizedColumn >= 0) {
        m_resizeWidth = std::max(kMinColumnWidth, m_resizeStartWidth + point.x - m_resizeStartX);
        Redraw(&m_layout.columnTitles);
        return;
    }
    if (m_draggingThumb) {
        const CUIRect bar = ScrollBarRect();
        const CUIRect thumb = ScrollThumbRect();
        const int track = bar.Height() - thumb.Height();
        const size_t count = GetRowCount();
        const size_t visible = VisibleRowCount();
        if (track > 0 && count > visible) {
            const long long offset = point.y - m_thumbGrabOffset - bar.top;
            ScrollTo(offset * static_cast<long long>(count - visible) / track);
        }
    }
}

void CUploadListView::OnButtonUp(CUIPoint point) {
    ReleaseCapture();
    if (m_pressedButton != nullptr) {
        CUIPushArea* area = m_pressedButton;
        m_pressedButton = nullptr;
        Redraw();
        area->OnButtonUp(point, 0); // last: the command may run a modal dialog
        return;
    }
    if (m_resizedColumn >= 0) {
        const int column = m_resizedColumn;
        m_resizedColumn = -1;
        m_columns.SetWidth(CUploadListColumns::ColumnAt(column),
                           std::max(kMinColumnWidth, m_resizeStartWidth + point.x - m_resizeStartX));
        UpdateColumnWidths();
        Redraw(&m_layout.list);
        return;
    }
    if (m_pressedTitle >= 0) {
        const int title = m_pressedTitle;
        m_pressedTitle = -1;
        bool border = false;
        if (HitColumnTitle(point, border) == title && !border) {
            m_columns.ClickTitle(CUploadListColumns::ColumnAt(title));
            SortChanged();
        }
        Redraw(&m_layout.list);
        return;
    }
    m_draggingThumb = false;
}

void CUploadListView::OnWheel(int delta) {
    const long long rows = -static_cast<long long>(delta) * kWheelRows / kWheelStep;
    ScrollTo(static_cast<long long>(m_topRow) + (rows == 0 ? (delta > 0 ? -1 : 1) : rows));
}

void CUploadListView::OnContextMenu(ui::LParam lParam) {
    CUIMenu menu;
    try {
        CUIMenu resource = CUIMenu::Load(kContextMenuId);
        const int position = resource.FindSubMenu("Context");
        menu = resource.GetSubMenu(position >= 0 ? position : 0);
    } catch (const CException&) {
        return;
    }
    // The menu's items carry the resource's ids; the commands answer them by their menu ids.
    for (CUploadListCommand* command : m_commands) {
        if (command != nullptr && command->GetMenuId() != 0 && menu.HasItem(command->GetMenuId())) {
            menu.EnableItem(command->GetMenuId(), command->IsEnabled());
            menu.CheckItem(command->GetMenuId(), command->IsChecked());
        }
    }
    CUIPoint screen =
        lParam == -1 ? ClientToScreen({m_layout.rows.left + 8, m_layout.rows.top + 8}) : PointOf(lParam);
    const int chosen = menu.Track(*this, screen, platform::kTpmReturnCmd);
    for (size_t i = 0; i < m_commands.size(); ++i) {
        if (chosen != 0 && m_commands[i] != nullptr && m_commands[i]->GetMenuId() == chosen) {
            CUIApplication::Get()->DispatchCommand(m_commandIds[i]);
            break;
        }
    }
}

// --- Drag and drop --------------------------------------------------------------------------------

void CUploadListView::OnDragOver(bool inside) {
    if (m_dragOver == inside)
        return;
    m_dragOver = inside;
    Redraw();
}

void CUploadListView::OnDropFiles(const std::vector<std::string>& paths, CUIPoint) {
    m_dragOver = false;
    Redraw();
    AddFiles(paths);
}
