// "Choose Pictures" under a private X server, driven by real pointer and key events from xdotool.
#include "foundation/preferences.h"
#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "platform/registry.h"
#include "platform/system_colors.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "views/picture_browser_dialog.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using testsupport::ScopedTempFolder;

// One step of a script: a shell command (xdotool) run beside the pump, then a condition on the dialog
// that ends the step. A step without a command only waits.
struct Step {
    std::function<std::string()> command;
    std::function<bool()> until;
};

// Runs its script's steps one after the other from the modal loop, so the pump keeps turning while
// xdotool acts; fails the test and ends the dialog when a step takes too long.
class ScriptedBrowser : public CPictureBrowserDialog {
public:
    static constexpr int kNeverEnded = -99;

    ~ScriptedBrowser() override {
        if (m_awake)
            CUIApplication::Get()->RemoveTimer(m_awake);
    }

    std::vector<Step> steps;
    size_t done = 0;

protected:
    // The step whose click ended the dialog counts once its command is through.
    void OnEnd(int code) override {
        if (m_running && m_command.valid()) {
            EXPECT_EQ(m_command.get(), 0) << "step " << done;
            if (!steps[done].until || steps[done].until())
                ++done;
            m_running = false;
        }
        CPictureBrowserDialog::OnEnd(code);
    }

    void ModalStep() override {
        if (!m_awake) {
            m_awake = new gui::KeepAwake;
            CUIApplication::Get()->AddTimer(m_awake, 10);
        }
        const auto now = std::chrono::steady_clock::now();
        if (!m_running && done < steps.size() && IsVisible()) {
            m_running = true;
            m_started = now;
            if (steps[done].command)
                m_command = gui::RunAsync(steps[done].command());
        }
        if (!m_running && done == steps.size() && now - m_started > std::chrono::seconds(30)) {
            ADD_FAILURE() << "the script ended but the dialog did not";
            End(kNeverEnded);
            return;
        }
        if (m_running) {
            const bool commandDone = !m_command.valid() ||
                                     m_command.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
            if (commandDone && (!steps[done].until || steps[done].until())) {
                if (m_command.valid()) {
                    EXPECT_EQ(m_command.get(), 0) << "step " << done;
                }
                m_running = false;
                ++done;
                m_started = now;
            } else if (now - m_started > std::chrono::seconds(30)) {
                ADD_FAILURE() << "step " << done << " did not finish";
                if (m_command.valid())
                    m_command.wait();
                End(kNeverEnded);
                return;
            }
        }
        CPictureBrowserDialog::ModalStep();
    }

private:
    gui::KeepAwake* m_awake = nullptr;
    bool m_running = false;
    std::chrono::steady_clock::time_point m_started;
    std::future<int> m_command;
};

std::string Point(CUIPoint p) {
    return std::to_string(p.x) + " " + std::to_string(p.y);
}

// Without --sync, which waits for ever when the pointer is there already.
std::string ClickAt(CUIPoint screen, int clicks = 1) {
    return "xdotool mousemove " + Point(screen) + " sleep 0.2 click --repeat " + std::to_string(clicks) +
           " --delay 80 1 sleep 0.1";
}

// A command for sh -c "...": its own expansions wait for the inner shell.
std::string Escaped(const std::string& command) {
    std::string out;
    for (char c : command) {
        if (c == '$' || c == '"' || c == '\\' || c == '`')
            out += '\\';
        out += c;
    }
    return out;
}

