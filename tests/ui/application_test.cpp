// The toolkit's own logic over a scripted window system: the command table, deferred tasks, idle
// handlers, the timer rules, the pump's handling of quit, commands, refresh and mouse tracking, and
// calls posted from worker threads.
#include "tests/ui/scripted_window_system.h"
#include "ui/application.h"
#include "ui/window.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

class CountingCommand : public CUICommand {
public:
    CountingCommand(int& runs, bool enabled = true)
        : CUICommand("count", "Counts"), m_runs(runs), m_enabled(enabled) {}
    bool IsEnabled() const override { return m_enabled; }
    void Execute() override { ++m_runs; }

private:
    int& m_runs;
    bool m_enabled;
};

class ToolkitTest : public ::testing::Test {
protected:
    ToolkitTest() { ScriptedWindowSystem::current = &system; }
    ScriptedWindowSystem system;
    CUIApplication app{system};
};

TEST_F(ToolkitTest, ApplicationIsTheProcessWideOneWhileItLives) {
    EXPECT_EQ(CUIApplication::Get(), &app);
    {
        ScriptedWindowSystem other;
        CUIApplication second(other);
        EXPECT_EQ(CUIApplication::Get(), &second);
    }
    EXPECT_EQ(CUIApplication::Get(), nullptr);
}

// --- Commands ------------------------------------------------------------------------------------

TEST_F(ToolkitTest, CommandIdsStartAt102AndReRegistrationKeepsTheId) {
    int runs = 0;
    auto* first = new CountingCommand(runs);
    EXPECT_EQ(app.RegisterCommand(first), 102);
    EXPECT_EQ(app.RegisterCommand(first), 102);
    auto* second = new CountingCommand(runs);
    EXPECT_EQ(app.RegisterCommand(second), 103);
    EXPECT_EQ(app.FindCommand(102), first);
    EXPECT_EQ(app.FindCommand(103), second);
    EXPECT_EQ(app.GetCommandId(second), 103);
    EXPECT_EQ(app.FindCommand(101), nullptr);
}

TEST_F(ToolkitTest, WmCommandRunsEnabledCommandsOnlyAndIsNotDispatched) {
    int enabledRuns = 0, disabledRuns = 0;
    int enabled = app.RegisterCommand(new CountingCommand(enabledRuns));
    int disabled = app.RegisterCommand(new CountingCommand(disabledRuns, false));
    platform::NativeWindow window = system.NewWindow();
    // The notification code in the high word does not hide the id.
    system.PostMessage(window, ui::kWmCommand, ui::MakeWParam(static_cast<uint16_t>(enabled), 1), 0);
    system.PostMessage(window, ui::kWmCommand, static_cast<ui::WParam>(disabled), 0);
    system.PostMessage(window, ui::kWmCommand, 0, 0);
    app.PumpOnce();
    EXPECT_EQ(enabledRuns, 1);
    EXPECT_EQ(disabledRuns, 0);
    EXPECT_TRUE(system.dispatched.empty());
    EXPECT_FALSE(app.DispatchCommand(0));
    EXPECT_FALSE(app.DispatchCommand(disabled));
    EXPECT_TRUE(app.DispatchCommand(enabled));
    EXPECT_EQ(enabledRuns, 2);
}

// --- Tasks and idle handlers ------------------------------------------------------------------------

class StepTask : public CUITask {
public:
    StepTask(std::string name, int steps, std::vector<std::string>& log,
             std::vector<uint32_t>* stamps = nullptr)
        : m_name(std::move(name)), m_steps(steps), m_log(log), m_stamps(stamps) {}
    ~StepTask() override { m_log.push_back(m_name + " deleted"); }
    bool Run() override {
        if (m_stamps != nullptr)
            m_stamps->push_back(GetSequence());
        m_log.push_back(m_name);
        return --m_steps == 0;
    }

private:
    std::string m_name;
    int m_steps;
    std::vector<std::string>& m_log;
    std::vector<uint32_t>* m_stamps;
};

