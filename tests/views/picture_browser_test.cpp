#include "foundation/preferences.h"
#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "platform/folder_tree.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/shell_folders.h"
#include "tests/platform/shell_link_writer.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "views/picture_browser_model.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

using testsupport::ScopedTempFolder;

// The registry store is the real one, under a configuration folder of the test's own.
class PictureBrowserTest : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_config.Set("XDG_CONFIG_HOME", m_home.Path() + "/config");
        m_homeVar.Set("HOME", m_home.Path());
        platform::SetRegistryPath("");
    }
    void TearDown() override {
        platform::SetRegistryPath("");
        CataloguesInstalled::TearDown();
    }

    std::vector<std::string> Names(const CPictureBrowserModel& model) {
        std::vector<std::string> names;
        for (const CPictureBrowserEntry& entry : model.GetEntries())
            names.push_back((entry.kind == PictureEntryKind::Folder ? "D:" : "P:") + entry.name);
        return names;
    }

    static void MakeFolder(const std::string& path) { std::filesystem::create_directories(path); }

    ScopedTempFolder m_home{"pxbrowser"};
    testsupport::ScopedEnv m_config;
    testsupport::ScopedEnv m_homeVar;
};

TEST_F(PictureBrowserTest, HintFollowsWhatTheFolderHolds) {
    ScopedTempFolder folders, empty, pictures;
    MakeFolder(folders / "a");
    MakeFolder(folders / "b");
    pictures.Put("one.jpg", "not really a picture");

    CPictureBrowserModel model;
    EXPECT_EQ(model.GetHint(), 10098u); // before the first navigation
    model.Navigate(folders.Path());
    EXPECT_EQ(model.GetHint(), 10092u);
    model.Navigate(empty.Path());
    EXPECT_EQ(model.GetHint(), 10095u);
    model.Navigate(pictures.Path());
    EXPECT_EQ(model.GetHint(), 10093u);
    // A folder that cannot be listed shows nothing, with the hint for an empty folder.
    model.Navigate(folders / "missing");
    EXPECT_TRUE(model.GetEntries().empty());
    EXPECT_EQ(model.GetHint(), 10095u);
    EXPECT_EQ(platform::LoadStringResource(10093).value_or(""),
              "Click on the check-boxes of all the pictures you want to add. Then click \"Add Selected "
              "Pictures.\"");
}

TEST_F(PictureBrowserTest, ListsFoldersFirstThenJpegPicturesInAnyCase) {
    ScopedTempFolder folder;
    folder.Put("photo.JPG", "x");
    folder.Put("photo.jpe", "x");
    folder.Put("b.jpeg", std::string(2000, 'x'));
    folder.Put("photo.png", "x");
    folder.Put("notes.txt", "x");
    folder.Put(".hidden.jpg", "x");
    MakeFolder(folder / "zz");
    MakeFolder(folder / ".cache");

    CPictureBrowserModel model;
    model.Navigate(folder.Path());
    EXPECT_EQ(Names(model), (std::vector<std::string>{"D:zz", "P:b.jpeg", "P:photo.JPG", "P:photo.jpe"}));
    const CPictureBrowserEntry& big = model.GetEntries()[1];
    EXPECT_EQ(big.path, folder / "b.jpeg");
    EXPECT_EQ(big.sizeText, "1.95KB");
    EXPECT_FALSE(big.modifiedText.empty());
    EXPECT_EQ(big.kind, PictureEntryKind::NotTicked);
}

