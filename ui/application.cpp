#include "ui/application.h"

#include <algorithm>
#include <cassert>

namespace {

CUIApplication* g_application = nullptr;

} // namespace

CUIApplication::CUIApplication(platform::WindowSystem& system)
    : m_system(system), m_thread(std::this_thread::get_id()) {
    g_application = this;
}

CUIApplication::~CUIApplication() {
    if (m_threadTimer != 0)
        m_system.KillThreadTimer(m_threadTimer);
    for (TimerEntry& entry : m_timers)
        delete entry.handler;
    m_timers.clear();
    m_tasks.clear();
    m_idleHandlers.clear();
    {
        std::lock_guard guard(m_callLock);
        m_calls.clear();
    }
    m_idsByCommand.clear();
    m_commandsById.clear();
    if (g_application == this)
        g_application = nullptr;
}

CUIApplication* CUIApplication::Get() {
    return g_application;
}

// --- Commands ------------------------------------------------------------------------------------

int CUIApplication::RegisterCommand(std::unique_ptr<CUICommand> command) {
    assert(command && "a command to register");
    if (auto it = m_idsByCommand.find(command.get()); it != m_idsByCommand.end()) {
        // Already ours: the caller's second owner must not delete it.
        (void)command.release();
        return it->second;
    }
    int id = ++m_commandCounter;
    m_idsByCommand.emplace(command.get(), id);
    m_commandsById.emplace(id, std::move(command));
    return id;
}

int CUIApplication::RegisterCommand(CUICommand* command) {
    return RegisterCommand(std::unique_ptr<CUICommand>(command));
}

CUICommand* CUIApplication::FindCommand(int id) const {
    auto it = m_commandsById.find(id);
    return it == m_commandsById.end() ? nullptr : it->second.get();
}

int CUIApplication::GetCommandId(const CUICommand* command) const {
    auto it = m_idsByCommand.find(command);
    return it == m_idsByCommand.end() ? 0 : it->second;
}

bool CUIApplication::DispatchCommand(int id) {
    if (id == 0)
        return false;
    CUICommand* command = FindCommand(id);
    if (command == nullptr || !command->IsEnabled())
        return false;
    command->Execute();
    return true;
}

// --- Timers --------------------------------------------------------------------------------------

void CUIApplication::AddTimer(CUITimerHandler* handler, int intervalMs) {
    assert(IsUIThread() && "timers belong to the UI thread");
    int interval = (std::max)(intervalMs, 1);
    // A timer added while the timers are being advanced starts counting at the next tick: the time
    // elapsed before it existed must not make it fire early. Nor must the time since the last tick,
    // which the next tick counts for every timer.
    m_timers.push_back({handler, interval, interval + SinceLastTick(), m_advancing});
    m_timerListChanged = true;
    if (m_threadTimer == 0) {
        m_threadTimer = m_system.SetThreadTimer(kThreadTimerIntervalMs);
        m_threadTimerInterval = kThreadTimerIntervalMs;
    } else {
        RearmThreadTimer();
    }
}

int CUIApplication::SinceLastTick() const {
    if (!m_timerClockStarted)
        return 0;
    return (std::max)(static_cast<int32_t>(m_system.GetMessageTime() - m_lastTick), 0);
}

void CUIApplication::RearmThreadTimer() {
    if (m_threadTimer == 0)
        return;
    unsigned wanted = kThreadTimerIntervalMs;
    // Until the first tick has started the clock, ticks come every millisecond.
    if (m_timerClockStarted && m_tasks.empty() && m_idleHandlers.empty()) {
        int next = static_cast<int>(kLongestThreadTimerIntervalMs);
        const int since = SinceLastTick();
        for (const TimerEntry& entry : m_timers)
            next = (std::min)(next, entry.timeLeft - since);
        wanted = static_cast<unsigned>((std::max)(next, static_cast<int>(kThreadTimerIntervalMs)));
    }
    if (wanted == m_threadTimerInterval)
        return;
    m_system.KillThreadTimer(m_threadTimer);
    m_threadTimer = m_system.SetThreadTimer(wanted);
    m_threadTimerInterval = wanted;
}

