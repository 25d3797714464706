#include "views/picture_shortcuts_bar.h"

#include "platform/resources.h"
#include "platform/shell_folders.h"
#include "platform/system_colors.h"
#include "platform/window_system.h"
#include "ui/drawable.h"
#include "views/picture_browser_model.h"
#include "views/picture_browser_pane.h"
#include "views/upload_list_fit.h"

#include <algorithm>

namespace {

const CUIColor kGround(237, 237, 237);
constexpr int kIconSize = 32;

} // namespace

CPictureShortcutsBar::CPictureShortcutsBar(std::function<void(const std::string&)> navigate)
    : m_navigate(std::move(navigate)) {
    m_titleFont = CUIFont::FromStandard(CUIFont::kIconTitleFont);
    Entry recent;
    recent.location = kRecentLocation;
    recent.name = platform::LoadText(kStringRecentFolders);
    // The recent folders have no folder of their own, and so no icon but the theme's "recent" one.
    recent.icon = MakeNamedIconImage("document-open-recent", kIconSize, kGround);
    recent.litIcon = MakeNamedIconImage("document-open-recent", kIconSize,
                                        CUIColor::FromSystem(platform::kColorHighlight));
    m_entries.push_back(std::move(recent));
    for (platform::SpecialFolder folder :
         {platform::SpecialFolder::MyPictures, platform::SpecialFolder::MyDocuments,
          platform::SpecialFolder::MyComputer, platform::SpecialFolder::Desktop}) {
        std::optional<std::string> path = platform::GetSpecialFolderPath(folder);
        if (!path)
            continue; // a special folder the user does not have is left out
        Entry entry;
        entry.location = *path;
        // The file system calls its root "/"; the bar gives it a name people read.
        entry.name = folder == platform::SpecialFolder::MyComputer ? platform::LoadText(kStringComputer)
                                                                   : platform::GetShellDisplayName(*path);
        entry.icon = MakeShellIconImage(*path, kIconSize, kGround);
        entry.litIcon = MakeShellIconImage(*path, kIconSize, CUIColor::FromSystem(platform::kColorHighlight));
        m_entries.push_back(std::move(entry));
    }
}

CUIRect CPictureShortcutsBar::GetEntryRect(size_t index) const {
    return CUIRect::FromSize(kFirstEntry.x, kFirstEntry.y + static_cast<int>(index) * kEntrySize.cy,
                             kEntrySize.cx, kEntrySize.cy);
}

std::optional<size_t> CPictureShortcutsBar::EntryAt(CUIPoint point) const {
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (GetEntryRect(i).Contains(point))
            return i;
    return std::nullopt;
}

void CPictureShortcutsBar::SetHot(std::optional<size_t> hot) {
    if (hot == m_hot)
        return;
    for (std::optional<size_t> changed : {m_hot, hot}) {
        if (changed) {
            // The whole width: a wide name's highlight reaches past the entry.
            CUIRect rect = GetEntryRect(*changed);
            rect.left = 0;
            rect.right = kWidth - 1;
            Invalidate(&rect);
        }
    }
    m_hot = hot;
}

void CPictureShortcutsBar::Paint(CUIDrawableRep& dc) {
    const CUIRect client = GetClientRect();
    dc.SetColor(kGround);
    dc.FillRect(client);
    dc.SetColor(0, 0, 0);
    dc.FillRect({client.left, client.top, client.right, client.top + 1});
    dc.FillRect({client.right - 1, client.top, client.right, client.bottom});

    dc.SetFont(CUIFont::FromStandard(CUIFont::kDialogFont));
    dc.DrawText({20, 8}, platform::LoadText(kStringTitle));
    dc.SetFont(m_titleFont);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        const CUIRect rect = GetEntryRect(i);
        const bool hot = m_hot == i;
        // Centred on x = 50, under the icon; a name a little wider than the entry may use the bar's
        // whole width, and the highlight widens with it.
        const int nameWidth = std::min(dc.MeasureText(entry.name).cx, client.Width() - 2);
        const CUIRect text{50 - nameWidth / 2, rect.top + 12 + kIconSize + 2, 50 - nameWidth / 2 + nameWidth,
                           rect.bottom};
        if (hot) {
            dc.SetSystemColor(platform::kColorHighlight);
            dc.FillRect(
                {std::min(rect.left, text.left), rect.top, std::max(rect.right, text.right), rect.bottom});
        }
        const CUIImage& icon = hot ? entry.litIcon : entry.icon;
        if (icon.Width() > 0)
            dc.DrawImage({rect.left + 30, rect.top + 12}, icon);
        if (hot)
            dc.SetSystemColor(platform::kColorHighlightText);
        else
            dc.SetColor(0, 0, 0);
        auto measure = [&dc](std::string_view t) { return dc.MeasureText(t).cx; };
        dc.DrawText(text, FitTextToWidth(entry.name, text.Width(), "...", measure),
                    platform::kTextCenter | platform::kTextSingleLine);
    }
}

bool CPictureShortcutsBar::HandleMessage(const ui::Message& message, ui::LResult&) {
    const CUIPoint point{ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)};
    switch (message.message) {
    case ui::kWmPaint: {
        PaintUpdate([this](CUIDrawableRep& dc, const CUIRect&) { Paint(dc); });
        return true;
    }
    case ui::kWmMouseMove:
        SetHot(EntryAt(point));
        return true;
    case ui::kWmMouseLeft:
        SetHot(std::nullopt);
        return true;
    case ui::kWmLButtonDown:
    case ui::kWmLButtonDblClk:
        m_pressed = EntryAt(point);
        return true;
    case ui::kWmLButtonUp: {
        std::optional<size_t> pressed = m_pressed;
        m_pressed.reset();
        if (pressed && EntryAt(point) == pressed && m_navigate)
            m_navigate(m_entries[*pressed].location); // last: navigation may do anything
        return true;
    }
    default:
        return false;
    }
}
