// Menus, file drops, the clipboard and pointer shapes of the toolkit over GTK,
// under a private X server, driven by real pointer and key events and by another X client of our own
// (tests/ui/x_client.py) that drags files and owns the clipboard.
#include "platform/resources.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "ui/command.h"
#include "ui/file_dialog.h" // the clipboard
#include "ui/menu.h"
#include "ui/window.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

const platform::ResourceModule& PxModuleResources();

namespace {

// The system interpreter, which has the GTK bindings (python3-gi); a python3 earlier in PATH may not.
const std::string kClient = std::string(PX_SOURCE_DIR) + "/tests/ui/x_client.py";

// A window that shows a popup menu on its context-menu request and keeps what Track returned.
class MenuWindow : public CUIWindow {
public:
    std::function<CUIMenu()> makeMenu;
    uint32_t flags = 0;
    int tracked = -1;
    bool commandQueuedAfterTrack = false;

    bool HandleMessage(const ui::Message& message, ui::LResult&) override {
        if (message.message != ui::kWmContextMenu || !makeMenu)
            return false;
        CUIPoint at{ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)};
        tracked = makeMenu().Track(*this, at, flags);
        commandQueuedAfterTrack = System().HasQueuedMessage(GetHandle(), ui::kWmCommand);
        return true;
    }
    using CUIWindow::System;
};

class CountingCommand : public CUICommand {
public:
    explicit CountingCommand(int& count) : CUICommand("count", "counts"), m_count(count) {}
    void Execute() override { ++m_count; }

private:
    int& m_count;
};

class DropRecorder : public CUIDropTarget {
public:
    std::vector<std::vector<std::string>> drops;
    std::vector<bool> overs;
    CUIPoint point;
    void OnDragOver(bool inside) override { overs.push_back(inside); }
    void OnDropFiles(const std::vector<std::string>& paths, CUIPoint at) override {
        drops.push_back(paths);
        point = at;
    }
};

// A window that asks for the wait cursor on WM_SETCURSOR while it is busy.
class BusyWindow : public CUIWindow {
public:
    bool busy = false;
    int setCursorSeen = 0;
    bool HandleMessage(const ui::Message& message, ui::LResult& result) override {
        if (message.message != ui::kWmSetCursor)
            return false;
        ++setCursorSeen;
        if (!busy)
            return false;
        System().SetCursor(GetHandle(), platform::CursorShape::Wait);
        result = 1;
        return true;
    }
    using CUIWindow::System;
};

class ToolkitGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetResourceModule(&PxModuleResources());
        system = platform::GetNativeWindowSystem();
        ASSERT_NE(system, nullptr) << "no display";
        app = std::make_unique<CUIApplication>(*system);
        ASSERT_TRUE(gui::OpenFrameWithChild(*app, frame, child, "toolkit test"));
    }
    void TearDown() override {
        child.Destroy();
        frame.Destroy();
        app.reset();
        platform::SetResourceModule(nullptr);
    }

    std::string RightClick(const CUIWindow& window, int x, int y) {
        CUIPoint at = window.ClientToScreen({x, y});
        return "xdotool mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 3";
    }

    platform::WindowSystem* system = nullptr;
    std::unique_ptr<CUIApplication> app;
    CUIWindow frame;
    MenuWindow child;
};

TEST_F(ToolkitGuiTest, TheContextPopupOfTheModulesMenuReturnsTheChosenIdWithoutPostingIt) {
    child.makeMenu = [] {
        CUIMenu bar = CUIMenu::Load(104);
        return bar.GetSubMenu(bar.FindSubMenu("Context"));
    };
    child.flags = platform::kTpmReturnCmd;
    // The menu takes the keyboard once it is up; the keys then walk to its one item and choose it.
    auto done = gui::RunAsync(RightClick(child, 30, 30) + " sleep 1 key Down sleep 0.2 key Return");
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return child.tracked != -1; }, 20));
    EXPECT_EQ(done.get(), 0);
    EXPECT_EQ(child.tracked, 32769);
    EXPECT_FALSE(child.commandQueuedAfterTrack) << "a returned command was also posted";
}

