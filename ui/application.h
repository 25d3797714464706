// The toolkit's application object: one per UI thread. It runs the thread's message pump (also
// inside modal dialog loops), dispatches command ids to command objects, drives millisecond timers
// from one thread timer, runs idle handlers and deferred tasks when nothing else is pending, and
// carries calls from worker threads onto the UI thread. When a host owns the thread's message loop,
// the host's window forwards kWmRunPendingWork and WM_COMMAND to HandleHostedMessage instead.
//
// The native side is a platform::WindowSystem that the application borrows; the application owns the
// commands, timer handlers, idle handlers and tasks given to it.
//
// Threads: everything belongs to the UI thread (the one that made the object) except PostCall, which
// any thread may use. m_callLock guards m_calls; the event is set with a call queued.
#pragma once

#include "foundation/event.h"
#include "platform/window_system.h"
#include "ui/command.h"
#include "ui/messages.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CUIDialog;

class CUITimerHandler {
public:
    virtual ~CUITimerHandler() = default;
    virtual void OnTimer() = 0;
};

class CUIIdleHandler {
public:
    virtual ~CUIIdleHandler() = default;
    // True when the handler has no more work: it is then removed and deleted.
    virtual bool OnIdle() = 0;
};

// A piece of work done in steps while the thread is otherwise idle.
class CUITask {
public:
    virtual ~CUITask() = default;
    // One step; true when the task has finished (it is then deleted), false to be run again later.
    virtual bool Run() = 0;
    // Stamped each time the task goes back into the queue.
    uint32_t GetSequence() const { return m_sequence; }

private:
    friend class CUIApplication;
    uint32_t m_sequence = 0;
};

class CUIApplication {
public:
    // The thread timer ticks every millisecond while there is idle work or a timer is about to
    // fire; otherwise its next tick is when the nearest timer is due, at most a second away, so that
    // an idle program does not wake a thousand times a second.
    static constexpr unsigned kThreadTimerIntervalMs = 1;
    static constexpr unsigned kLongestThreadTimerIntervalMs = 1000;
    static constexpr int kFirstCommandCounter = 101;

    explicit CUIApplication(platform::WindowSystem& system);
    virtual ~CUIApplication();
    CUIApplication(const CUIApplication&) = delete;
    CUIApplication& operator=(const CUIApplication&) = delete;

    // The application of the process, set by the constructor and cleared by the destructor.
    static CUIApplication* Get();

    platform::WindowSystem& GetWindowSystem() { return m_system; }
    bool IsUIThread() const { return std::this_thread::get_id() == m_thread; }

    void SetMainWindow(platform::NativeWindow window) { m_mainWindow = window; }
    platform::NativeWindow GetMainWindow() const { return m_mainWindow; }

    // Commands: the application owns them. Registering one that is known returns its id again.
    int RegisterCommand(std::unique_ptr<CUICommand> command);
    int RegisterCommand(CUICommand* command); // takes ownership
    CUICommand* FindCommand(int id) const;
    int GetCommandId(const CUICommand* command) const;
    // Executes the command of `id` when it exists and is enabled; true when it ran.
    bool DispatchCommand(int id);

    // Timers: the application owns the handler until RemoveTimer, which deletes it. An interval below
    // 1 ms counts as 1.
    void AddTimer(CUITimerHandler* handler, int intervalMs);
    void RemoveTimer(CUITimerHandler* handler);
    size_t GetTimerCount() const { return m_timers.size(); }

    void AddIdleHandler(CUIIdleHandler* handler); // takes ownership
    void PostTask(CUITask* task);                 // takes ownership; first in, first out
    size_t GetTaskCount() const { return m_tasks.size(); }
    uint32_t GetTaskSequence() const { return m_taskSequence; }

    // From any thread: `call` runs on the UI thread in the next pump, in the order posted.
    void PostCall(std::function<void()> call);

    // Keyboard navigation: messages for a registered dialog's windows are offered to it first.
    void RegisterDialog(platform::NativeWindow window, CUIDialog* dialog);
    void UnregisterDialog(platform::NativeWindow window);
    CUIDialog* FindDialog(platform::NativeWindow window) const;

    // Called once per distinct message time of WM_SYSCOLORCHANGE / WM_WININICHANGE, after system
    // colours and metrics changed.
    void AddRefreshListener(std::function<void()> listener);

    // The pump.
    int Run();
    void Quit(int exitCode = 0);
    bool IsQuitting() const { return m_quit; }
    int GetExitCode() const { return m_exitCode; }
    void PumpOnce();
    bool IsPending();

    // Hosted operation: true when the message was the application's.
    bool HandleHostedMessage(ui::MessageId message, ui::WParam wParam, ui::LParam lParam);
    // Cross-thread calls, timers and idle work, as kWmRunPendingWork asks.
    void RunPendingWork();

    // Public for the native layer's tick and for tests that drive the scheduler directly.
    void OnThreadTimerTick();
    void AdvanceTimers();

protected:
    // System colours and metrics changed; the base tells the refresh listeners.
    virtual void Refresh();

private:
    struct TimerEntry {
        CUITimerHandler* handler;
        int interval;
        int timeLeft;
        bool firedThisTick;
    };

    // Sets the thread timer to the interval the timers and the idle work now need.
    void RearmThreadTimer();
    // Milliseconds of message time since the timers were last advanced.
    int SinceLastTick() const;
    void RunCrossThreadCalls();
    void RunIdleHandlers();
    bool RunOneTask();
    void RunIdleWork();
    void TakeMessages();
    void Dispatch(const ui::Message& message);
    void TrackMouse(const ui::Message& message);
    bool OfferToDialogs(const ui::Message& message);

    platform::WindowSystem& m_system;
    const std::thread::id m_thread;
    platform::NativeWindow m_mainWindow = nullptr;
    bool m_quit = false;
    int m_exitCode = 0;

    int m_commandCounter = kFirstCommandCounter;
    std::map<int, std::unique_ptr<CUICommand>> m_commandsById;
    std::map<const CUICommand*, int> m_idsByCommand;

    std::deque<std::unique_ptr<CUITask>> m_tasks;
    uint32_t m_taskSequence = 0;
    std::vector<std::unique_ptr<CUIIdleHandler>> m_idleHandlers;
    bool m_runningIdle = false;

    std::vector<TimerEntry> m_timers;
    uintptr_t m_threadTimer = 0;
    unsigned m_threadTimerInterval = 0; // what the running thread timer was set to
    bool m_timerClockStarted = false;
    uint32_t m_lastTick = 0;
    bool m_timerListChanged = false;
    bool m_advancing = false;
    std::vector<std::unique_ptr<CUITimerHandler>> m_removedTimers; // deleted after the scan

    std::map<platform::NativeWindow, CUIDialog*> m_dialogs;
    platform::NativeWindow m_lastMouseWindow = nullptr;
    bool m_refreshed = false;
    uint32_t m_lastRefreshTime = 0;
    std::vector<std::function<void()>> m_refreshListeners;

    CEvent m_callEvent;
    std::mutex m_callLock;
    std::deque<std::function<void()>> m_calls;
};
