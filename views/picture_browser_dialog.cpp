#include "views/picture_browser_dialog.h"

#include "foundation/trace.h"
#include "platform/folder_tree.h"
#include "platform/frame_style.h"
#include "platform/resources.h"
#include "platform/shell_folders.h"
#include "platform/system_colors.h"
#include "ui/application.h"
#include "ui/drawable.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "views/upload_list_fit.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr uint32_t kBitmapSelect = 176;
constexpr uint32_t kBitmapSeparator = 183;
constexpr uint32_t kBitmapBack = 184;
constexpr uint32_t kBitmapOpen = 185;
constexpr uint32_t kBitmapUp = 186;
constexpr uint32_t kBitmapAdd = 187;
constexpr uint32_t kBitmapViewThumbnails = 188;
constexpr uint32_t kBitmapViewDetails = 189;
constexpr uint32_t kBitmapArrow = 207;
constexpr uint32_t kBitmapCancel = 209;
constexpr uint32_t kBitmapAll = 210;
constexpr uint32_t kBitmapNone = 211;
constexpr uint32_t kBitmapBottomSeparator = 213;

// The folder chooser's box: its height, and how far the folder tree reaches below it.
constexpr int kChooserHeight = 21;
constexpr int kTreeHeight = 320;

// The face the toolbar's and the bottom row's bitmaps are drawn on.
const CUIColor kDialogGround(0xf6, 0xf5, 0xf4);

std::optional<CUIImage> Bitmap(uint32_t id) {
    return CUIImage::FromResource(id);
}

std::string HomeFolder() {
    const char* home = getenv("HOME");
    return home != nullptr && home[0] == '/' ? home : "/";
}

} // namespace

CPictureBrowserDialog::CPictureBrowserDialog()
    : m_back(Bitmap(kBitmapBack), 3, [this] { Back(); }), m_up(Bitmap(kBitmapUp), 3, [this] { Up(); }),
      m_open(Bitmap(kBitmapOpen), 3, [this] { OpenSelected(); }),
      m_viewThumbnails(Bitmap(kBitmapViewThumbnails), 3, [this] { ShowViewMenu(); }),
      m_viewDetails(Bitmap(kBitmapViewDetails), 3, [this] { ShowViewMenu(); }),
      m_all(Bitmap(kBitmapAll), 3, [this] { TickAll(true); }),
      m_none(Bitmap(kBitmapNone), 3, [this] { TickAll(false); }),
      m_add(Bitmap(kBitmapAdd), 2, [this] { AddSelected(); }),
      m_cancel(Bitmap(kBitmapCancel), 2, [this] { Cancel(); }),
      m_toolbar([this](CUIDrawableRep& dc, const CUIRect& client) { PaintToolbar(dc, client); }),
      m_hint([this](CUIDrawableRep& dc, const CUIRect& client) { PaintHint(dc, client); }),
      m_bottom([this](CUIDrawableRep& dc, const CUIRect& client) { PaintBottom(dc, client); }),
      m_thumbnails(m_model, {[this](size_t index) { NavigateTo(m_model.GetEntries()[index].path); },
                             [this] { UpdateButtons(); }}),
      m_details(m_model, {[this](size_t index) { NavigateTo(m_model.GetEntries()[index].path); },
                          [this] { UpdateButtons(); }}) {
    m_systemFont = CUIFont::FromStandard(CUIFont::kSystemFont);
    m_separator = Bitmap(kBitmapSeparator);
    m_arrow = Bitmap(kBitmapArrow);
    m_selectLabel = Bitmap(kBitmapSelect);
    m_bottomSeparator = Bitmap(kBitmapBottomSeparator);
    m_viewDetails.SetVisible(false);
    for (CPictureStackButton* button : {&m_back, &m_up, &m_open, &m_viewThumbnails, &m_viewDetails})
        m_toolbar.AddButton(*button);
    for (CPictureStackButton* button : {&m_all, &m_none, &m_add, &m_cancel})
        m_bottom.AddButton(*button);
    m_toolbar.SetPressHandler([this](CUIPoint point) {
        if (m_chooser.Contains(point))
            ChooseFolder();
    });
}