TEST_F(ToolkitGuiTest, AClickedItemReachesItsCommandThroughThePump) {
    int count = 0;
    int id = app->RegisterCommand(std::make_unique<CountingCommand>(count));
    child.makeMenu = [id] {
        CUIMenu menu;
        menu.AppendItem(id, "&Count");
        menu.AppendSeparator();
        menu.AppendItem(id + 1000, "Other");
        return menu;
    };
    CUIPoint at = child.ClientToScreen({20, 20});
    // The popup opens with its corner at the pointer; the first item lies just below and right of it.
    std::string clickItem = "xdotool sleep 1 mousemove --sync " + std::to_string(at.x + 30) + " " +
                            std::to_string(at.y + 14) + " sleep 0.3 click 1";
    auto done = gui::RunAsync(RightClick(child, 20, 20) + " && " + clickItem);
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return count == 1; }, 20));
    EXPECT_EQ(done.get(), 0);
    EXPECT_EQ(child.tracked, id);
    gui::PumpFor(*app, 0.3);
    EXPECT_EQ(count, 1) << "the command ran more than once";
}

TEST_F(ToolkitGuiTest, KeysSkipADisabledItemAndEscapeDismissesWithZero) {
    int count = 0;
    int id = app->RegisterCommand(std::make_unique<CountingCommand>(count));
    child.makeMenu = [id] {
        CUIMenu menu;
        menu.AppendItem(id + 1000, "&Disabled");
        menu.AppendItem(id, "&Enabled");
        menu.EnableItem(id + 1000, false);
        return menu;
    };
    auto done = gui::RunAsync(RightClick(child, 30, 30) + " sleep 1 key Down sleep 0.2 key Return");
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return count == 1; }, 20));
    EXPECT_EQ(done.get(), 0);
    EXPECT_EQ(child.tracked, id) << "the disabled item was chosen";

    child.tracked = -1;
    done = gui::RunAsync(RightClick(child, 60, 30) + " sleep 1 key Escape");
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return child.tracked != -1; }, 20));
    EXPECT_EQ(done.get(), 0);
    EXPECT_EQ(child.tracked, 0);
    EXPECT_FALSE(child.commandQueuedAfterTrack);
    gui::PumpFor(*app, 0.3);
    EXPECT_EQ(count, 1);
}

TEST_F(ToolkitGuiTest, FilesDraggedFromAnotherClientArriveAsTheirLocalPaths) {
    testsupport::ScopedTempFolder folder("pxdrop");
    std::string first = folder.Put("one.jpg", "1");
    std::string second = folder.Put("zwei Grüße.jpg", "2");
    DropRecorder recorder;
    child.SetDropTarget(&recorder);

    testsupport::ChildProcess source({"/usr/bin/python3", kClient, "drag", "600", "300", first, second});
    ASSERT_TRUE(source.Started());
    CUIPoint target = child.ClientToScreen({100, 60});
    std::string t = std::to_string(target.x) + " " + std::to_string(target.y);
    std::string script = "xdotool search --sync --onlyvisible --name 'drag source' >/dev/null && "
                         "xdotool sleep 0.5 mousemove --sync 640 340 sleep 0.2 mousedown 1 sleep 0.2 "
                         "mousemove --sync 650 350 sleep 0.2 mousemove --sync 500 300 sleep 0.2 "
                         "mousemove --sync " +
                         std::to_string(target.x + 20) + " " + std::to_string(target.y + 10) +
                         " sleep 0.3 mousemove --sync " + t + " sleep 0.5 mouseup 1";
    auto done = gui::RunAsync(script);
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return !recorder.drops.empty(); }, 25));
    EXPECT_EQ(done.get(), 0);
    gui::PumpFor(*app, 0.3);
    ASSERT_EQ(recorder.drops.size(), 1u);
    EXPECT_EQ(recorder.drops[0], (std::vector<std::string>{first, second}));
    EXPECT_EQ(recorder.point.x, 100);
    EXPECT_EQ(recorder.point.y, 60);
    ASSERT_FALSE(recorder.overs.empty());
    EXPECT_TRUE(recorder.overs.front()) << "no notice of the drag coming in";
    EXPECT_FALSE(recorder.overs.back()) << "the drag's end was not told";
    child.SetDropTarget(nullptr);
}

