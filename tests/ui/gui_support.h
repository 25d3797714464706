// What the toolkit's tests under a display share: a private Xvfb server for the test process, real
// input through xdotool, and a pump that runs until something has happened or time is up.
#pragma once

#include "ui/application.h"
#include "ui/window.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

// GTK, fontconfig and friends keep caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"
           "leak:libfontconfig.so\nleak:libpango\nleak:libcairo.so\nleak:libharfbuzz.so\n"
           "leak:libgio-2.0.so\nleak:libdbus-1.so\nleak:libX11.so\nleak:libatk\nleak:libepoxy\n";
}

namespace gui {

// Starts Xvfb on a free display number and points DISPLAY at it; stops it at the end.
class PrivateDisplay : public ::testing::Environment {
public:
    void SetUp() override {
        // A display number that no other server holds; Xvfb itself refuses one that is taken, so
        // a race with another test process only makes this one try the next number.
        for (int attempt = 0; attempt < 50; ++attempt) {
            int number = 100 + static_cast<int>((getpid() + attempt * 7) % 800);
            std::string lock = std::string("/tmp/.X").append(std::to_string(number)).append("-lock");
            std::string socket = std::string("/tmp/.X11-unix/X").append(std::to_string(number));
            if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0)
                continue;
            std::string display = std::string(":").append(std::to_string(number));
            m_server = fork();
            ASSERT_GE(m_server, 0);
            if (m_server == 0) {
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                       "-noreset", static_cast<char*>(nullptr));
                _exit(127);
            }
            if (WaitForSocket(socket)) {
                setenv("DISPLAY", display.c_str(), 1);
                setenv("GDK_BACKEND", "x11", 1);
                setenv("NO_AT_BRIDGE", "1", 1);
                setenv("GSETTINGS_BACKEND", "memory", 1);
                return;
            }
            kill(m_server, SIGTERM);
            waitpid(m_server, nullptr, 0);
            m_server = -1;
        }
        FAIL() << "Xvfb did not start";
    }
    // True once the server listens; false when it ended or took too long.
    bool WaitForSocket(const std::string& socket) {
        for (int i = 0; i < 500; ++i) {
            if (access(socket.c_str(), F_OK) == 0)
                return true;
            if (waitpid(m_server, nullptr, WNOHANG) == m_server) {
                m_server = -1;
                return false;
            }
            usleep(10000);
        }
        return false;
    }
    void TearDown() override {
        if (m_server > 0) {
            kill(m_server, SIGTERM);
            waitpid(m_server, nullptr, 0);
        }
    }

private:
    pid_t m_server = -1;
};

// Runs a command of the shell on a worker thread, so that the UI thread keeps pumping meanwhile.
inline std::future<int> RunAsync(const std::string& command) {
    return std::async(std::launch::async, [command] { return std::system(command.c_str()); });
}

class KeepAwake : public CUITimerHandler {
public:
    void OnTimer() override {}
};

// Pumps until `done` holds or `seconds` have passed; returns `done()`.
inline bool PumpUntil(CUIApplication& app, const std::function<bool()>& done, double seconds = 10) {
    // A short timer makes the thread timer tick, so the pump wakes to look at the condition.
    auto* awake = new KeepAwake;
    app.AddTimer(awake, 5);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        app.PumpOnce();
    app.RemoveTimer(awake);
    return done();
}

// Lets the pump run for a while, for what has no condition to wait for (a window being mapped).
inline void PumpFor(CUIApplication& app, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    PumpUntil(
        app, [&] { return std::chrono::steady_clock::now() >= deadline; }, seconds + 1);
}

// A shell command that presses `keys` in the window whose title matches the regular expression
// `title` once it is shown and has the focus. The last window found is the top-level one (GTK may
// list an inner one first, and focusing that one fails).
inline std::string PressKeysIn(const std::string& title, const std::string& keys) {
    // The search may still find a window of that title that is on its way out (a dialog that just
    // ended); focusing it then fails, and the search is made again.
    return "ok=1; for i in 1 2 3 4 5 6 7 8 9 10; do w=$(xdotool search --sync --onlyvisible --name '" + title +
           "' | tail -1); if xdotool windowfocus --sync $w 2>/dev/null; then ok=0; break; fi; sleep 0.3; done; "
           "[ $ok = 0 ] && xdotool sleep 0.5 key --delay 50 " +
           keys;
}

// Opens `frame` as a 320 x 240 top-level window titled `title`, with `child` at (50, 40) sized
// 200 x 120, and pumps until both are mapped and placed (the child reports a screen position inside
// the frame). False when they never were.
inline bool OpenFrameWithChild(CUIApplication& app, CUIWindow& frame, CUIWindow& child, const char* title) {
    frame.CreateTopLevel(title);
    frame.Move(CUIRect::FromSize(0, 0, 320, 240));
    frame.SetClientSize({320, 240});
    child.CreateChild(frame);
    child.Move(CUIRect::FromSize(50, 40, 200, 120));
    child.Show();
    frame.Show();
    app.SetMainWindow(frame.GetHandle());
    bool placed = PumpUntil(app, [&] {
        return child.GetClientRect().Width() == 200 && child.ClientToScreen({0, 0}).x >= 50;
    });
    if (!placed)
        return false;
    PumpFor(app, 0.2);
    return true;
}

// The application over the display's window system and a shown top-level window that owns a test's
// dialogs and is the main window.
struct DialogOwner {
    // Asserts nothing itself: false when there is no display.
    bool Open(const char* title, CUISize size) {
        system = platform::GetNativeWindowSystem();
        if (system == nullptr)
            return false;
        app = std::make_unique<CUIApplication>(*system);
        owner.CreateTopLevel(title);
        owner.SetClientSize(size);
        owner.Show();
        app->SetMainWindow(owner.GetHandle());
        PumpFor(*app, 0.2);
        return true;
    }
    void Close() {
        owner.Destroy();
        app.reset();
    }

    platform::WindowSystem* system = nullptr;
    std::unique_ptr<CUIApplication> app;
    CUIWindow owner;
};

} // namespace gui
