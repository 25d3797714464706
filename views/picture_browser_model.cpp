#include "views/picture_browser_model.h"

#include "foundation/path.h"
#include "foundation/preferences.h"
#include "pictures/size_text.h"
#include "platform/file_system.h"
#include "platform/shell_folders.h"
#include "platform/shell_link.h"
#include "views/upload_list_fit.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool EndsWithLower(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() && Lower(name.substr(name.size() - suffix.size())) == suffix;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

std::string ModifiedText(int64_t time) {
    return FormatTime(time, "%x %H:%M");
}

CPictureBrowserEntry FolderEntry(const std::string& path, std::string name) {
    CPictureBrowserEntry entry;
    entry.kind = PictureEntryKind::Folder;
    entry.path = path;
    entry.name = std::move(name);
    return entry;
}

CPictureBrowserEntry PictureEntry(const std::string& path, uint64_t size, int64_t modified) {
    CPictureBrowserEntry entry;
    entry.kind = PictureEntryKind::NotTicked;
    entry.path = path;
    entry.name = platform::GetShellDisplayName(path);
    entry.sizeText = FormatSizeText(size);
    entry.modifiedText = ModifiedText(modified);
    return entry;
}

} // namespace

bool IsPictureName(std::string_view name) {
    return EndsWithLower(name, ".jpg") || EndsWithLower(name, ".jpe") || EndsWithLower(name, ".jpeg");
}

std::string MakePictureLabel(std::string_view name, const std::function<int(std::string_view)>& measure) {
    if (EndsWithLower(name, ".jpg"))
        name.remove_suffix(4);
    else if (EndsWithLower(name, ".jpeg"))
        name.remove_suffix(5);
    if (measure(name) <= kPictureLabelWidth)
        return std::string(name);
    // The room left for the characters is the width less an "x" and the dots.
    return FitTextToWidth(name, kPictureLabelWidth - measure("x"), "...", measure);
}

std::optional<size_t> CPictureGrid::HitCell(CUIPoint point, int columns, size_t count) {
    if (point.x < 0 || point.y < 0 || columns <= 0)
        return std::nullopt;
    const int column = point.x / kCellWidth;
    if (column >= columns)
        return std::nullopt;
    const size_t index = size_t(point.y / kCellHeight) * size_t(columns) + size_t(column);
    if (index >= count)
        return std::nullopt;
    return index;
}

void CPictureBrowserModel::LoadRecentFolders() {
    m_recent = ::LoadRecentFolders();
    if (m_recent.empty()) {
        if (std::optional<std::string> pictures =
                platform::GetSpecialFolderPath(platform::SpecialFolder::MyPictures))
            m_recent.push_back(*pictures);
    }
}

bool CPictureBrowserModel::Navigate(std::string folder, Remember remember) {
    if (m_hasCurrent && folder == m_current)
        return false;
    if (remember == Remember::Yes && m_hasCurrent)
        m_back.push_back(m_current);
    m_entries.clear();
    if (folder == kRecentLocation)
        ListRecent();
    else
        Enumerate(folder);

    const bool pictures = std::any_of(m_entries.begin(), m_entries.end(),
                                      [](const CPictureBrowserEntry& entry) { return entry.IsPicture(); });
    m_hint = pictures ? kStringHintPictures : !m_entries.empty() ? kStringHintFolders : kStringHintNothing;
    m_current = std::move(folder);
    m_hasCurrent = true;
    return true;
}

bool CPictureBrowserModel::GoBack() {
    if (m_back.empty())
        return false;
    std::string folder = std::move(m_back.back());
    m_back.pop_back();
    Navigate(folder, Remember::No);
    return true;
}

std::optional<std::string> CPictureBrowserModel::GetParent() const {
    if (!m_hasCurrent || m_current == kRecentLocation || m_current.empty() || m_current == "/")
        return std::nullopt;
    std::string path = m_current;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::string parent = GetFolder(path);
    return parent.empty() ? std::string("/") : parent;
}

bool CPictureBrowserModel::GoUp() {
    std::optional<std::string> parent = GetParent();
    return parent && Navigate(*parent);
}

void CPictureBrowserModel::Enumerate(const std::string& folder) {
    std::optional<std::vector<platform::FolderEntry>> listed = platform::ListFolder(folder);
    if (!listed)
        return; // shown as a folder with nothing in it
    // Dot files are hidden here, as the file managers hide them.
    auto visible = [](const platform::FolderEntry& item) { return !item.name.starts_with('.'); };
    for (const platform::FolderEntry& item : *listed) {
        if (visible(item) && item.isFolder) {
            const std::string path = JoinPath(folder, item.name);
            m_entries.push_back(FolderEntry(path, platform::GetShellDisplayName(path)));
        }
    }
    for (const platform::FolderEntry& item : *listed) {
        if (!visible(item) || item.isFolder)
            continue;
        const std::string path = JoinPath(folder, item.name);
        if (EndsWithLower(item.name, ".lnk")) {
            std::optional<std::string> target = platform::GetShellLinkTarget(path);
            if (!target)
                continue;
            std::optional<platform::FileStatus> status = platform::GetFileStatus(*target);
            if (!status)
                continue;
            if (status->isFolder)
                m_entries.push_back(FolderEntry(*target, item.name.substr(0, item.name.size() - 4)));
            else if (IsPictureName(*target))
                m_entries.push_back(PictureEntry(*target, status->size, status->modified));
            continue;
        }
        if (!IsPictureName(item.name))
            continue;
        // A symbolic link whose target is gone has no picture to show.
        if (!platform::GetFileStatus(path))
            continue;
        m_entries.push_back(PictureEntry(path, item.size, item.modified));
    }
}

void CPictureBrowserModel::ListRecent() {
    for (const std::string& folder : m_recent)
        m_entries.push_back(FolderEntry(folder, platform::GetShellDisplayName(folder)));
}

bool CPictureBrowserModel::ToggleTick(size_t index) {
    if (index >= m_entries.size() || !m_entries[index].IsPicture())
        return false;
    CPictureBrowserEntry& entry = m_entries[index];
    entry.kind =
        entry.kind == PictureEntryKind::Ticked ? PictureEntryKind::NotTicked : PictureEntryKind::Ticked;
    return true;
}

void CPictureBrowserModel::TickAll(bool ticked) {
    for (CPictureBrowserEntry& entry : m_entries) {
        if (entry.IsPicture())
            entry.kind = ticked ? PictureEntryKind::Ticked : PictureEntryKind::NotTicked;
    }
}

std::vector<std::string> CPictureBrowserModel::GetTickedPaths() const {
    std::vector<std::string> paths;
    for (const CPictureBrowserEntry& entry : m_entries) {
        if (entry.kind == PictureEntryKind::Ticked)
            paths.push_back(entry.path);
    }
    return paths;
}

void CPictureBrowserModel::RememberCurrentFolder() const {
    if (m_hasCurrent && m_current != kRecentLocation)
        SaveRecentFolder(m_current);
}