TEST_F(ToolkitTest, TasksRunInTurnAndUnfinishedOnesGoToTheBackWithTheNextSequence) {
    std::vector<std::string> log;
    std::vector<uint32_t> stamps;
    app.PostTask(new StepTask("a", 3, log, &stamps));
    app.PostTask(new StepTask("b", 1, log));
    app.PostTask(new StepTask("c", 2, log));
    // The loop runs tasks while nothing is pending; the script quits once the queue is empty.
    system.onBlockingWait = [&] { app.Quit(); };
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(
        log, (std::vector<std::string>{"a", "b", "b deleted", "c", "a", "c", "c deleted", "a", "a deleted"}));
    // "a" ran first unstamped, then after going back as the 1st and the 3rd re-queued task.
    EXPECT_EQ(stamps, (std::vector<uint32_t>{0, 1, 3}));
    EXPECT_EQ(app.GetTaskSequence(), 3u);
}

class LoggingWindow : public CUIWindow {
public:
    explicit LoggingWindow(std::vector<std::string>& log) : m_log(log) {}
    bool HandleMessage(const ui::Message& message, ui::LResult&) override {
        if (message.message == ui::kWmUser)
            m_log.push_back("message");
        return false;
    }

private:
    std::vector<std::string>& m_log;
};

class PostingTask : public CUITask {
public:
    PostingTask(platform::NativeWindow window, std::vector<std::string>& log)
        : m_window(window), m_log(log) {}
    bool Run() override {
        m_log.push_back("post");
        CUIApplication::Get()->GetWindowSystem().PostMessage(m_window, ui::kWmUser, 0, 0);
        return true;
    }

private:
    platform::NativeWindow m_window;
    std::vector<std::string>& m_log;
};

TEST_F(ToolkitTest, TasksStopAsSoonAsSomethingIsPending) {
    std::vector<std::string> log;
    LoggingWindow window(log);
    window.CreateTopLevel("w");
    app.PostTask(new PostingTask(window.GetHandle(), log));
    app.PostTask(new StepTask("later", 1, log));
    system.onBlockingWait = [&] { app.Quit(); };
    app.Run();
    // The message posted by the first task is taken before the second task runs.
    EXPECT_EQ(log, (std::vector<std::string>{"post", "message", "later", "later deleted"}));
}

class CountingIdle : public CUIIdleHandler {
public:
    CountingIdle(int& calls, int untilDone, bool& deleted)
        : m_calls(calls), m_untilDone(untilDone), m_deleted(deleted) {}
    ~CountingIdle() override { m_deleted = true; }
    bool OnIdle() override { return ++m_calls >= m_untilDone; }

private:
    int& m_calls;
    int m_untilDone;
    bool& m_deleted;
};

TEST_F(ToolkitTest, IdleHandlersRunEachIdleRoundUntilTheyReturnTrue) {
    int shortCalls = 0, longCalls = 0;
    bool shortDeleted = false, longDeleted = false;
    app.AddIdleHandler(new CountingIdle(shortCalls, 1, shortDeleted));
    app.AddIdleHandler(new CountingIdle(longCalls, 3, longDeleted));
    int waits = 0;
    system.onBlockingWait = [&] {
        // Something to take, so that the next round is idle again.
        if (++waits == 5)
            app.Quit();
        else
            system.PostMessage(nullptr, ui::kWmNull, 0, 0);
    };
    app.Run();
    EXPECT_EQ(shortCalls, 1);
    EXPECT_TRUE(shortDeleted);
    EXPECT_EQ(longCalls, 3);
    EXPECT_TRUE(longDeleted);
}

// --- Timers --------------------------------------------------------------------------------------