TEST_F(ToolkitGuiTest, TheFileChooserFitsTheScreenAndGivesNothingWhenCancelled) {
    testsupport::ScopedTempFolder folder("pxchoose");
    folder.Put("a.jpg", "1");
    CUIFileDialog dialog("Choose Pictures (test)");
    dialog.SetStartFolder(folder.Path());
    dialog.SetFilters(ParseFileFilters("JPEG Files (*.jpg)\n*.jpg\nAll Files (*.*)\n*.*"));
    dialog.SetMultipleSelection(true);

    // Its size and place once it has settled, then Escape.
    std::string geometry = folder / "geometry.txt";
    auto input =
        gui::RunAsync("w=$(xdotool search --sync --onlyvisible --name '^Choose Pictures \\(test\\)$' | "
                      "tail -1); sleep 1; xdotool getwindowgeometry --shell $w > '" +
                      geometry + "'; xdotool windowfocus --sync $w sleep 0.3 key Escape");
    EXPECT_TRUE(dialog.Run(&frame).empty());
    EXPECT_EQ(input.get(), 0);
    std::string text = testsupport::ReadWholeFile(geometry);
    auto value = [&](const std::string& name) {
        size_t at = text.find(name + "=");
        return at == std::string::npos ? -100000 : std::atoi(text.c_str() + at + name.size() + 1);
    };
    // Whole on the private display's 1024 x 768 screen, whatever size GTK would like.
    EXPECT_GE(value("X"), 0) << text;
    EXPECT_GE(value("Y"), 0) << text;
    EXPECT_LE(value("X") + value("WIDTH"), 1024) << text;
    EXPECT_LE(value("Y") + value("HEIGHT"), 768) << text;
}

TEST_F(ToolkitGuiTest, ClipboardTextMakesTheRoundTripAndComesFromAnotherClient) {
    CUIClipboard::SetText("Grüße & <co>\nsecond line");
    EXPECT_EQ(CUIClipboard::GetText().value_or("(none)"), "Grüße & <co>\nsecond line");

    testsupport::ScopedTempFolder folder("pxclip");
    testsupport::ChildProcess::Options options;
    options.outputPath = folder / "out.txt";
    testsupport::ChildProcess owner({"/usr/bin/python3", kClient, "clipboard", "from elsewhere: Ærø"},
                                    options);
    ASSERT_TRUE(owner.Started());
    ASSERT_TRUE(gui::PumpUntil(
        *app,
        [&] { return testsupport::ReadWholeFile(options.outputPath).find("ready") != std::string::npos; },
        15));
    EXPECT_EQ(CUIClipboard::GetText().value_or("(none)"), "from elsewhere: Ærø");
    owner.Stop();
}

TEST_F(ToolkitGuiTest, CursorsAreSetByCallAndOnSetCursor) {
    EXPECT_EQ(system->GetCursor(frame.GetHandle()), platform::CursorShape::Arrow);
    child.SetCursor(platform::CursorShape::Hand);
    EXPECT_EQ(system->GetCursor(child.GetHandle()), platform::CursorShape::Hand);
    child.SetCursor(platform::CursorShape::Wait);
    EXPECT_EQ(system->GetCursor(child.GetHandle()), platform::CursorShape::Wait);

    // A window's own shape comes back on the next pointer move, whatever was set meanwhile.
    child.SetCursor(platform::CursorShape::Hand);
    system->SetCursor(child.GetHandle(), platform::CursorShape::Arrow);
    BusyWindow busy;
    busy.CreateChild(frame);
    busy.Move(CUIRect::FromSize(260, 40, 50, 50));
    busy.Show();
    busy.busy = true;
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return busy.ClientToScreen({0, 0}).x >= 260; }));
    gui::PumpFor(*app, 0.2);
    CUIPoint overChild = child.ClientToScreen({10, 10});
    CUIPoint overBusy = busy.ClientToScreen({10, 10});
    auto done = gui::RunAsync("xdotool mousemove --sync " + std::to_string(overChild.x) + " " +
                              std::to_string(overChild.y) + " mousemove_relative --sync 3 3 sleep 0.3 " +
                              "mousemove --sync " + std::to_string(overBusy.x) + " " +
                              std::to_string(overBusy.y) + " mousemove_relative --sync 3 3");
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return busy.setCursorSeen > 0; }, 15));
    EXPECT_EQ(done.get(), 0);
    EXPECT_EQ(system->GetCursor(child.GetHandle()), platform::CursorShape::Hand);
    EXPECT_EQ(system->GetCursor(busy.GetHandle()), platform::CursorShape::Wait);
    busy.Destroy();
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
