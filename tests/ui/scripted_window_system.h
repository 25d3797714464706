// A window system of our own for the toolkit's headless tests: windows are numbered records with a
// parent, a procedure, user data and enabled/visible/focus state; the queue is a list; message time is
// a clock the test sets; a wait that would block runs the test's script for that moment instead.
#pragma once

#include "platform/window_system.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class ScriptedWindowSystem : public platform::WindowSystem {
public:
    struct Window {
        platform::NativeWindow parent = nullptr;
        void* userData = nullptr;
        platform::WindowProc proc = nullptr;
        bool enabled = true;
        bool visible = false;
        std::string text;
        CUIRect rect;
        std::map<int, platform::NativeWindow> items;
        int controlId = 0;
    };

    uint32_t now = 1000;
    // Runs when the pump would block; it must queue something, set the event, or end the loop.
    std::function<void()> onBlockingWait;
    int blockingWaits = 0;
    std::vector<unsigned> timerIntervals; // of every SetThreadTimer
    int timersKilled = 0;
    std::vector<ui::Message> dispatched;
    std::vector<ui::Message> sent;
    // The procedure of native controls: what a control does before the toolkit subclasses it.
    std::vector<ui::Message> nativeProcCalls;
    int messageBoxAnswer = ui::kIdOk;
    uint32_t lastMessageBoxFlags = 0;

    platform::NativeWindow NewWindow(platform::NativeWindow parent = nullptr) {
        auto handle = reinterpret_cast<platform::NativeWindow>(static_cast<uintptr_t>(++m_lastId * 16));
        m_windows[handle].parent = parent;
        return handle;
    }
    Window& Get(platform::NativeWindow window) { return m_windows.at(window); }
    size_t QueueLength() const { return m_queue.size(); }

    bool PeekMessage(ui::Message& message) override {
        if (m_queue.empty())
            return false;
        message = m_queue.front();
        m_queue.pop_front();
        m_messageTime = message.time;
        return true;
    }
    void PostMessage(platform::NativeWindow window, ui::MessageId message, ui::WParam wParam,
                     ui::LParam lParam) override {
        m_queue.push_back({window, message, wParam, lParam, now});
    }
    void PostQuitMessage(int exitCode) override {
        m_queue.push_back({nullptr, ui::kWmQuit, static_cast<ui::WParam>(exitCode), 0, now});
    }
    bool HasQueuedMessage(platform::NativeWindow window, ui::MessageId message) override {
        for (const ui::Message& queued : m_queue)
            if (queued.window == window && queued.message == message)
                return true;
        return false;
    }
    // Like the native layers, a blocking wait returns after one round of native events (here: one run
    // of the script), whether or not that round queued anything.
    platform::WaitResult MsgWait(platform::NativeWaitHandle event, int timeoutMs) override {
        if (auto ready = Ready(event))
            return *ready;
        if (timeoutMs == 0)
            return platform::WaitResult::Timeout;
        ++blockingWaits;
        if (!onBlockingWait) {
            // Nothing would ever wake this wait; a real pump would hang here.
            ADD_FAILURE() << "the pump blocked with nothing scripted to wake it";
            throw std::runtime_error("blocked for ever");
        }
        onBlockingWait();
        return Ready(event).value_or(platform::WaitResult::Timeout);
    }
    std::optional<platform::WaitResult> Ready(platform::NativeWaitHandle event) {
        if (!m_queue.empty())
            return platform::WaitResult::Input;
        pollfd entry{static_cast<int>(event), POLLIN, 0};
        if (poll(&entry, 1, 0) == 1)
            return platform::WaitResult::Event;
        return std::nullopt;
    }
    uint32_t GetMessageTime() override { return m_messageTime; }
    void SetMessageTime(uint32_t time) { m_messageTime = time; }

    ui::LResult DispatchMessage(const ui::Message& message) override {
        dispatched.push_back(message);
        if (message.window == nullptr || !IsWindow(message.window))
            return 0;
        return CallProc(message.window, message.message, message.wParam, message.lParam);
    }
    ui::LResult SendMessage(platform::NativeWindow window, ui::MessageId message, ui::WParam wParam,
                            ui::LParam lParam) override {
        sent.push_back({window, message, wParam, lParam, now});
        if (!IsWindow(window))
            return 0;
        return CallProc(window, message, wParam, lParam);
    }
    bool IsDialogMessage(platform::NativeWindow, const ui::Message& message) override {
        return message.message == ui::kWmKeyDown && message.wParam == ui::kVkTab;
    }

    uintptr_t SetThreadTimer(unsigned intervalMs) override {
        timerIntervals.push_back(intervalMs);
        return 77;
    }
    void KillThreadTimer(uintptr_t) override { ++timersKilled; }

    platform::NativeWindow CreateTopLevelWindow(const std::string& title, platform::NativeWindow) override {
        platform::NativeWindow window = NewWindow();
        Get(window).text = title;
        return window;
    }
    platform::NativeWindow CreateChildWindow(platform::NativeWindow parent) override {
        return IsWindow(parent) ? NewWindow(parent) : nullptr;
    }
    void DestroyWindow(platform::NativeWindow window) override {
        if (!IsWindow(window))
            return;
        std::vector<platform::NativeWindow> children;
        for (auto& [handle, record] : m_windows)
            if (record.parent == window)
                children.push_back(handle);
        for (platform::NativeWindow child : children)
            DestroyWindow(child);
        CallProc(window, ui::kWmDestroy, 0, 0);
        m_windows.erase(window);
        if (m_focus == window)
            m_focus = nullptr;
    }
    bool IsWindow(platform::NativeWindow window) override { return m_windows.count(window) != 0; }
    platform::NativeWindow GetParent(platform::NativeWindow window) override {
        return IsWindow(window) ? Get(window).parent : nullptr;
    }
    void SetUserData(platform::NativeWindow window, void* data) override { Get(window).userData = data; }
    void* GetUserData(platform::NativeWindow window) override {
        return IsWindow(window) ? Get(window).userData : nullptr;
    }
    void SetWindowProc(platform::NativeWindow window, platform::WindowProc proc) override {
        Get(window).proc = proc;
    }
    platform::WindowProc GetWindowProc(platform::NativeWindow window) override { return Get(window).proc; }
    ui::LResult DefWindowProc(platform::NativeWindow window, ui::MessageId message, ui::WParam,
                              ui::LParam) override {
        if (message == ui::kWmClose)
            DestroyWindow(window);
        return 0;
    }

    void MoveWindow(platform::NativeWindow window, const CUIRect& rect) override { Get(window).rect = rect; }
    void SetClientSize(platform::NativeWindow window, CUISize size) override {
        CUIRect& rect = Get(window).rect;
        rect.right = rect.left + size.cx;
        rect.bottom = rect.top + size.cy;
    }
    CUIRect GetWindowRect(platform::NativeWindow window) override { return Get(window).rect; }
    CUIRect GetClientRect(platform::NativeWindow window) override {
        return {0, 0, Get(window).rect.Width(), Get(window).rect.Height()};
    }
    CUIPoint ClientToScreen(platform::NativeWindow window, CUIPoint point) override {
        for (; window != nullptr; window = GetParent(window))
            point = {point.x + Get(window).rect.left, point.y + Get(window).rect.top};
        return point;
    }
    void ShowWindow(platform::NativeWindow window, bool show) override { Get(window).visible = show; }
    bool IsWindowVisible(platform::NativeWindow window) override {
        return IsWindow(window) && Get(window).visible;
    }
    void EnableWindow(platform::NativeWindow window, bool enable) override { Get(window).enabled = enable; }
    bool IsWindowEnabled(platform::NativeWindow window) override {
        return IsWindow(window) && Get(window).enabled;
    }
    void SetFocus(platform::NativeWindow window) override { m_focus = window; }
    platform::NativeWindow GetFocus() override { return m_focus; }
    void SetActiveWindow(platform::NativeWindow window) override { m_active = window; }
    platform::NativeWindow GetActive() const { return m_active; }
    void SetCapture(platform::NativeWindow window) override { m_capture = window; }
    void ReleaseCapture() override { m_capture = nullptr; }
    platform::NativeWindow GetCapture() override { return m_capture; }
    void SetWindowText(platform::NativeWindow window, const std::string& text) override {
        Get(window).text = text;
    }
    std::string GetWindowText(platform::NativeWindow window) override { return Get(window).text; }

    void InvalidateRect(platform::NativeWindow, const CUIRect*) override {}
    void ValidateRect(platform::NativeWindow, const CUIRect*) override {}
    bool BeginPaint(platform::NativeWindow, platform::PaintInfo&) override { return false; }
    void EndPaint(platform::NativeWindow) override {}

    platform::NativeWindow CreateDialog(platform::NativeWindow owner,
                                        const platform::DialogTemplate& dialog) override {
        platform::NativeWindow window = NewWindow();
        Get(window).text = dialog.caption;
        Get(window).parent = nullptr;
        m_owners[window] = owner;
        for (const platform::DialogControl& control : dialog.controls) {
            platform::NativeWindow item = NewWindow(window);
            Get(item).text = control.text;
            Get(item).controlId = control.id;
            Get(item).proc = &NativeControlProc;
            Get(window).items[control.id] = item;
        }
        return window;
    }
    CUISize GetDialogBaseUnits(platform::NativeWindow) override { return {6, 13}; }
    platform::NativeWindow GetDlgItem(platform::NativeWindow dialog, int id) override {
        if (!IsWindow(dialog))
            return nullptr;
        auto it = Get(dialog).items.find(id);
        return it == Get(dialog).items.end() ? nullptr : it->second;
    }
    int GetDlgCtrlID(platform::NativeWindow control) override {
        return IsWindow(control) ? Get(control).controlId : 0;
    }
    void CheckDlgButton(platform::NativeWindow dialog, int id, bool checked) override {
        m_checked[{dialog, id}] = checked;
    }
    bool IsDlgButtonChecked(platform::NativeWindow dialog, int id) override {
        return m_checked[{dialog, id}];
    }

    int MessageBox(platform::NativeWindow, const std::string&, const std::string&, uint32_t flags) override {
        lastMessageBoxFlags = flags;
        return messageBoxAnswer;
    }

    static ScriptedWindowSystem* current;

private:
    static ui::LResult NativeControlProc(platform::NativeWindow window, ui::MessageId message,
                                         ui::WParam wParam, ui::LParam lParam) {
        current->nativeProcCalls.push_back({window, message, wParam, lParam, 0});
        return 42;
    }
    ui::LResult CallProc(platform::NativeWindow window, ui::MessageId message, ui::WParam wParam,
                         ui::LParam lParam) {
        platform::WindowProc proc = Get(window).proc;
        if (proc == nullptr)
            return DefWindowProc(window, message, wParam, lParam);
        return proc(window, message, wParam, lParam);
    }

    uintptr_t m_lastId = 0;
    std::map<platform::NativeWindow, Window> m_windows;
    std::map<platform::NativeWindow, platform::NativeWindow> m_owners;
    std::map<std::pair<platform::NativeWindow, int>, bool> m_checked;
    std::deque<ui::Message> m_queue;
    uint32_t m_messageTime = 0;
    platform::NativeWindow m_focus = nullptr;
    platform::NativeWindow m_active = nullptr;
    platform::NativeWindow m_capture = nullptr;
};

inline ScriptedWindowSystem* ScriptedWindowSystem::current = nullptr;