void CUIApplication::RemoveTimer(CUITimerHandler* handler) {
    auto it = std::find_if(m_timers.begin(), m_timers.end(),
                           [&](const TimerEntry& entry) { return entry.handler == handler; });
    if (it == m_timers.end())
        return;
    m_timers.erase(it);
    m_timerListChanged = true;
    // The handler may be the one running now; it goes when the scan is over.
    if (m_advancing)
        m_removedTimers.emplace_back(handler);
    else
        delete handler;
    if (m_timers.empty() && m_threadTimer != 0) {
        m_system.KillThreadTimer(m_threadTimer);
        m_threadTimer = 0;
    }
}

void CUIApplication::AdvanceTimers() {
    uint32_t now = m_system.GetMessageTime();
    if (!m_timerClockStarted) {
        m_timerClockStarted = true;
        m_lastTick = now;
        return;
    }
    // Message times wrap after 49.7 days; the difference stays right as a signed value.
    int32_t elapsed = static_cast<int32_t>(now - m_lastTick);
    if (elapsed <= 0 || m_advancing)
        return;
    m_lastTick = now;
    for (TimerEntry& entry : m_timers)
        entry.firedThisTick = false;
    m_timerListChanged = false;
    m_advancing = true;
    struct EndScan {
        CUIApplication& app;
        ~EndScan() {
            app.m_advancing = false;
            app.m_removedTimers.clear();
        }
    } endScan{*this};

    size_t i = 0;
    while (i < m_timers.size()) {
        TimerEntry& entry = m_timers[i];
        if (entry.firedThisTick) {
            ++i;
            continue;
        }
        entry.firedThisTick = true;
        entry.timeLeft -= elapsed;
        if (entry.timeLeft >= 1) {
            ++i;
            continue;
        }
        entry.timeLeft = entry.interval;
        CUITimerHandler* handler = entry.handler; // the entry may move while the handler runs
        handler->OnTimer();
        if (m_timerListChanged) {
            m_timerListChanged = false;
            i = 0;
            continue;
        }
        ++i;
    }
}

void CUIApplication::OnThreadTimerTick() {
    if (!IsPending()) {
        RunIdleWork();
        if (m_mainWindow != nullptr && !m_system.HasQueuedMessage(m_mainWindow, ui::kWmRunPendingWork))
            m_system.PostMessage(m_mainWindow, ui::kWmRunPendingWork, 0, 0);
    }
    AdvanceTimers();
    RearmThreadTimer();
}

// --- Idle handlers and tasks ----------------------------------------------------------------------

void CUIApplication::AddIdleHandler(CUIIdleHandler* handler) {
    m_idleHandlers.emplace_back(handler);
    RearmThreadTimer();
}

void CUIApplication::PostTask(CUITask* task) {
    m_tasks.emplace_back(task);
    RearmThreadTimer();
}

void CUIApplication::RunIdleHandlers() {
    if (m_runningIdle)
        return; // an idle handler that pumps (a modal loop) does not run the handlers again
    m_runningIdle = true;
    // Handlers added while this round runs wait for the next round.
    size_t count = m_idleHandlers.size();
    for (size_t i = 0; i < count && i < m_idleHandlers.size();) {
        if (m_idleHandlers[i]->OnIdle()) {
            m_idleHandlers.erase(m_idleHandlers.begin() + static_cast<ptrdiff_t>(i));
            --count;
        } else {
            ++i;
        }
    }
    m_runningIdle = false;
}

bool CUIApplication::RunOneTask() {
    if (m_tasks.empty())
        return false;
    std::unique_ptr<CUITask> task = std::move(m_tasks.front());
    m_tasks.pop_front();
    if (task->Run())
        return true;
    task->m_sequence = ++m_taskSequence;
    m_tasks.push_back(std::move(task));
    return true;
}

void CUIApplication::RunIdleWork() {
    RunIdleHandlers();
    while (!IsPending() && RunOneTask()) {
    }
}

// --- Cross-thread calls --------------------------------------------------------------------------

void CUIApplication::PostCall(std::function<void()> call) {
    std::lock_guard guard(m_callLock);
    m_calls.push_back(std::move(call));
    m_callEvent.Set();
}

void CUIApplication::RunCrossThreadCalls() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard guard(m_callLock);
            if (m_calls.empty()) {
                // Under the lock, so that a call posted now sets the event after this reset.
                m_callEvent.Reset();
                return;
            }
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
    }
}