TEST_F(PictureBrowserTest, ShortcutsAndSymbolicLinks) {
    ScopedTempFolder folder, elsewhere;
    MakeFolder(elsewhere / "target");
    elsewhere.Put("far.jpg", "x");
    testing_lnk::LinkSpec toFolder;
    toFolder.localBasePath = elsewhere / "target";
    testing_lnk::WriteShellLink(folder / "Holiday.lnk", toFolder);
    testing_lnk::LinkSpec toPicture;
    toPicture.localBasePath = elsewhere / "far.jpg";
    testing_lnk::WriteShellLink(folder / "Picture.LNK", toPicture);
    testing_lnk::LinkSpec toNothing;
    toNothing.localBasePath = elsewhere / "gone";
    testing_lnk::WriteShellLink(folder / "Gone.lnk", toNothing);
    // Junk that merely carries the name of a link is skipped, not read past its end.
    folder.Put("junk.lnk", std::string("L\0\0\0\x01\x14\x02", 7));
    std::filesystem::create_directory_symlink(elsewhere / "target", folder / "linked");
    std::filesystem::create_symlink(elsewhere / "missing.jpg", folder / "dangling.jpg");

    CPictureBrowserModel model;
    model.Navigate(folder.Path());
    EXPECT_EQ(Names(model), (std::vector<std::string>{"D:linked", "D:Holiday", "P:far.jpg"}));
    EXPECT_EQ(model.GetEntries()[1].path, elsewhere / "target");
    EXPECT_EQ(model.GetEntries()[2].path, elsewhere / "far.jpg");
    // Opening the shortcut's folder goes to its target.
    model.Navigate(model.GetEntries()[1].path);
    EXPECT_EQ(model.GetCurrentFolder(), elsewhere / "target");
}

TEST_F(PictureBrowserTest, JunkShortcutsAreSkipped) {
    ScopedTempFolder folder;
    testing_lnk::LinkSpec spec;
    spec.localBasePath = folder / "target";
    spec.relativePath = "target";
    spec.name = "a name";
    const std::vector<uint8_t> good = testing_lnk::ShellLinkBytes(spec);
    // Every cut of a real link, and the link with bytes flipped one at a time, under ASan: none may be
    // read past its end. The target does not exist; a flipped byte may still name an existing folder
    // (a cut path), which is then listed as the folder it is, and nothing else is.
    uint32_t seed = 12345;
    for (size_t length = 0; length < good.size(); length += 3) {
        folder.Put("cut" + std::to_string(length) + ".lnk",
                   std::string(good.begin(), good.begin() + std::ptrdiff_t(length)));
        std::string flipped(good.begin(), good.end());
        seed = seed * 1103515245u + 12345u;
        flipped[length] = static_cast<char>(flipped[length] ^ (1 + (seed >> 16) % 255));
        folder.Put("flip" + std::to_string(length) + ".lnk", flipped);
    }
    CPictureBrowserModel model;
    model.Navigate(folder.Path());
    for (const CPictureBrowserEntry& entry : model.GetEntries()) {
        EXPECT_EQ(entry.kind, PictureEntryKind::Folder) << entry.path;
        EXPECT_TRUE(platform::IsShellFolder(entry.path)) << entry.path;
    }
}

TEST_F(PictureBrowserTest, BackHistoryAndUp) {
    ScopedTempFolder root;
    MakeFolder(root / "a/b");
    CPictureBrowserModel model;
    EXPECT_TRUE(model.Navigate(root.Path()));
    EXPECT_FALSE(model.CanGoBack()); // nothing was current before
    EXPECT_TRUE(model.Navigate(root / "a"));
    EXPECT_FALSE(model.Navigate(root / "a")); // already there: no second history entry
    EXPECT_TRUE(model.Navigate(root / "a/b"));
    EXPECT_EQ(model.GetBackHistory(), (std::vector<std::string>{root.Path(), root / "a"}));
    ASSERT_TRUE(model.GoBack());
    EXPECT_EQ(model.GetCurrentFolder(), root / "a");
    // Going back does not push the folder it left.
    EXPECT_EQ(model.GetBackHistory(), (std::vector<std::string>{root.Path()}));
    ASSERT_TRUE(model.GoBack());
    EXPECT_FALSE(model.CanGoBack());
    EXPECT_FALSE(model.GoBack());
    EXPECT_EQ(model.GetCurrentFolder(), root.Path());

    ASSERT_TRUE(model.GoUp());
    EXPECT_EQ(model.GetCurrentFolder(), std::filesystem::path(root.Path()).parent_path().string());
    model.Navigate("/");
    EXPECT_FALSE(model.GetParent().has_value());
    model.Navigate(kRecentLocation);
    EXPECT_FALSE(model.GetParent().has_value());
}