CUIPoint Centre(const CUIRect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

class PictureBrowserGuiTest : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_configHome.Set("XDG_CONFIG_HOME", m_home.Path() + "/config");
        m_homeVar.Set("HOME", m_home.Path());
        std::filesystem::create_directories(m_home.Path() + "/config");
        std::filesystem::create_directories(m_home.Path() + "/Pictures");
        std::ofstream(m_home.Path() + "/config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n";
        platform::SetRegistryPath("");
        ASSERT_TRUE(desk.Open("upload list", {640, 480})) << "no display";
    }
    void TearDown() override {
        desk.Close();
        platform::SetRegistryPath("");
        CataloguesInstalled::TearDown();
    }

    std::string PutPicture(const std::string& name, uint32_t (*pixel)(uint32_t, uint32_t) = nullptr) {
        testpictures::JpegOptions options;
        options.width = 160;
        options.height = 120;
        options.pixel = pixel;
        testpictures::Bytes jpeg = testpictures::EncodeJpeg(options);
        return m_pictures.Put(name, std::string(jpeg.begin(), jpeg.end()));
    }

    // Where a cell's tick box is on the screen.
    static CUIPoint TickOnScreen(CPictureBrowserDialog& dialog, size_t index) {
        CPictureThumbnailView& view = dialog.GetThumbnails();
        const CUIRect cell = view.GetCellRect(index);
        return view.ClientToScreen(Centre(CPictureGrid::GetTickRect().Offset(cell.left, cell.top)));
    }
    static CUIPoint CellOnScreen(CPictureBrowserDialog& dialog, size_t index) {
        CPictureThumbnailView& view = dialog.GetThumbnails();
        const CUIRect cell = view.GetCellRect(index);
        return view.ClientToScreen({cell.left + CPictureGrid::kCellWidth / 2, cell.top + 50});
    }
    static CUIPoint ButtonOnScreen(CPicturePane& pane, CPictureStackButton& button) {
        return pane.ClientToScreen(Centre(button.GetRect()));
    }
    // Saves a screenshot under $PX_BROWSER_SCREENSHOTS, for a person to look at.
    static std::string Screenshot(const std::string& name) {
        const char* folder = std::getenv("PX_BROWSER_SCREENSHOTS");
        if (folder == nullptr)
            return "true";
        return "import -window root '" + std::string(folder) + "/" + name + ".png'";
    }

    size_t IndexOf(const CPictureBrowserDialog& dialog, const std::string& name) {
        const auto& entries = dialog.GetModel().GetEntries();
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].name == name)
                return i;
        ADD_FAILURE() << name << " is not listed";
        return 0;
    }

    ScopedTempFolder m_home{"pxbrowsergui"};
    ScopedTempFolder m_pictures{"pxbrowserpics"};
    testsupport::ScopedEnv m_configHome;
    testsupport::ScopedEnv m_homeVar;
    gui::DialogOwner desk;
};

uint32_t Reddish(uint32_t x, uint32_t y) {
    return 0xC02020u + ((x / 20 + y / 20) % 2) * 0x003F00u;
}

uint32_t Bluish(uint32_t x, uint32_t) {
    return 0x2040C0u + (x % 40 < 20 ? 0x202020u : 0);
}

TEST_F(PictureBrowserGuiTest, TickingTwoPicturesAddsExactlyThose) {
    PutPicture("anemone.jpg", Reddish);
    const std::string beach = PutPicture("beach.jpg", Bluish);
    PutPicture("cliffs.jpg");
    const std::string dunes = PutPicture("dunes.JPG", Reddish);
    std::filesystem::create_directories(m_pictures / "older");

    int paintsBefore = 0;
    ScriptedBrowser browser;
    // The cells that have been painted with their thumbnail, by index.
    std::set<size_t> drawn;
    browser.GetThumbnails().SetPaintObserver([&](const CPictureThumbnailView::PaintedCells& cells) {
        drawn.insert(cells.withThumbnail.begin(), cells.withThumbnail.end());
    });
    browser.steps = {
        // Every thumbnail arrives from the worker and is drawn in its picture's cell, and the folder's
        // cell keeps its icon.
        {nullptr, [&] { return browser.GetThumbnails().GetThumbnailCount() == 4; }},
        {nullptr, [&] { return drawn.size() == 4; }},
        {nullptr,
         [&] {
             EXPECT_EQ(drawn.count(IndexOf(browser, "older")), 0u);
             return true;
         }},
        {[&] { return Screenshot("browser-thumbnails-before"); }, nullptr},
        // A damaged cell is painted alone.
        {[&] {
             paintsBefore = browser.GetThumbnails().GetPaintCount();
             const CUIRect cell = browser.GetThumbnails().GetCellRect(2);
             browser.GetThumbnails().Invalidate(&cell);
             return std::string("true");
         },
         [&] { return browser.GetThumbnails().GetPaintCount() > paintsBefore; }},
        {nullptr, [&] { return browser.GetThumbnails().GetPaintedCells() == 1; }},
        {[&] { return ClickAt(TickOnScreen(browser, IndexOf(browser, "beach.jpg"))); },
         [&] { return browser.GetModel().GetTickedPaths().size() == 1; }},
        {[&] { return ClickAt(TickOnScreen(browser, IndexOf(browser, "dunes.JPG"))); },
         [&] { return browser.GetModel().GetTickedPaths().size() == 2; }},
        {[&] { return "sleep 0.3; " + Screenshot("browser-thumbnails"); }, nullptr},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetAddButton())); }, nullptr},
    };
    ASSERT_EQ(browser.Run(&desk.owner, m_pictures.Path()), ui::kIdOk);
    EXPECT_EQ(browser.done, browser.steps.size());
    EXPECT_EQ(browser.GetChosenPaths(), (std::vector<std::string>{beach, dunes}));
    EXPECT_EQ(browser.GetLastFolder(), m_pictures.Path());
    // The folder pictures were added from is now the first recent folder.
    CRegistryKey key(kRootCurrentUser, kRecentItemsKey, CRegistryKey::Open::Existing);
    EXPECT_EQ(key.ReadString("Recent0"), m_pictures.Path());
}