class LogTimer : public CUITimerHandler {
public:
    LogTimer(std::string name, std::vector<std::string>& log, std::function<void()> also = {})
        : m_name(std::move(name)), m_log(log), m_also(std::move(also)) {}
    void OnTimer() override {
        m_log.push_back(m_name);
        if (m_also)
            m_also();
    }

private:
    std::string m_name;
    std::vector<std::string>& m_log;
    std::function<void()> m_also;
};

class TimerTest : public ToolkitTest {
protected:
    // One tick of the thread timer at message time `time`.
    void TickAt(uint32_t time) {
        system.SetMessageTime(time);
        app.AdvanceTimers();
    }
    std::vector<std::string> log;
};

TEST_F(TimerTest, OneThreadTimerOfOneMillisecondRunsWhileTimersExist) {
    auto* a = new LogTimer("a", log);
    auto* b = new LogTimer("b", log);
    app.AddTimer(a, 10);
    app.AddTimer(b, 20);
    EXPECT_EQ(system.timerIntervals, std::vector<unsigned>{1});
    app.RemoveTimer(a);
    EXPECT_EQ(system.timersKilled, 0);
    app.RemoveTimer(b);
    EXPECT_EQ(system.timersKilled, 1);
    app.AddTimer(new LogTimer("c", log), 5);
    EXPECT_EQ(system.timerIntervals, (std::vector<unsigned>{1, 1}));
}

TEST_F(TimerTest, AnIdleThreadTimerWakesOnlyWhenTheNearestTimerIsDue) {
    app.AddTimer(new LogTimer("refresh", log), 1000);
    app.AddTimer(new LogTimer("tasks", log), 200);
    system.SetMessageTime(5000);
    app.OnThreadTimerTick(); // starts the clock: both timers are whole intervals away
    EXPECT_EQ(system.timerIntervals.back(), 200u);
    system.SetMessageTime(5200);
    app.OnThreadTimerTick();
    EXPECT_EQ(log, std::vector<std::string>{"tasks"});
    EXPECT_EQ(system.timerIntervals.back(), 200u);
    // Idle work wants the next tick at once, and it runs there.
    std::vector<std::string> steps;
    app.PostTask(new StepTask("task", 1, steps));
    EXPECT_EQ(system.timerIntervals.back(), 1u);
    system.SetMessageTime(5201);
    app.OnThreadTimerTick();
    EXPECT_EQ(steps, (std::vector<std::string>{"task", "task deleted"}));
    EXPECT_EQ(system.timerIntervals.back(), 199u);
    // A timer added between ticks counts from its own start, not from the last tick.
    system.SetMessageTime(5300);
    app.AddTimer(new LogTimer("late", log), 50);
    EXPECT_EQ(system.timerIntervals.back(), 50u);
    system.SetMessageTime(5340);
    app.OnThreadTimerTick();
    EXPECT_EQ(log, std::vector<std::string>{"tasks"});
    system.SetMessageTime(5350);
    app.OnThreadTimerTick();
    EXPECT_EQ(log, (std::vector<std::string>{"tasks", "late"}));
}

TEST_F(TimerTest, TimersFireByElapsedMessageTime) {
    app.AddTimer(new LogTimer("ten", log), 10);
    app.AddTimer(new LogTimer("twentyfive", log), 25);
    TickAt(1000); // the first tick only starts the clock
    TickAt(1009);
    EXPECT_TRUE(log.empty());
    TickAt(1010);
    EXPECT_EQ(log, std::vector<std::string>{"ten"});
    TickAt(1010); // no time passed: nothing happens
    TickAt(1020);
    TickAt(1025);
    EXPECT_EQ(log, (std::vector<std::string>{"ten", "ten", "twentyfive"}));
}

TEST_F(TimerTest, IntervalsBelowOneCountAsOne) {
    app.AddTimer(new LogTimer("zero", log), 0);
    app.AddTimer(new LogTimer("negative", log), -5);
    TickAt(50);
    TickAt(51);
    TickAt(52);
    EXPECT_EQ(log, (std::vector<std::string>{"zero", "negative", "zero", "negative"}));
}

