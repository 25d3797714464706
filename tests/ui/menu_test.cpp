// Menus without a display: the compiled menu resources, building, checking and enabling items, and
// the filter pairs of the open-file dialog as the string table gives them.
#include "foundation/exception.h"
#include "platform/resources.h"
#include "ui/file_dialog.h"
#include "ui/menu.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

const platform::ResourceModule& PxModuleResources();

namespace {

class ModuleMenuTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetResourceModule(&PxModuleResources()); }
    void TearDown() override { platform::SetResourceModule(nullptr); }
};

TEST_F(ModuleMenuTest, TheListsContextMenuHoldsProperties) {
    CUIMenu bar = CUIMenu::Load(104);
    int position = bar.FindSubMenu("Context");
    ASSERT_EQ(position, 0);
    CUIMenu context = bar.GetSubMenu(position);
    ASSERT_EQ(context.GetItemCount(), 1);
    const platform::MenuItem& item = context.GetItems()[0];
    EXPECT_EQ(item.kind, platform::MenuItem::Kind::Command);
    EXPECT_EQ(item.id, 32769);
    EXPECT_EQ(item.text, "&Properties");
    EXPECT_TRUE(context.IsItemEnabled(32769));
    EXPECT_FALSE(context.IsItemChecked(32769));
}

TEST_F(ModuleMenuTest, AMissingMenuThrowsWithItsName) {
    try {
        CUIMenu::Load(9999);
        FAIL() << "no exception";
    } catch (const CUIResourceNotFoundException& e) {
        EXPECT_STREQ(e.GetCode(), "EUINORSRC");
    }
}

TEST_F(ModuleMenuTest, TheChooserFiltersComeInPairs) {
    auto text = platform::LoadStringResource(10050);
    ASSERT_TRUE(text.has_value());
    auto filters = ParseFileFilters(*text);
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].first, "JPEG Files (*.jpg;*.jpe;*.jpeg)");
    EXPECT_EQ(filters[0].second, "*.jpg;*.jpe;*.jpeg");
    EXPECT_EQ(filters[1].first, "All Files (*.*)");
    EXPECT_EQ(filters[1].second, "*.*");
    EXPECT_EQ(platform::LoadStringResource(10049).value_or(""), "Choose Pictures");
}

TEST(FileFilterTest, BarsSeparateAsNewLinesDoAndAnUnpairedNameIsLeftOut) {
    auto filters = ParseFileFilters("Pictures|*.jpg|Texts\r\n*.txt\nOrphan");
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0], std::make_pair(std::string("Pictures"), std::string("*.jpg")));
    EXPECT_EQ(filters[1], std::make_pair(std::string("Texts"), std::string("*.txt")));
    EXPECT_TRUE(ParseFileFilters("").empty());
    EXPECT_TRUE(ParseFileFilters("Name with no pattern|").empty());
}

std::vector<uint8_t> Entry(uint8_t kind, uint8_t flags, uint16_t id, const std::string& text) {
    // Room for the text first: g++ 12 at -O3 takes an insert that grows a six-byte vector for a write
    // out of its bounds.
    std::vector<uint8_t> out;
    out.reserve(6 + text.size());
    for (uint8_t byte : {kind, flags, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                         static_cast<uint8_t>(text.size()), static_cast<uint8_t>(text.size() >> 8)})
        out.push_back(byte);
    for (char c : text)
        out.push_back(static_cast<uint8_t>(c));
    return out;
}

std::vector<uint8_t> Menu(std::initializer_list<std::vector<uint8_t>> entries) {
    std::vector<uint8_t> out{'P', 'X', 'M', 'N', 7, 0, 0, 0};
    for (const auto& e : entries)
        out.insert(out.end(), e.begin(), e.end());
    return out;
}

TEST(MenuDecodeTest, NestedPopupsFlagsAndSeparators) {
    auto data =
        Menu({Entry(2, 0, 0, "&File"), Entry(0, 1, 10, "&Open"), Entry(1, 0, 0, ""), Entry(2, 0, 0, "Recent"),
              Entry(0, 2, 11, "a.jpg"), Entry(3, 0, 0, ""), Entry(3, 0, 0, ""), Entry(0, 0, 12, "About")});
    CUIMenu menu;
    ASSERT_TRUE(CUIMenu::Decode(data, menu));
    ASSERT_EQ(menu.GetItemCount(), 2);
    EXPECT_EQ(menu.FindSubMenu("File"), 0);
    CUIMenu file = menu.GetSubMenu(0);
    ASSERT_EQ(file.GetItemCount(), 3);
    EXPECT_EQ(file.GetItems()[1].kind, platform::MenuItem::Kind::Separator);
    EXPECT_TRUE(file.IsItemChecked(10));
    EXPECT_FALSE(file.IsItemEnabled(11)) << "the grayed item in the nested popup";
    EXPECT_TRUE(menu.HasItem(11)) << "look-ups reach into sub-menus";
    EXPECT_EQ(menu.GetSubMenu(1).GetItemCount(), 0) << "a command item is no sub-menu";
    EXPECT_EQ(menu.GetSubMenu(5).GetItemCount(), 0);
}

TEST(MenuDecodeTest, MalformedDataIsRefusedAndLeavesTheMenuAsItWas) {
    CUIMenu menu;
    menu.AppendItem(1, "kept");
    const std::vector<std::vector<uint8_t>> bad = {
        {},
        {'P', 'X', 'M', 'X', 0, 0, 0, 0},
        Menu({Entry(2, 0, 0, "unclosed"), Entry(0, 0, 1, "x")}),
        Menu({Entry(3, 0, 0, "")}),     // end without a popup
        Menu({Entry(9, 0, 0, "kind")}), // unknown kind
    };
    for (const auto& data : bad)
        EXPECT_FALSE(CUIMenu::Decode(data, menu));
    auto cut = Menu({Entry(0, 0, 1, "cut short")});
    cut.pop_back();
    EXPECT_FALSE(CUIMenu::Decode(cut, menu));
    EXPECT_EQ(menu.GetItemCount(), 1);
    EXPECT_TRUE(menu.HasItem(1));
}

TEST(MenuBuildTest, ChecksAndEnablesByIdAndReportsUnknownIds) {
    CUIMenu sub;
    sub.AppendItem(21, "Inner");
    CUIMenu menu;
    menu.AppendItem(20, "&Outer");
    menu.AppendSeparator();
    menu.AppendSubMenu("&More", sub);
    EXPECT_TRUE(menu.CheckItem(21, true));
    EXPECT_TRUE(menu.EnableItem(20, false));
    EXPECT_FALSE(menu.CheckItem(99, true));
    EXPECT_TRUE(menu.IsItemChecked(21));
    EXPECT_FALSE(menu.IsItemEnabled(20));
    EXPECT_TRUE(menu.IsItemEnabled(21));
    EXPECT_FALSE(sub.IsItemChecked(21)) << "the appended sub-menu is a copy";
    EXPECT_TRUE(menu.CheckItem(21, false));
    EXPECT_FALSE(menu.IsItemChecked(21));
}

} // namespace