TEST_F(PictureBrowserGuiTest, NothingTickedWarnsAndStaysOpen) {
    PutPicture("anemone.jpg");
    ScriptedBrowser browser;
    browser.steps = {
        {nullptr, [&] { return browser.GetThumbnails().GetThumbnailCount() == 1; }},
        // The box appears with its caption; Return closes it.
        {[&] {
             return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetAddButton())) + "; " +
                    "timeout 20 sh -c \"" + Escaped(gui::PressKeysIn("^No Pictures Selected$", "Return")) +
                    "\"";
         },
         nullptr},
        {nullptr, [&] { return CUIDialog::IsOnModalStack(&browser) && browser.IsVisible(); }},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetCancelButton())); }, nullptr},
    };
    EXPECT_EQ(browser.Run(&desk.owner, m_pictures.Path()), ui::kIdCancel);
    EXPECT_EQ(browser.done, browser.steps.size());
    EXPECT_TRUE(browser.GetChosenPaths().empty());
    // Nothing was added: no recent folder was stored.
    EXPECT_THROW(
        CRegistryKey(kRootCurrentUser, kRecentItemsKey, CRegistryKey::Open::Existing).ReadString("Recent0"),
        CRegistryException);
}

TEST_F(PictureBrowserGuiTest, FoldersBackDetailsAndTheFolderTree) {
    PutPicture("top.jpg");
    std::filesystem::create_directories(m_pictures / "trip/day one");
    PutPicture("trip/lake.jpg", Bluish);
    PutPicture("trip/hill.jpeg", Reddish);
    const std::string trip = m_pictures / "trip";

    ScriptedBrowser browser;
    browser.steps = {
        {nullptr, [&] { return browser.GetThumbnails().GetThumbnailCount() == 1; }},
        // A double click on a folder opens it; back returns.
        {[&] { return ClickAt(CellOnScreen(browser, IndexOf(browser, "trip")), 2); },
         [&] { return browser.GetModel().GetCurrentFolder() == trip; }},
        {nullptr, [&] { return browser.GetThumbnails().GetThumbnailCount() == 2; }},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetToolbar(), browser.GetBackButton())); },
         [&] { return browser.GetModel().GetCurrentFolder() == m_pictures.Path(); }},
        {nullptr, [&] { return !browser.GetModel().CanGoBack() && !browser.GetBackButton().IsEnabled(); }},
        {[&] { return ClickAt(CellOnScreen(browser, IndexOf(browser, "trip")), 2); },
         [&] { return browser.GetModel().GetCurrentFolder() == trip; }},
        // The view switch's menu: the second item is "Details".
        {[&] {
             return ClickAt(ButtonOnScreen(browser.GetToolbar(), browser.GetViewButton())) +
                    "; sleep 0.5; xdotool key --delay 150 Down Down Return";
         },
         [&] { return browser.GetViewMode() == CPictureBrowserDialog::ViewMode::Details; }},
        {nullptr, [&] { return browser.GetDetails().GetList()->GetRowCount() == 3; }},
        // The tick box in front of a picture's row ticks it.
        {[&] {
             const CUIRect row = browser.GetDetails().GetList()->GetRowRect(IndexOf(browser, "lake.jpg"));
             CUIPoint tick = browser.GetDetails().ClientToScreen({row.left + 11, row.top + row.Height() / 2});
             return ClickAt(tick);
         },
         [&] { return browser.GetModel().GetTickedPaths() == std::vector<std::string>{trip + "/lake.jpg"}; }},
        {[&] { return "sleep 0.3; " + Screenshot("browser-details"); }, nullptr},
        // The folder tree opens at the current folder; BackSpace goes to its parent and Return takes it.
        {[&] {
             CUIPoint chooser = browser.GetToolbar().ClientToScreen(Centre(browser.GetChooserRect()));
             return ClickAt(chooser) + "; sleep 1; " + Screenshot("browser-folder-tree") +
                    "; xdotool key --delay 150 BackSpace Return";
         },
         [&] { return browser.GetModel().GetCurrentFolder() == m_pictures.Path(); }},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetCancelButton())); }, nullptr},
    };
    EXPECT_EQ(browser.Run(&desk.owner, m_pictures.Path()), ui::kIdCancel);
    EXPECT_EQ(browser.done, browser.steps.size());
}

