// Toolkit windows over GTK under a private X server, driven by real pointer and key events: mouse
// messages and enter/leave at client coordinates, keys, partial repaints, timers and calls from
// worker threads.
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "ui/window.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Seen {
    ui::MessageId message;
    ui::WParam wParam;
    int x;
    int y;
};

class RecordingWindow : public CUIWindow {
public:
    std::vector<Seen> seen;
    std::vector<CUIRect> paints;
    bool paintDcGiven = true;

    bool HandleMessage(const ui::Message& message, ui::LResult&) override {
        switch (message.message) {
        case ui::kWmPaint: {
            platform::PaintInfo info;
            if (System().BeginPaint(GetHandle(), info)) {
                paints.push_back(info.update);
                paintDcGiven = paintDcGiven && info.dc != nullptr;
                System().EndPaint(GetHandle());
            }
            return true;
        }
        case ui::kWmSetCursor:
        case ui::kWmRunPendingWork:
        case ui::kWmSize:
        case ui::kWmSetFocus:
            return false;
        default:
            seen.push_back({message.message, message.wParam, ui::GetXLParam(message.lParam),
                            ui::GetYLParam(message.lParam)});
            // Left to the defaults, which turn a right-button release into a context-menu request
            // and a close into the end of the window.
            return false;
        }
    }
    bool Saw(ui::MessageId message) const { return Find(message) != nullptr; }
    const Seen* Find(ui::MessageId message) const {
        for (const Seen& s : seen)
            if (s.message == message)
                return &s;
        return nullptr;
    }
    using CUIWindow::System;
};

class WindowGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        system = platform::GetNativeWindowSystem();
        ASSERT_NE(system, nullptr) << "no display";
        app = std::make_unique<CUIApplication>(*system);
        ASSERT_TRUE(gui::OpenFrameWithChild(*app, frame, child, "toolkit window test"));
    }
    void TearDown() override {
        child.Destroy();
        frame.Destroy();
        app.reset();
    }

    std::string MoveTo(const CUIWindow& window, int x, int y) {
        CUIPoint screen = window.ClientToScreen({x, y});
        return "xdotool mousemove --sync " + std::to_string(screen.x) + " " + std::to_string(screen.y);
    }

    platform::WindowSystem* system = nullptr;
    std::unique_ptr<CUIApplication> app;
    RecordingWindow frame;
    RecordingWindow child;
};

TEST_F(WindowGuiTest, PointerEventsArriveAtClientCoordinatesWithEnterAndLeave) {
    auto done = gui::RunAsync(MoveTo(child, 10, 20) + " && xdotool click 1");
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return child.Saw(ui::kWmLButtonUp); }));
    EXPECT_EQ(done.get(), 0);

    const Seen* entered = child.Find(ui::kWmMouseEntered);
    const Seen* move = child.Find(ui::kWmMouseMove);
    const Seen* down = child.Find(ui::kWmLButtonDown);
    const Seen* up = child.Find(ui::kWmLButtonUp);
    ASSERT_TRUE(entered && move && down && up);
    EXPECT_LT(entered - child.seen.data(), move - child.seen.data()) << "entered after the first move";
    EXPECT_EQ(move->x, 10);
    EXPECT_EQ(move->y, 20);
    EXPECT_EQ(down->x, 10);
    EXPECT_EQ(down->y, 20);
    EXPECT_EQ(down->wParam & ui::kMkLButton, ui::kMkLButton);
    EXPECT_EQ(up->x, 10);
    EXPECT_EQ(up->y, 20);
    EXPECT_EQ(up->wParam & ui::kMkLButton, 0u);
    EXPECT_FALSE(frame.Saw(ui::kWmLButtonDown)) << "the child's click also reached its parent";

    // Out of the child into the frame's own area: the child hears it left, the frame that it came.
    auto back = gui::RunAsync(MoveTo(frame, 20, 200));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return frame.Saw(ui::kWmMouseMove); })) << [&] {
        std::string all;
        for (const Seen& s : frame.seen)
            all += std::to_string(s.message) + " ";
        for (const Seen& s : child.seen)
            all.append("c")
                .append(std::to_string(s.message))
                .append("@")
                .append(std::to_string(s.x))
                .append(",")
                .append(std::to_string(s.y))
                .append(" ");
        return all;
    }();
    EXPECT_EQ(back.get(), 0);
    EXPECT_TRUE(child.Saw(ui::kWmMouseLeft));
    EXPECT_TRUE(frame.Saw(ui::kWmMouseEntered));
    const Seen* frameMove = frame.Find(ui::kWmMouseMove);
    EXPECT_EQ(frameMove->x, 20);
    EXPECT_EQ(frameMove->y, 200);
}

