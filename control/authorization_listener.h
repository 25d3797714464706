// Tells the user of a failed authorization, once in the control's life: the page's credentials (or
// the proxy's) are wrong for every picture alike, so one box says it for all of them.
//
// Threads: Report comes on an HTTP worker thread; the box is shown on the user-interface thread
// through the poster the listener was given. The posted call holds only the box's texts, so it may run
// after the listener and the control are gone.
#pragma once

#include <atomic>
#include <functional>
#include <string>

class CException;

class CAuthorizationListener {
public:
    // Carries a call to the user-interface thread.
    using Poster = std::function<void(std::function<void()> call)>;
    // Shows a box with these texts, on the user-interface thread.
    using Shower = std::function<void(const std::string& caption, const std::string& text)>;

    // Made on the user-interface thread; the defaults post through the application and show a message
    // box over its main window.
    explicit CAuthorizationListener(Poster post = {}, Shower show = {});
    CAuthorizationListener(const CAuthorizationListener&) = delete;
    CAuthorizationListener& operator=(const CAuthorizationListener&) = delete;

    // Any thread. `proxy` is true when the proxy refused (status 407).
    void Report(bool proxy, const CException& error);

    // The box's text for a report.
    static std::string TextFor(bool proxy, const CException& error);

private:
    Poster m_post;
    Shower m_show;
    std::atomic<bool> m_reported{false};
};