TEST_F(PictureBrowserTest, TicksAllNoneAndCollects) {
    ScopedTempFolder folder;
    MakeFolder(folder / "sub");
    folder.Put("a.jpg", "x");
    folder.Put("b.jpg", "x");
    folder.Put("c.jpg", "x");
    CPictureBrowserModel model;
    model.Navigate(folder.Path());
    EXPECT_FALSE(model.ToggleTick(0)); // a folder has no tick
    EXPECT_FALSE(model.ToggleTick(9));
    EXPECT_TRUE(model.ToggleTick(1));
    EXPECT_TRUE(model.ToggleTick(3));
    EXPECT_EQ(model.GetTickedPaths(), (std::vector<std::string>{folder / "a.jpg", folder / "c.jpg"}));
    EXPECT_TRUE(model.ToggleTick(1));
    EXPECT_EQ(model.GetTickedPaths(), (std::vector<std::string>{folder / "c.jpg"}));
    model.TickAll(true);
    EXPECT_EQ(model.GetTickedPaths().size(), 3u);
    EXPECT_EQ(model.GetEntries()[0].kind, PictureEntryKind::Folder);
    model.TickAll(false);
    EXPECT_TRUE(model.GetTickedPaths().empty());
    // Ticks belong to the folder shown: moving away and back starts unticked.
    model.ToggleTick(1);
    model.Navigate(folder / "sub");
    model.GoBack();
    EXPECT_TRUE(model.GetTickedPaths().empty());
}

// Every byte but UTF-8 continuation bytes is 7 pixels wide.
int Measure(std::string_view text) {
    int width = 0;
    for (char c : text)
        width += (static_cast<unsigned char>(c) & 0xC0) == 0x80 ? 0 : 7;
    return width;
}