CPictureBrowserDialog::~CPictureBrowserDialog() {
    // The children go before the dialog's window, which would otherwise take their windows with it.
    m_details.Destroy();
    m_thumbnails.Destroy();
    if (m_shortcuts)
        m_shortcuts->Destroy();
    m_bottom.Destroy();
    m_hint.Destroy();
    m_toolbar.Destroy();
}

int CPictureBrowserDialog::Run(CUIWindow* owner, const std::string& startFolder) {
    m_startFolder = startFolder;
    m_chosen.clear();
    Create(kTemplateId, owner);
    return RunModal();
}

std::string CPictureBrowserDialog::GetLastFolder() const {
    if (!m_model.HasCurrentFolder() || m_model.GetCurrentFolder() == kRecentLocation)
        return std::string();
    return m_model.GetCurrentFolder();
}

void CPictureBrowserDialog::OnInit() {
    m_scale = platform::GetScreenLogicalDpi() / 96.0;
    platform::SetFrameResizable(GetHandle());
    m_model.LoadRecentFolders();
    m_toolbar.CreateChild(*this);
    m_hint.CreateChild(*this);
    m_bottom.CreateChild(*this);
    m_shortcuts =
        std::make_unique<CPictureShortcutsBar>([this](const std::string& location) { NavigateTo(location); });
    m_shortcuts->CreateChild(*this);
    m_thumbnails.CreateChild(*this);
    m_details.CreateChild(*this);
    m_details.CreateList();
    Layout();
    m_toolbar.Show();
    m_hint.Show();
    m_bottom.Show();
    m_shortcuts->Show();
    m_thumbnails.Show();
    m_details.Show(false);

    std::string start = m_startFolder;
    if (start.empty() || !platform::IsShellFolder(start))
        start = platform::GetSpecialFolderPath(platform::SpecialFolder::MyPictures).value_or(HomeFolder());
    NavigateTo(start);
}

void CPictureBrowserDialog::OnEnd(int) {
    // Nothing more is decoded for a dialog that is gone.
    m_thumbnails.Reset();
}

void CPictureBrowserDialog::Layout() {
    const CUIRect client = GetClientRect();
    const int w = client.Width(), h = client.Height();
    const int viewTop = kToolbarHeight + kHintHeight;
    const int viewBottom = std::max(h - kBottomHeight, viewTop);
    m_toolbar.Move({0, 0, w, kToolbarHeight});
    m_hint.Move({CPictureShortcutsBar::kWidth, kToolbarHeight, w, viewTop});
    m_bottom.Move({0, viewBottom, w, std::max(h, viewBottom)});
    m_shortcuts->Move({0, kToolbarHeight, CPictureShortcutsBar::kWidth, viewBottom});
    const CUIRect view{CPictureShortcutsBar::kWidth, viewTop, std::max(w, CPictureShortcutsBar::kWidth + 1),
                       viewBottom};
    m_thumbnails.Move(view);
    m_details.Move(view);

    m_back.SetPosition({Scaled(20), 5});
    m_up.SetPosition({Scaled(60), 5});
    m_open.SetPosition({Scaled(100), 5});
    m_viewThumbnails.SetPosition({Scaled(155), 5});
    m_viewDetails.SetPosition({Scaled(155), 5});
    // The chooser reaches to 250 scaled pixels short of the dialog's width.
    m_chooser = CUIRect::FromSize(Scaled(220), 25, std::max(w - Scaled(250), 60), kChooserHeight);

    const int buttonsTop = 10;
    m_all.SetPosition({62, 16});
    m_none.SetPosition({62 + m_all.GetRect().Width() + 6, 16});
    const int cancelWidth = m_cancel.GetRect().Width();
    m_cancel.SetPosition({w - 12 - cancelWidth, buttonsTop});
    m_add.SetPosition({w - 12 - cancelWidth - 8 - m_add.GetRect().Width(), buttonsTop});
    m_toolbar.Refresh();
    m_bottom.Refresh();
    m_hint.Refresh();
    // Where the pieces a person clicks are, for whoever drives the dialog from outside.
    if (IsTraceEnabled("ui", 1)) {
        const CUIRect add = m_add.GetRect().Offset(0, viewBottom);
        Trace("ui", 1, "picture browser layout: grid %d,%d,%d,%d add %d,%d,%d,%d", view.left, view.top,
              view.right, view.bottom, add.left, add.top, add.right, add.bottom);
    }
}