TEST_F(TimerTest, ALateTickCatchesUpOnceAndRestartsTheInterval) {
    app.AddTimer(new LogTimer("t", log), 10);
    TickAt(0);
    TickAt(95); // nine and a half intervals late: one call
    EXPECT_EQ(log.size(), 1u);
    TickAt(104);
    EXPECT_EQ(log.size(), 1u);
    TickAt(105);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(TimerTest, AHandlerThatAddsTimersMakesNoTimerFireTwiceInATick) {
    int added = 0;
    app.AddTimer(new LogTimer("adder", log,
                              [&] {
                                  ++added;
                                  app.AddTimer(new LogTimer("new" + std::to_string(added), log), 1);
                              }),
                 1);
    app.AddTimer(new LogTimer("other", log), 1);
    TickAt(0);
    TickAt(5);
    // The scan restarted after the add; neither old timer ran again, and the new one waits for time
    // that passes after it was made.
    EXPECT_EQ(log, (std::vector<std::string>{"adder", "other"}));
    TickAt(6);
    EXPECT_EQ(log, (std::vector<std::string>{"adder", "other", "adder", "other", "new1"}));
    EXPECT_EQ(app.GetTimerCount(), 4u);
}

TEST_F(TimerTest, AHandlerMayRemoveItselfAndOthers) {
    CUITimerHandler* other = nullptr;
    CUITimerHandler* self = nullptr;
    self = new LogTimer("self", log, [&] {
        app.RemoveTimer(self);
        app.RemoveTimer(other);
    });
    other = new LogTimer("other", log);
    app.AddTimer(self, 1);
    app.AddTimer(other, 1);
    TickAt(0);
    TickAt(1);
    TickAt(2);
    EXPECT_EQ(log, std::vector<std::string>{"self"});
    EXPECT_EQ(app.GetTimerCount(), 0u);
    EXPECT_EQ(system.timersKilled, 1);
}

TEST_F(TimerTest, ThreadTimerTicksArriveThroughThePump) {
    app.AddTimer(new LogTimer("t", log), 10);
    // A tick of another timer id is not the toolkit's.
    system.now = 0;
    system.PostMessage(nullptr, ui::kWmTimer, 99, 0);
    system.PostMessage(nullptr, ui::kWmTimer, 77, 0);
    system.now = 30;
    system.PostMessage(nullptr, ui::kWmTimer, 99, 0);
    EXPECT_TRUE(log.empty());
    system.PostMessage(nullptr, ui::kWmTimer, 77, 0);
    app.PumpOnce();
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(TimerTest, AnIdleTickRunsIdleWorkAndAsksTheMainWindowForPendingWorkOnce) {
    platform::NativeWindow main = system.NewWindow();
    app.SetMainWindow(main);
    std::vector<std::string> tasks;
    app.PostTask(new StepTask("task", 1, tasks));
    app.OnThreadTimerTick();
    EXPECT_EQ(tasks, (std::vector<std::string>{"task", "task deleted"}));
    EXPECT_TRUE(system.HasQueuedMessage(main, ui::kWmRunPendingWork));
    // The request now queued makes the next tick see pending input: no second request.
    app.OnThreadTimerTick();
    EXPECT_EQ(system.QueueLength(), 1u);
}

// --- Pump ----------------------------------------------------------------------------------------

TEST_F(ToolkitTest, QuitStopsTakingMessagesAndGivesTheExitCode) {
    platform::NativeWindow window = system.NewWindow();
    system.PostMessage(window, ui::kWmUser, 0, 0);
    app.Quit(3);
    system.PostMessage(window, ui::kWmUser + 1, 0, 0);
    EXPECT_EQ(app.Run(), 3);
    ASSERT_EQ(system.dispatched.size(), 1u);
    EXPECT_EQ(system.dispatched[0].message, ui::kWmUser);
    EXPECT_EQ(system.QueueLength(), 1u);
}

TEST_F(ToolkitTest, SystemColourChangesRefreshOncePerMessageTime) {
    int refreshes = 0;
    app.AddRefreshListener([&] { ++refreshes; });
    platform::NativeWindow a = system.NewWindow(), b = system.NewWindow();
    system.now = 500;
    system.PostMessage(a, ui::kWmSysColorChange, 0, 0);
    system.PostMessage(b, ui::kWmSysColorChange, 0, 0);
    system.PostMessage(b, ui::kWmWinIniChange, 0, 0);
    system.now = 501;
    system.PostMessage(a, ui::kWmSysColorChange, 0, 0);
    app.PumpOnce();
    EXPECT_EQ(refreshes, 2);
    // Every window still hears of the change.
    EXPECT_EQ(system.dispatched.size(), 4u);
}

TEST_F(ToolkitTest, MouseMovesIntoAnotherWindowSendLeaveThenEnter) {
    platform::NativeWindow a = system.NewWindow(), b = system.NewWindow();
    system.PostMessage(a, ui::kWmMouseMove, 0, ui::MakePointLParam(1, 2));
    system.PostMessage(a, ui::kWmMouseMove, 0, ui::MakePointLParam(3, 4));
    system.PostMessage(b, ui::kWmMouseMove, 0, ui::MakePointLParam(5, 6));
    app.PumpOnce();
    ASSERT_EQ(system.sent.size(), 3u);
    EXPECT_EQ(system.sent[0].window, a);
    EXPECT_EQ(system.sent[0].message, ui::kWmMouseEntered);
    EXPECT_EQ(system.sent[1].window, a);
    EXPECT_EQ(system.sent[1].message, ui::kWmMouseLeft);
    EXPECT_EQ(system.sent[2].window, b);
    EXPECT_EQ(system.sent[2].message, ui::kWmMouseEntered);
    EXPECT_EQ(system.dispatched.size(), 3u);
}

TEST_F(ToolkitTest, HostedOperationRunsPendingWorkAndCommands) {
    int runs = 0;
    int id = app.RegisterCommand(new CountingCommand(runs));
    std::vector<std::string> log;
    app.PostTask(new StepTask("task", 1, log));
    bool called = false;
    app.PostCall([&] { called = true; });
    EXPECT_TRUE(app.HandleHostedMessage(ui::kWmRunPendingWork, 0, 0));
    EXPECT_TRUE(called);
    EXPECT_EQ(log, (std::vector<std::string>{"task", "task deleted"}));
    EXPECT_TRUE(app.HandleHostedMessage(ui::kWmCommand, static_cast<ui::WParam>(id), 0));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(app.HandleHostedMessage(ui::kWmPaint, 0, 0));
}

// --- Cross-thread calls --------------------------------------------------------------------------

TEST_F(ToolkitTest, CallsFromWorkersRunOnTheUIThreadInOrder) {
    constexpr int kCalls = 200;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        for (int i = 0; i < kCalls; ++i)
            app.PostCall([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
        posted = true;
    });
    worker.join();
    EXPECT_TRUE(app.IsPending());
    // Once the calls ran, the pump waits; the script gives it a message to take.
    system.onBlockingWait = [&] { system.PostMessage(nullptr, ui::kWmNull, 0, 0); };
    app.PumpOnce();
    ASSERT_EQ(order.size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], std::this_thread::get_id());
    }
    // The event was reset with the queue empty: nothing is pending any more.
    EXPECT_FALSE(app.IsPending());
}

