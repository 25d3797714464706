// Menus: a popup menu built item by item or loaded from the module's menu resources, with checked and
// disabled items and sub-menus, shown at a screen point. The chosen item's id reaches the owner window
// as WM_COMMAND, which the pump hands to the CUICommand registered for that id; with kTpmReturnCmd it
// is returned instead.
//
// Threads: the UI thread only.
#pragma once

#include "platform/window_system.h"
#include "ui/geometry.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CUIWindow;

class CUIMenu {
public:
    CUIMenu() = default;

    // A menu resource of the installed module. Throws CUIResourceNotFoundException when it has none
    // with that id or the resource cannot be read.
    static CUIMenu Load(uint32_t resourceId);
    // The resource's binary form; false when it is not well formed.
    static bool Decode(std::span<const uint8_t> data, CUIMenu& menu);

    void AppendItem(int id, const std::string& text);
    void AppendSeparator();
    void AppendSubMenu(const std::string& text, const CUIMenu& subMenu);

    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    // The sub-menu at a position (0 first); an empty menu when there is none there.
    CUIMenu GetSubMenu(int position) const;
    // The position of the first sub-menu with that text ("&" marks ignored), -1 when there is none.
    int FindSubMenu(const std::string& text) const;

    // By command id, in sub-menus too; false when no item has that id.
    bool CheckItem(int id, bool checked);
    bool EnableItem(int id, bool enabled);
    bool HasItem(int id) const { return Find(id) != nullptr; }
    bool IsItemChecked(int id) const;
    bool IsItemEnabled(int id) const;

    // Shows the menu at a screen point, owned by `owner`. Without kTpmReturnCmd the choice is posted to
    // the owner as WM_COMMAND and the result is the chosen id (0: dismissed); with it nothing is posted.
    int Track(CUIWindow& owner, CUIPoint screen, uint32_t flags = 0) const;

    const std::vector<platform::MenuItem>& GetItems() const { return m_items; }

private:
    platform::MenuItem* Find(int id);
    const platform::MenuItem* Find(int id) const;

    std::vector<platform::MenuItem> m_items;
};