// --- Dialogs and refresh ---------------------------------------------------------------------------

void CUIApplication::RegisterDialog(platform::NativeWindow window, CUIDialog* dialog) {
    m_dialogs[window] = dialog;
}

void CUIApplication::UnregisterDialog(platform::NativeWindow window) {
    m_dialogs.erase(window);
}

CUIDialog* CUIApplication::FindDialog(platform::NativeWindow window) const {
    auto it = m_dialogs.find(window);
    return it == m_dialogs.end() ? nullptr : it->second;
}

void CUIApplication::AddRefreshListener(std::function<void()> listener) {
    m_refreshListeners.push_back(std::move(listener));
}

void CUIApplication::Refresh() {
    for (auto& listener : m_refreshListeners)
        listener();
}

// --- The pump ------------------------------------------------------------------------------------

bool CUIApplication::IsPending() {
    platform::WaitResult result = m_system.MsgWait(m_callEvent.GetNativeWaitHandle(), 0);
    return result != platform::WaitResult::Timeout && result != platform::WaitResult::Failed;
}

int CUIApplication::Run() {
    assert(IsUIThread() && "the pump runs on the UI thread");
    while (!m_quit) {
        if (!IsPending())
            RunIdleWork();
        PumpOnce();
    }
    return m_exitCode;
}

void CUIApplication::Quit(int exitCode) {
    m_system.PostQuitMessage(exitCode);
}

void CUIApplication::PumpOnce() {
    assert(IsUIThread() && "the pump runs on the UI thread");
    RunCrossThreadCalls();
    if (!m_quit && !IsPending())
        m_system.MsgWait(m_callEvent.GetNativeWaitHandle(), -1);
    // The wait may have ended for a call: it runs now, not after the next wake.
    RunCrossThreadCalls();
    TakeMessages();
}

void CUIApplication::TakeMessages() {
    ui::Message message;
    while (!m_quit && m_system.PeekMessage(message)) {
        switch (message.message) {
        case ui::kWmQuit:
            m_quit = true;
            m_exitCode = static_cast<int>(message.wParam);
            return;
        case ui::kWmCommand:
            DispatchCommand(ui::LoWord(message.wParam));
            break;
        case ui::kWmSysColorChange:
        case ui::kWmWinIniChange:
            if (!m_refreshed || message.time != m_lastRefreshTime) {
                m_refreshed = true;
                m_lastRefreshTime = message.time;
                Refresh();
            }
            Dispatch(message);
            break;
        default:
            Dispatch(message);
            break;
        }
    }
}

void CUIApplication::TrackMouse(const ui::Message& message) {
    if (message.message != ui::kWmMouseMove && message.message != ui::kWmNcMouseMove)
        return;
    if (message.window == m_lastMouseWindow)
        return;
    platform::NativeWindow previous = m_lastMouseWindow;
    m_lastMouseWindow = message.window;
    if (previous != nullptr && m_system.IsWindow(previous))
        m_system.SendMessage(previous, ui::kWmMouseLeft, 0, 0);
    m_system.SendMessage(message.window, ui::kWmMouseEntered, 0, 0);
}

bool CUIApplication::OfferToDialogs(const ui::Message& message) {
    for (platform::NativeWindow window = message.window; window != nullptr;
         window = m_system.GetParent(window)) {
        if (m_dialogs.count(window) != 0)
            return m_system.IsDialogMessage(window, message);
    }
    return false;
}

void CUIApplication::Dispatch(const ui::Message& message) {
    if (message.window == nullptr) {
        if (message.message == ui::kWmTimer && message.wParam == m_threadTimer && m_threadTimer != 0)
            OnThreadTimerTick();
        return;
    }
    TrackMouse(message);
    if (OfferToDialogs(message))
        return;
    m_system.DispatchMessage(message);
}

bool CUIApplication::HandleHostedMessage(ui::MessageId message, ui::WParam wParam, ui::LParam) {
    switch (message) {
    case ui::kWmRunPendingWork:
        RunPendingWork();
        return true;
    case ui::kWmCommand:
        DispatchCommand(ui::LoWord(wParam));
        return true;
    default:
        return false;
    }
}

void CUIApplication::RunPendingWork() {
    RunCrossThreadCalls();
    AdvanceTimers();
    if (!IsPending())
        RunIdleWork();
}