TEST(PictureLabel, DropsJpgAndJpegButKeepsJpe) {
    struct Case {
        const char* name;
        const char* label;
    } cases[] = {
        {"photo.JPG", "photo"},
        {"photo.jpeg", "photo"},
        {"photo.JpEg", "photo"},
        {"photo.jpe", "photo.jpe"},
        {"a.jpg.jpe", "a.jpg.jpe"},           // only a final extension goes
        {"Holiday", "Holiday"},               // a folder's name as it is
        {"twelve chars.jpg", "twelve chars"}, // 84 pixels fit in 85
        // 14 characters are 98 pixels: cut to (85 - 7 - 21) / 7 = 8 characters and the dots
        {"fourteen chars.jpg", "fourteen..."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MakePictureLabel(c.name, Measure), c.label) << c.name;
    // A cut never splits a UTF-8 character: "é" is two bytes here.
    EXPECT_EQ(
        MakePictureLabel("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                         "\xC3\xA9\xC3\xA9\xC3\xA9.jpg",
                         Measure),
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9...");
}

TEST(PictureGrid, ColumnsCellsAndHits) {
    EXPECT_EQ(CPictureGrid::GetColumns(0), 1);
    EXPECT_EQ(CPictureGrid::GetColumns(110), 1);
    EXPECT_EQ(CPictureGrid::GetColumns(222), 2);
    EXPECT_EQ(CPictureGrid::GetColumns(443), 3);
    EXPECT_EQ(CPictureGrid::GetCellRect(4, 3), CUIRect::FromSize(111, 115, 111, 115));
    EXPECT_EQ(CPictureGrid::GetRows(7, 3), 3);
    EXPECT_EQ(CPictureGrid::GetRows(6, 3), 2);
    EXPECT_EQ(CPictureGrid::HitCell({111, 115}, 3, 7), std::optional<size_t>(4));
    EXPECT_EQ(CPictureGrid::HitCell({110, 114}, 3, 7), std::optional<size_t>(0));
    EXPECT_EQ(CPictureGrid::HitCell({340, 10}, 3, 7), std::nullopt);  // right of the last column
    EXPECT_EQ(CPictureGrid::HitCell({200, 300}, 3, 7), std::nullopt); // an empty cell of the last row
}

TEST_F(PictureBrowserTest, RecentFoldersThroughTheBrowser) {
    std::vector<ScopedTempFolder> folders(10);
    for (ScopedTempFolder& folder : folders)
        folder.Put("a.jpg", "x");
    CPictureBrowserModel model;
    model.Navigate(folders[0].Path());
    model.RememberCurrentFolder();
    model.RememberCurrentFolder(); // the same folder twice: no second entry
    for (size_t i = 1; i < 10; ++i) {
        model.Navigate(folders[i].Path());
        model.RememberCurrentFolder();
    }
    // Nine slots in rotation: the tenth distinct folder took the slot with digit 0 again.
    CRegistryKey key(kRootCurrentUser, kRecentItemsKey, CRegistryKey::Open::Existing);
    EXPECT_EQ(key.ReadString("Recent0"), folders[9].Path());
    EXPECT_EQ(key.ReadString("Recent1"), folders[1].Path());
    EXPECT_EQ(key.ReadString("Recent8"), folders[8].Path());
    EXPECT_EQ(key.ReadInteger("CurItem"), 1);

    // A folder that went away is dropped from the store when the browser loads the list.
    const std::string gone = folders[4].Path();
    std::filesystem::remove_all(gone);
    CPictureBrowserModel reloaded;
    reloaded.LoadRecentFolders();
    EXPECT_EQ(reloaded.GetRecentFolders().size(), 8u);
    EXPECT_THROW(key.ReadString("Recent4"), CRegistryException);
    reloaded.Navigate(kRecentLocation);
    ASSERT_EQ(reloaded.GetEntries().size(), 8u);
    EXPECT_EQ(reloaded.GetEntries()[0].path, folders[9].Path());
    EXPECT_EQ(reloaded.GetEntries()[0].kind, PictureEntryKind::Folder);
    EXPECT_EQ(reloaded.GetHint(), 10092u);
    // The recent list is not itself remembered.
    reloaded.RememberCurrentFolder();
    EXPECT_EQ(key.ReadInteger("CurItem"), 1);
}

TEST_F(PictureBrowserTest, EmptyRecentListOffersMyPictures) {
    ScopedTempFolder pictures;
    std::filesystem::create_directories(m_home.Path() + "/config");
    std::ofstream(m_home.Path() + "/config/user-dirs.dirs")
        << "# written by the test\nXDG_PICTURES_DIR=\"" << pictures.Path() << "\"\n";
    CPictureBrowserModel model;
    model.LoadRecentFolders();
    EXPECT_EQ(model.GetRecentFolders(), (std::vector<std::string>{pictures.Path()}));
}

TEST(FolderTree, ChainAndSubFolders) {
    EXPECT_EQ(platform::GetFolderChain("/home/u/Pictures/"),
              (std::vector<std::string>{"/", "/home", "/home/u", "/home/u/Pictures"}));
    EXPECT_EQ(platform::GetFolderChain("/"), (std::vector<std::string>{"/"}));
    EXPECT_EQ(platform::GetFolderChain("relative/path"), (std::vector<std::string>{"/"}));
    ScopedTempFolder folder;
    std::filesystem::create_directories(folder / "b");
    std::filesystem::create_directories(folder / "a");
    std::filesystem::create_directories(folder / ".hidden");
    folder.Put("file.jpg", "x");
    std::filesystem::create_directory_symlink(folder / "a", folder / "c");
    EXPECT_EQ(platform::ListSubFolders(folder.Path()), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(platform::ListSubFolders(folder / "missing").empty());
}

TEST(UserDirs, ParsesQuotedHomeRelativeAndAbsolutePaths) {
    const std::string text = "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                             "# XDG_PICTURES_DIR=\"/commented\"\n"
                             "XDG_PICTURES_DIR=\"$HOME/My\\\"Pics/\"\n"
                             "XDG_DOCUMENTS_DIR=\"/data/docs\"\n"
                             "XDG_MUSIC_DIR=relative\n"
                             "XDG_VIDEOS_DIR=\"$HOMEless\"\n";
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_DESKTOP_DIR", "/home/u"), "/home/u/Desktop");
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_PICTURES_DIR", "/home/u"), "/home/u/My\"Pics");
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_DOCUMENTS_DIR", "/home/u"), "/data/docs");
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_MUSIC_DIR", "/home/u"), std::nullopt);
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_VIDEOS_DIR", "/home/u"), std::nullopt);
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_DOWNLOAD_DIR", "/home/u"), std::nullopt);
    EXPECT_EQ(platform::ParseUserDirsValue(text, "XDG_DESKTOP", "/home/u"), std::nullopt);
}

} // namespace