CUIRect CPictureBrowserDialog::GetButtonRect(const CPictureStackButton& button,
                                             const CPicturePane& pane) const {
    const CUIRect pane_ = pane.GetWindowRect();
    const CUIRect dialog = GetWindowRect();
    return button.GetRect().Offset(pane_.left - dialog.left, pane_.top - dialog.top);
}

// --- Navigation -----------------------------------------------------------------------------------

void CPictureBrowserDialog::NavigateTo(const std::string& location) {
    if (m_model.HasCurrentFolder() && location == m_model.GetCurrentFolder())
        return;
    const platform::CursorShape cursor = GetCursor();
    SetCursor(platform::CursorShape::Wait);
    m_model.Navigate(location);
    AfterNavigation();
    SetCursor(cursor);
}

void CPictureBrowserDialog::Back() {
    const platform::CursorShape cursor = GetCursor();
    SetCursor(platform::CursorShape::Wait);
    if (m_model.GoBack())
        AfterNavigation();
    SetCursor(cursor);
}

void CPictureBrowserDialog::Up() {
    if (std::optional<std::string> parent = m_model.GetParent())
        NavigateTo(*parent);
}

std::optional<size_t> CPictureBrowserDialog::GetSelectedEntry() const {
    return m_mode == ViewMode::Thumbnails ? m_thumbnails.GetSelection() : m_details.GetSelection();
}

void CPictureBrowserDialog::OpenSelected() {
    std::optional<size_t> selected = GetSelectedEntry();
    if (selected && *selected < m_model.GetEntries().size() && !m_model.GetEntries()[*selected].IsPicture())
        NavigateTo(m_model.GetEntries()[*selected].path);
}

void CPictureBrowserDialog::AfterNavigation() {
    // The thumbnails of the folder left are abandoned here.
    m_thumbnails.Reset();
    m_details.Reset();
    UpdateButtons();
    m_hint.Refresh();
    m_toolbar.Refresh();
}

void CPictureBrowserDialog::UpdateButtons() {
    m_back.SetEnabled(m_model.CanGoBack());
    m_up.SetEnabled(m_model.GetParent().has_value());
    std::optional<size_t> selected = GetSelectedEntry();
    m_open.SetEnabled(selected && *selected < m_model.GetEntries().size() &&
                      !m_model.GetEntries()[*selected].IsPicture());
    m_toolbar.Refresh();
}

void CPictureBrowserDialog::ChooseFolder() {
    const CUIRect toolbar = m_toolbar.GetWindowRect();
    const CUIPoint screen{toolbar.left + m_chooser.left, toolbar.top + m_chooser.bottom};
    const std::string start =
        m_model.GetCurrentFolder() == kRecentLocation ? HomeFolder() : m_model.GetCurrentFolder();
    std::optional<std::string> chosen =
        platform::RunFolderTreePopup(GetHandle(), screen, {m_chooser.Width(), kTreeHeight}, start);
    if (chosen)
        NavigateTo(*chosen);
}

// --- View -----------------------------------------------------------------------------------------

void CPictureBrowserDialog::ShowViewMenu() {
    CUIMenu menu;
    menu.AppendItem(kMenuThumbnail, platform::LoadText(kStringThumbnail));
    menu.AppendItem(kMenuDetails, platform::LoadText(kStringDetails));
    // At the pointer, where the view-mode button was pressed.
    const int chosen =
        menu.Track(*this, m_toolbar.ClientToScreen(m_toolbar.GetLastPress()), platform::kTpmReturnCmd);
    if (chosen == kMenuThumbnail)
        SetViewMode(ViewMode::Thumbnails);
    else if (chosen == kMenuDetails)
        SetViewMode(ViewMode::Details);
}

void CPictureBrowserDialog::SetViewMode(ViewMode mode) {
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_viewThumbnails.SetVisible(mode == ViewMode::Thumbnails);
    m_viewDetails.SetVisible(mode == ViewMode::Details);
    if (mode == ViewMode::Details)
        m_details.UpdateTicks();
    else
        m_thumbnails.RedrawAll();
    m_thumbnails.Show(mode == ViewMode::Thumbnails);
    m_details.Show(mode == ViewMode::Details);
    UpdateButtons();
}