TEST_F(WindowGuiTest, RightClickGivesButtonMessagesAndAContextMenuRequest) {
    auto done = gui::RunAsync(MoveTo(child, 30, 40) + " && xdotool click 3");
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return child.Saw(ui::kWmContextMenu); }));
    EXPECT_EQ(done.get(), 0);
    EXPECT_TRUE(child.Saw(ui::kWmRButtonDown));
    const Seen* menu = child.Find(ui::kWmContextMenu);
    CUIPoint screen = child.ClientToScreen({30, 40});
    EXPECT_EQ(menu->x, screen.x);
    EXPECT_EQ(menu->y, screen.y);
}

TEST_F(WindowGuiTest, KeysArriveAsKeyDownAndCharacters) {
    child.SetFocus();
    auto done = gui::RunAsync(MoveTo(child, 5, 5) + " && xdotool key --delay 20 a shift+b Return Delete");
    ASSERT_TRUE(gui::PumpUntil(*app, [&] {
        int downs = 0;
        for (const Seen& s : child.seen)
            downs += s.message == ui::kWmKeyDown && s.wParam == ui::kVkDelete;
        return downs > 0;
    }));
    EXPECT_EQ(done.get(), 0);
    std::vector<ui::WParam> downs, chars;
    for (const Seen& s : child.seen) {
        if (s.message == ui::kWmKeyDown && s.wParam != ui::kVkShift)
            downs.push_back(s.wParam);
        if (s.message == ui::kWmChar)
            chars.push_back(s.wParam);
    }
    EXPECT_EQ(downs, (std::vector<ui::WParam>{'A', 'B', ui::kVkReturn, ui::kVkDelete}));
    EXPECT_EQ(chars, (std::vector<ui::WParam>{'a', 'B', 13}));
}

TEST_F(WindowGuiTest, InvalidatingPartOfAWindowRepaintsOnlyThatPart) {
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !child.paints.empty(); }));
    gui::PumpFor(*app, 0.1);
    child.paints.clear();
    CUIRect part = CUIRect::FromSize(20, 30, 40, 10);
    child.Invalidate(&part);
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !child.paints.empty(); }));
    EXPECT_TRUE(child.paintDcGiven);
    for (const CUIRect& painted : child.paints) {
        EXPECT_EQ(painted.Intersect(part), painted)
            << painted.left << "," << painted.top << " " << painted.Width() << "x" << painted.Height();
        EXPECT_FALSE(painted.IsEmpty());
    }
}

class CountingTimer : public CUITimerHandler {
public:
    explicit CountingTimer(std::vector<std::thread::id>& threads) : m_threads(threads) {}
    void OnTimer() override { m_threads.push_back(std::this_thread::get_id()); }

private:
    std::vector<std::thread::id>& m_threads;
};

TEST_F(WindowGuiTest, TimersAndCallsFromWorkersRunOnTheUIThread) {
    std::vector<std::thread::id> timerThreads;
    auto* timer = new CountingTimer(timerThreads);
    app->AddTimer(timer, 20);
    std::vector<std::thread::id> callThreads;
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            app->PostCall([&, i] {
                callThreads.push_back(std::this_thread::get_id());
                order.push_back(i);
            });
    });
    worker.join();
    // Only the calls and the timer wake the pump now: nothing else keeps it turning.
    auto start = std::chrono::steady_clock::now();
    while ((timerThreads.size() < 5 || order.size() < 50) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        app->PumpOnce();
    app->RemoveTimer(timer);
    ASSERT_GE(timerThreads.size(), 5u);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
    for (auto id : timerThreads)
        EXPECT_EQ(id, std::this_thread::get_id());
    for (auto id : callThreads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(WindowGuiTest, ACallFromAWorkerWakesAPumpThatWaitsForNothingElse) {
    // No timers: the pump sleeps in the main context until the worker's call sets the event.
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        app->PostCall([&] { ran = true; });
    });
    gui::PumpFor(*app, 0.05);
    auto start = std::chrono::steady_clock::now();
    while (!ran && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        app->PumpOnce();
    worker.join();
    EXPECT_TRUE(ran);
}

TEST_F(WindowGuiTest, ClosingTheFrameAsksItsProcedureFirst) {
    // The recording frame refuses WM_CLOSE handling, so the default destroys it; the object stays.
    frame.PostMessage(ui::kWmClose);
    platform::NativeWindow handle = frame.GetHandle();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return frame.GetHandle() == nullptr; }));
    EXPECT_FALSE(system->IsWindow(handle));
    EXPECT_EQ(child.GetHandle(), nullptr) << "the child outlived its frame";
    EXPECT_TRUE(frame.Saw(ui::kWmDestroy));
    EXPECT_TRUE(child.Saw(ui::kWmDestroy));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