TEST_F(ToolkitTest, ABlockedPumpWakesForACallPostedLater) {
    std::thread worker;
    bool ran = false;
    system.onBlockingWait = [&] {
        // The wait has started: a worker posts now and the fake's wait sees the event as a real one
        // would.
        if (!worker.joinable())
            worker = std::thread([&] { app.PostCall([&] { ran = true; }); });
        worker.join();
    };
    // The pump that waited runs the call before it returns, not after whatever wakes it next.
    app.PumpOnce();
    EXPECT_TRUE(ran);
}

// --- Windows ---------------------------------------------------------------------------------------

class RecordingWindow : public CUIWindow {
public:
    std::vector<ui::MessageId> seen;
    bool handleUser = true;
    int attaches = 0, detaches = 0;
    bool HandleMessage(const ui::Message& message, ui::LResult& result) override {
        seen.push_back(message.message);
        if (message.message == ui::kWmUser && handleUser) {
            result = 7;
            return true;
        }
        return false;
    }
    void OnAttach() override { ++attaches; }
    void OnDetach() override { ++detaches; }
};

TEST_F(ToolkitTest, WindowsBindThroughUserDataAndSubclassNativeControls) {
    RecordingWindow parent;
    parent.CreateTopLevel("frame");
    RecordingWindow child;
    child.CreateChild(parent);
    EXPECT_EQ(CUIWindow::FromHandle(child.GetHandle()), &child);
    EXPECT_EQ(child.SendMessage(ui::kWmUser), 7);
    child.handleUser = false;
    EXPECT_EQ(child.SendMessage(ui::kWmUser), 0);

    // A native control keeps its own procedure for what the object leaves.
    platform::DialogTemplate dialogTemplate{1,      "d", {10, 10},
                                            "Sans", 8,   {{5, platform::ControlKind::Button, "b", 0, {}}}};
    platform::NativeWindow dialog = system.CreateDialog(nullptr, dialogTemplate);
    platform::NativeWindow control = system.GetDlgItem(dialog, 5);
    platform::WindowProc nativeProc = system.GetWindowProc(control);
    RecordingWindow wrapper;
    wrapper.Attach(control, CUIWindow::Subclass::Yes);
    EXPECT_NE(system.GetWindowProc(control), nativeProc);
    EXPECT_EQ(wrapper.SendMessage(ui::kWmUser + 3), 42);
    EXPECT_EQ(system.nativeProcCalls.size(), 1u);
    EXPECT_EQ(wrapper.SendMessage(ui::kWmUser), 7);
    EXPECT_EQ(system.nativeProcCalls.size(), 1u);
    // Binding it to another object takes it from the first, which lets the control go and restores
    // its procedure, so that the first object's end cannot destroy a window it no longer holds.
    RecordingWindow other;
    other.Attach(control);
    EXPECT_EQ(wrapper.detaches, 1);
    EXPECT_EQ(wrapper.GetHandle(), nullptr);
    EXPECT_EQ(system.GetWindowProc(control), nativeProc);
    EXPECT_EQ(CUIWindow::FromHandle(control), &other);
    other.Detach();
    EXPECT_EQ(system.GetUserData(control), nullptr);
}

TEST_F(ToolkitTest, ANativeWindowDestroyedUnderItsObjectLeavesTheObjectUnbound) {
    RecordingWindow frame;
    frame.CreateTopLevel("frame");
    platform::NativeWindow handle = frame.GetHandle();
    system.PostMessage(handle, ui::kWmClose, 0, 0);
    app.PumpOnce();
    EXPECT_FALSE(system.IsWindow(handle));
    EXPECT_EQ(frame.GetHandle(), nullptr);
    EXPECT_EQ(frame.seen, (std::vector<ui::MessageId>{ui::kWmClose, ui::kWmDestroy}));
    frame.Destroy(); // nothing left to destroy: harmless
}

TEST_F(ToolkitTest, DestroyingTheObjectDestroysItsWindow) {
    platform::NativeWindow handle;
    {
        RecordingWindow frame;
        frame.CreateTopLevel("frame");
        handle = frame.GetHandle();
    }
    EXPECT_FALSE(system.IsWindow(handle));
}

} // namespace
