// What the picture browser shows and remembers, apart from any window: the current folder (or the
// recent folders), the back history, the entries of the folder in the order they are listed, their
// tick state, the hint above the list, and the recent-folder store that "Add selected pictures"
// updates. The thumbnail grid's geometry and the label rule are here too, so that both are tested
// without a display.
//
// Threads: the UI thread only.
#pragma once

#include "ui/geometry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The kinds an entry has; the numbers are the row images' indices.
enum class PictureEntryKind { Ticked = 0, NotTicked = 1, Folder = 2 };

struct CPictureBrowserEntry {
    PictureEntryKind kind = PictureEntryKind::NotTicked;
    std::string path; // a folder's or picture's own path; a shortcut's target
    std::string name; // the display name
    std::string sizeText;
    std::string modifiedText;

    bool IsPicture() const { return kind != PictureEntryKind::Folder; }
};

// The pseudo-location that lists the recent folders.
inline constexpr const char* kRecentLocation = ":Recent";

class CPictureBrowserModel {
public:
    static constexpr uint32_t kStringHintStart = 10098;
    static constexpr uint32_t kStringHintFolders = 10092;
    static constexpr uint32_t kStringHintPictures = 10093;
    static constexpr uint32_t kStringHintNothing = 10095;

    // Moves to the back history only on ordinary moves; going back does not push.
    enum class Remember { No, Yes };

    // Loads the recent folders; an empty list gets My Pictures.
    void LoadRecentFolders();
    const std::vector<std::string>& GetRecentFolders() const { return m_recent; }

    // False when `folder` is already current (nothing changes). A folder that cannot be listed shows
    // no entries. Taken by value: callers pass the path of one of the entries this clears.
    bool Navigate(std::string folder, Remember remember = Remember::Yes);
    bool CanGoBack() const { return !m_back.empty(); }
    // False when the history is empty.
    bool GoBack();
    // The folder above the current one; nothing at the root and for the recent folders.
    std::optional<std::string> GetParent() const;
    bool GoUp();

    const std::string& GetCurrentFolder() const { return m_current; }
    bool HasCurrentFolder() const { return m_hasCurrent; }
    const std::vector<std::string>& GetBackHistory() const { return m_back; }

    const std::vector<CPictureBrowserEntry>& GetEntries() const { return m_entries; }
    // The string id of the hint for what the folder holds.
    uint32_t GetHint() const { return m_hint; }

    // Picture entries only; false for a folder or an index out of range.
    bool ToggleTick(size_t index);
    void TickAll(bool ticked);
    std::vector<std::string> GetTickedPaths() const;

    // Stores the current folder among the recent folders (not the recent list itself).
    void RememberCurrentFolder() const;

private:
    void Enumerate(const std::string& folder);
    void ListRecent();

    std::string m_current;
    bool m_hasCurrent = false;
    std::vector<std::string> m_back;
    std::vector<CPictureBrowserEntry> m_entries;
    std::vector<std::string> m_recent;
    uint32_t m_hint = kStringHintStart;
};

// True for a name ending in ".jpg", ".jpe" or ".jpeg" in any letter case.
bool IsPictureName(std::string_view name);

// The thumbnail's label: the name without a final ".jpg" or ".jpeg" (".jpe" stays), cut to fit
// kPictureLabelWidth with "..." as the font measures it.
inline constexpr int kPictureLabelWidth = 85;
std::string MakePictureLabel(std::string_view name, const std::function<int(std::string_view)>& measure);

// The thumbnail grid's cells.
class CPictureGrid {
public:
    static constexpr int kCellWidth = 111;
    static constexpr int kCellHeight = 115;

    // At least one column, however narrow the view.
    static int GetColumns(int viewWidth) { return viewWidth / kCellWidth > 0 ? viewWidth / kCellWidth : 1; }
    static int GetRows(size_t count, int columns) {
        return static_cast<int>((count + size_t(columns) - 1) / size_t(columns));
    }
    // The cell's rectangle in grid coordinates (before scrolling).
    static CUIRect GetCellRect(size_t index, int columns) {
        const int column = static_cast<int>(index % size_t(columns));
        const int row = static_cast<int>(index / size_t(columns));
        return CUIRect::FromSize(column * kCellWidth, row * kCellHeight, kCellWidth, kCellHeight);
    }
    // The cell under a grid point; nothing outside the cells.
    static std::optional<size_t> HitCell(CUIPoint point, int columns, size_t count);

    // Inside a cell (offsets from its corner).
    static constexpr CUIPoint kFrameAt{3, 3};
    static constexpr CUIPoint kThumbnailAt{14, 8};
    static constexpr int kThumbnailSize = 82; // centred in the frame, above the label strip
    static constexpr int kIconY = 32;
    static constexpr int kLabelStripHeight = 25;
    static constexpr int kLabelX = 26;
    static constexpr int kTickSize = 13;
    // The tick box left of the label, centred in the strip.
    static CUIRect GetTickRect() {
        return CUIRect::FromSize(kLabelX - kTickSize - 4,
                                 kCellHeight - kLabelStripHeight + (kLabelStripHeight - kTickSize) / 2,
                                 kTickSize, kTickSize);
    }
    static CUIRect GetLabelRect() {
        return CUIRect::FromSize(kLabelX, kCellHeight - kLabelStripHeight, kPictureLabelWidth,
                                 kLabelStripHeight);
    }
};