TEST_F(PictureBrowserGuiTest, TheWheelScrollsALongGrid) {
    for (int i = 0; i < 30; ++i)
        PutPicture(std::string("p").append(std::to_string(100 + i)).append(".jpg"));
    ScriptedBrowser browser;
    browser.steps = {
        {nullptr, [&] { return browser.GetThumbnails().GetPaintCount() > 0; }},
        {[&] { return ClickAt(CellOnScreen(browser, 0)) + " click --repeat 3 --delay 80 5"; },
         [&] { return browser.GetThumbnails().GetScroll() > 0; }},
        // The cells under the view's top moved with the grid: the first row is above it.
        {nullptr, [&] { return browser.GetThumbnails().GetCellRect(0).top < 0; }},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetCancelButton())); }, nullptr},
    };
    EXPECT_EQ(browser.Run(&desk.owner, m_pictures.Path()), ui::kIdCancel);
    EXPECT_EQ(browser.done, browser.steps.size());
}

// The screen's pixel at a point, as the X server shows it; nothing when it cannot be read.
std::optional<CUIColor> ScreenPixel(CUIPoint at) {
    const std::string command = "import -window root -crop 1x1+" + std::to_string(at.x) + "+" +
                                std::to_string(at.y) + " -depth 8 txt:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        text += buffer;
    pclose(pipe);
    // "0,0: (237,237,237)  #EDEDED  srgb(...)"
    int red = 0, green = 0, blue = 0;
    const size_t open = text.find(": (");
    if (open == std::string::npos || sscanf(text.c_str() + open, ": (%d,%d,%d)", &red, &green, &blue) != 3)
        return std::nullopt;
    return CUIColor(static_cast<uint8_t>(red), static_cast<uint8_t>(green), static_cast<uint8_t>(blue));
}

TEST_F(PictureBrowserGuiTest, TheShortcutUnderThePointerIsHighlighted) {
    ScriptedBrowser browser;
    std::optional<CUIColor> ground, lit;
    browser.steps = {
        {nullptr, [&] { return browser.GetBottomBar().GetPaintCount() > 0; }},
        {nullptr,
         [&] {
             // An entry's corner shows the bar's grey while the pointer is elsewhere.
             ground = ScreenPixel(browser.GetShortcuts().ClientToScreen({6, 32}));
             return true;
         }},
        {[&] {
             return "xdotool mousemove " + Point(browser.GetShortcuts().ClientToScreen({50, 60})) +
                    " sleep 0.3";
         },
         [&] { return browser.GetShortcuts().GetHot() == std::optional<size_t>(0); }},
        {[&] { return std::string("sleep 0.3"); },
         [&] {
             lit = ScreenPixel(browser.GetShortcuts().ClientToScreen({6, 32}));
             return true;
         }},
        {[&] { return "sleep 0.2; " + Screenshot("browser-shortcut-hover"); }, nullptr},
        // A click on the entry opens the recent folders.
        {[&] {
             return ClickAt(browser.GetShortcuts().ClientToScreen({50, 60}));
         },
         [&] { return browser.GetModel().GetCurrentFolder() == kRecentLocation; }},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetCancelButton())); }, nullptr},
    };
    EXPECT_EQ(browser.Run(&desk.owner, m_pictures.Path()), ui::kIdCancel);
    EXPECT_EQ(browser.done, browser.steps.size());
    EXPECT_EQ(ground, CUIColor(237, 237, 237));
    const CUIColor highlight = CUIColor::FromSystem(platform::kColorHighlight);
    EXPECT_EQ(lit, CUIColor(highlight.Red(), highlight.Green(), highlight.Blue()));
    // The recent folders hold My Pictures when nothing was added yet.
    EXPECT_EQ(browser.GetModel().GetEntries().size(), 1u);
}

TEST_F(PictureBrowserGuiTest, MissingStartFolderOpensMyPictures) {
    ScriptedBrowser browser;
    browser.steps = {
        // Placed on the screen, so that the click meets the button.
        {nullptr,
         [&] { return browser.GetModel().HasCurrentFolder() && browser.GetBottomBar().GetPaintCount() > 0; }},
        {[&] { return ClickAt(ButtonOnScreen(browser.GetBottomBar(), browser.GetCancelButton())); }, nullptr},
    };
    EXPECT_EQ(browser.Run(&desk.owner, m_pictures / "gone"), ui::kIdCancel);
    EXPECT_EQ(browser.GetLastFolder(), m_home.Path() + "/Pictures");
    // Cancel adds nothing and leaves the recent folders alone.
    EXPECT_TRUE(browser.GetChosenPaths().empty());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
