// The picture browser's Shortcuts bar: "Recent Folders" and the special folders that exist, each a
// 92 x 65 entry with its 32 x 32 icon and its name under it, on a light grey ground with a black line
// at the top and the right. The entry under the pointer is drawn in the highlight colours; a click
// hands the entry's folder (or the recent-folders location) to the owner.
//
// Threads: the UI thread only.
#pragma once

#include "ui/font.h"
#include "ui/image.h"
#include "ui/window.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CUIDrawableRep;

class CPictureShortcutsBar : public CUIWindow {
public:
    static constexpr uint32_t kStringTitle = 10099;
    static constexpr uint32_t kStringRecentFolders = 10094;
    static constexpr uint32_t kStringComputer = 10106;
    static constexpr int kWidth = 100;
    static constexpr CUISize kEntrySize{92, 65};
    static constexpr CUIPoint kFirstEntry{4, 30};

    struct Entry {
        std::string location; // a folder's path, or the recent-folders location
        std::string name;
        CUIImage icon{0, 0};    // on the bar's grey
        CUIImage litIcon{0, 0}; // on the highlight colour, for the entry under the pointer
    };

    // Builds the entries: Recent Folders, then My Pictures, My Documents, My Computer and Desktop where
    // they resolve.
    explicit CPictureShortcutsBar(std::function<void(const std::string& location)> navigate);

    const std::vector<Entry>& GetEntries() const { return m_entries; }
    CUIRect GetEntryRect(size_t index) const;
    std::optional<size_t> GetHot() const { return m_hot; }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

private:
    void Paint(CUIDrawableRep& dc);
    std::optional<size_t> EntryAt(CUIPoint point) const;
    void SetHot(std::optional<size_t> hot);

    std::function<void(const std::string&)> m_navigate;
    std::vector<Entry> m_entries;
    CUIFont m_titleFont;
    std::optional<size_t> m_hot;
    std::optional<size_t> m_pressed;
};