void CPictureBrowserDialog::TickAll(bool ticked) {
    m_model.TickAll(ticked);
    m_thumbnails.RedrawAll();
    m_details.UpdateTicks();
}

// --- Ending ---------------------------------------------------------------------------------------

void CPictureBrowserDialog::AddSelected() {
    std::vector<std::string> paths = m_model.GetTickedPaths();
    if (paths.empty()) {
        CUIMessageBox box(platform::LoadText(kStringNoPicturesCaption),
                          platform::LoadText(kStringNoPicturesText), CUIMessageBox::Buttons::Ok,
                          CUIMessageBox::Icon::Exclamation);
        box.Show(this);
        return; // the dialog stays open
    }
    m_model.RememberCurrentFolder();
    m_chosen = std::move(paths);
    End(ui::kIdOk);
}

void CPictureBrowserDialog::Cancel() {
    End(ui::kIdCancel);
}

bool CPictureBrowserDialog::HandleMessage(const ui::Message& message, ui::LResult& result) {
    if (message.message == ui::kWmSize && m_shortcuts) {
        Layout();
        return true;
    }
    return CUIDialog::HandleMessage(message, result);
}

// --- Painting -------------------------------------------------------------------------------------

void CPictureBrowserDialog::PaintToolbar(CUIDrawableRep& dc, const CUIRect& client) {
    dc.SetColor(kDialogGround);
    dc.FillRect(client);
    if (m_separator)
        dc.DrawImage({Scaled(140), 10}, *m_separator);
    dc.SetFont(m_systemFont);
    dc.SetColor(0, 0, 0);
    dc.DrawText({Scaled(220), 7}, platform::LoadText(kStringCurrentFolder));

    // The chooser: the current folder on white in a sunken box, the drop-down arrow at its right end.
    dc.SetColor(127, 157, 185);
    dc.FrameRect(m_chooser);
    const CUIRect inside{m_chooser.left + 1, m_chooser.top + 1, m_chooser.right - 1, m_chooser.bottom - 1};
    dc.SetColor(255, 255, 255);
    dc.FillRect(inside);
    const int arrowWidth = m_arrow ? m_arrow->Width() : 0;
    if (m_arrow)
        dc.DrawImage({inside.right - arrowWidth, inside.top + (inside.Height() - m_arrow->Height()) / 2},
                     *m_arrow);
    const std::string& current = m_model.GetCurrentFolder();
    const std::string shown =
        current == kRecentLocation ? platform::LoadText(CPictureShortcutsBar::kStringRecentFolders) : current;
    dc.SetFont(CUIFont::FromStandard(CUIFont::kDialogFont));
    dc.SetColor(0, 0, 0);
    const CUIRect text{inside.left + 4, inside.top, inside.right - arrowWidth - 2, inside.bottom};
    auto measure = [&dc](std::string_view t) { return dc.MeasureText(t).cx; };
    dc.DrawText(text, FitTextToWidth(shown, text.Width(), "...", measure),
                platform::kTextLeft | platform::kTextVCenter | platform::kTextSingleLine);
}

void CPictureBrowserDialog::PaintHint(CUIDrawableRep& dc, const CUIRect& client) {
    dc.SetColor(kDialogGround);
    dc.FillRect(client);
    dc.SetFont(CUIFont::FromStandard(CUIFont::kDialogFont));
    dc.SetColor(0, 0, 0);
    dc.DrawText({client.left + 8, client.top + 2, client.right - 8, client.bottom - 2},
                platform::LoadText(m_model.GetHint()), platform::kTextLeft | platform::kTextWordBreak);
}

void CPictureBrowserDialog::PaintBottom(CUIDrawableRep& dc, const CUIRect& client) {
    dc.SetColor(kDialogGround);
    dc.FillRect(client);
    if (m_bottomSeparator) {
        for (int x = 0; x < client.right; x += m_bottomSeparator->Width())
            dc.DrawImage({x, 2}, *m_bottomSeparator);
    }
    if (m_selectLabel)
        dc.DrawImage({12, 16}, *m_selectLabel);
}
