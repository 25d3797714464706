#include "ui/menu.h"

#include "foundation/exception.h"
#include "foundation/string_format.h"
#include "platform/resources.h"
#include "ui/application.h"
#include "ui/window.h"

#include <cassert>
#include <cstring>

namespace {

// The compiled form: "PXMN", u32 id, then entries: u8 kind (0 item, 1 separator, 2 sub-menu, 3 end of
// a sub-menu), u8 flags (1 checked, 2 disabled), u16 id, u16 text length, the text; little-endian.
class MenuReader {
public:
    explicit MenuReader(std::span<const uint8_t> data) : m_data(data) {}

    bool Read(size_t count, const uint8_t*& bytes) {
        if (m_data.size() - m_offset < count)
            return false;
        bytes = m_data.data() + m_offset;
        m_offset += count;
        return true;
    }
    bool U8(uint8_t& value) {
        const uint8_t* b;
        if (!Read(1, b))
            return false;
        value = b[0];
        return true;
    }
    bool U16(uint16_t& value) {
        const uint8_t* b;
        if (!Read(2, b))
            return false;
        value = static_cast<uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool AtEnd() const { return m_offset == m_data.size(); }

    // Entries up to the end of the data (depth 0) or to the end marker of a sub-menu.
    bool Items(std::vector<platform::MenuItem>& items, int depth) {
        if (depth > 16)
            return false; // nested deeper than any menu of ours: corrupt
        while (!AtEnd()) {
            uint8_t kind, flags;
            uint16_t id, length;
            const uint8_t* text;
            if (!U8(kind) || !U8(flags) || !U16(id) || !U16(length) || !Read(length, text))
                return false;
            if (kind == 3)
                return depth > 0;
            platform::MenuItem item;
            item.id = id;
            item.text.assign(reinterpret_cast<const char*>(text), length);
            item.checked = (flags & 1) != 0;
            item.enabled = (flags & 2) == 0;
            if (kind == 0)
                item.kind = platform::MenuItem::Kind::Command;
            else if (kind == 1)
                item.kind = platform::MenuItem::Kind::Separator;
            else if (kind == 2) {
                item.kind = platform::MenuItem::Kind::SubMenu;
                if (!Items(item.items, depth + 1))
                    return false;
            } else
                return false;
            items.push_back(std::move(item));
        }
        return depth == 0;
    }

private:
    std::span<const uint8_t> m_data;
    size_t m_offset = 0;
};

std::string WithoutMnemonics(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        plain += text[i];
    }
    return plain;
}

template <typename Items>
auto FindIn(Items& items, int id) -> decltype(&items[0]) {
    for (auto& item : items) {
        if (item.kind == platform::MenuItem::Kind::Command && item.id == id)
            return &item;
        if (item.kind == platform::MenuItem::Kind::SubMenu)
            if (auto* found = FindIn(item.items, id))
                return found;
    }
    return nullptr;
}

} // namespace

bool CUIMenu::Decode(std::span<const uint8_t> data, CUIMenu& menu) {
    if (data.size() < 8 || std::memcmp(data.data(), "PXMN", 4) != 0)
        return false;
    std::vector<platform::MenuItem> items;
    MenuReader reader(data.subspan(8));
    if (!reader.Items(items, 0))
        return false;
    menu.m_items = std::move(items);
    return true;
}

CUIMenu CUIMenu::Load(uint32_t resourceId) {
    auto data = platform::FindModuleResource(platform::ResourceType::Menu, resourceId);
    CUIMenu menu;
    if (!data || !Decode(*data, menu))
        throw CUIResourceNotFoundException(FormatString("menu %u", resourceId));
    return menu;
}

void CUIMenu::AppendItem(int id, const std::string& text) {
    platform::MenuItem item;
    item.id = id;
    item.text = text;
    m_items.push_back(std::move(item));
}

void CUIMenu::AppendSeparator() {
    platform::MenuItem item;
    item.kind = platform::MenuItem::Kind::Separator;
    m_items.push_back(std::move(item));
}

void CUIMenu::AppendSubMenu(const std::string& text, const CUIMenu& subMenu) {
    platform::MenuItem item;
    item.kind = platform::MenuItem::Kind::SubMenu;
    item.text = text;
    item.items = subMenu.m_items;
    m_items.push_back(std::move(item));
}

CUIMenu CUIMenu::GetSubMenu(int position) const {
    CUIMenu sub;
    if (position >= 0 && position < GetItemCount() &&
        m_items[static_cast<size_t>(position)].kind == platform::MenuItem::Kind::SubMenu)
        sub.m_items = m_items[static_cast<size_t>(position)].items;
    return sub;
}

int CUIMenu::FindSubMenu(const std::string& text) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].kind == platform::MenuItem::Kind::SubMenu &&
            WithoutMnemonics(m_items[i].text) == WithoutMnemonics(text))
            return static_cast<int>(i);
    return -1;
}

platform::MenuItem* CUIMenu::Find(int id) {
    return FindIn(m_items, id);
}
const platform::MenuItem* CUIMenu::Find(int id) const {
    return FindIn(m_items, id);
}

bool CUIMenu::CheckItem(int id, bool checked) {
    platform::MenuItem* item = Find(id);
    if (item != nullptr)
        item->checked = checked;
    return item != nullptr;
}

bool CUIMenu::EnableItem(int id, bool enabled) {
    platform::MenuItem* item = Find(id);
    if (item != nullptr)
        item->enabled = enabled;
    return item != nullptr;
}

bool CUIMenu::IsItemChecked(int id) const {
    const platform::MenuItem* item = Find(id);
    return item != nullptr && item->checked;
}

bool CUIMenu::IsItemEnabled(int id) const {
    const platform::MenuItem* item = Find(id);
    return item != nullptr && item->enabled;
}

int CUIMenu::Track(CUIWindow& owner, CUIPoint screen, uint32_t flags) const {
    CUIApplication* app = CUIApplication::Get();
    assert(app != nullptr && app->IsUIThread() && "menus belong to the UI thread");
    return app->GetWindowSystem().TrackPopupMenu(m_items, flags, screen, owner.GetHandle());
}
