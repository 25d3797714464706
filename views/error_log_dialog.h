// "Errors and Warnings": the log of the errors and warnings the control reports while it runs. Any
// thread appends a line; the UI thread then puts the whole log into the window's edit and shows the
// window, modeless. The window is made on first use and hidden, not destroyed, when closed, so the
// log stays for as long as this object.
//
// Threads: Append and GetLog from any thread; m_lock guards m_log and m_refreshPosted. Everything
// else, the window included, belongs to the UI thread, which hears of appends through the
// application's cross-thread calls. The object is made and destroyed on the UI thread, after the
// threads that append have stopped.
#pragma once

#include "ui/dialog.h"

#include <memory>
#include <mutex>
#include <string>

class CUIApplication;

class CErrorLogDialog : public CUIDialog {
public:
    static constexpr uint32_t kTemplateId = 136;
    static constexpr int kLog = 1022;

    // On the UI thread, with the application running; `owner` (may be null) owns the window.
    explicit CErrorLogDialog(CUIWindow* owner = nullptr);
    ~CErrorLogDialog() override;

    // Adds the text and CR LF to the log and has the UI thread show it.
    void Append(const std::string& text);
    std::string GetLog() const;

protected:
    bool OnCommand(int id, int notification) override;

private:
    void ShowLog();

    CUIApplication* const m_app;
    CUIWindow* const m_owner;
    mutable std::mutex m_lock;
    std::string m_log;            // guarded by m_lock
    bool m_refreshPosted = false; // guarded by m_lock: one posted call shows any number of appends
    // Posted calls check it before touching the object (UI thread only).
    std::shared_ptr<bool> m_alive;
};
