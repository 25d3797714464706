// System colours read from the desktop theme: a private X server (Xvfb) with style rules of the
// test's own, so that the expected colours do not depend on the installed theme.
#include "platform/system_colors.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtk/gtk.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Xvfb on a display it picks itself, stopped with the test program.
class CPrivateDisplay {
public:
    CPrivateDisplay() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The server writes the number and its newline in separate pieces; the pipe stays open until
        // both arrived, or the second write would fail and stop the server.
        std::string number;
        char c = 0;
        while (number.size() < 16 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (c == '\n' && !number.empty()) {
            m_display = ":" + number;
            setenv("DISPLAY", m_display.c_str(), 1);
        }
    }
    ~CPrivateDisplay() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool IsOpen() const { return !m_display.empty(); }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

constexpr uint32_t Packed(uint32_t rgb) {
    return ((rgb >> 16) & 0xff) | (rgb & 0xff00) | ((rgb & 0xff) << 16);
}

TEST(SystemColorsGui, ComeFromTheThemesRules) {
    // Before a display is open, the classic colours.
    EXPECT_EQ(platform::GetSysColor(platform::kColorWindow), Packed(0xffffff));
    EXPECT_EQ(platform::GetSysColor(platform::kColorHighlight), Packed(0x0a246a));

    CPrivateDisplay display;
    ASSERT_TRUE(display.IsOpen()) << "Xvfb did not start";
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    GtkCssProvider* rules = gtk_css_provider_new();
    ASSERT_TRUE(gtk_css_provider_load_from_data(rules,
                                                ".background { color: #102030; background-color: #405060; }"
                                                "textview text { background-color: #0a0b0c; }"
                                                "button { color: #a1a2a3; }"
                                                "label:disabled { color: #777879; }"
                                                "textview text selection:focus { color: #fedcba; "
                                                "background-color: #abcdef; }",
                                                -1, nullptr));
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(rules),
                                              GTK_STYLE_PROVIDER_PRIORITY_USER);
    platform::RefreshSystemColors();

    EXPECT_EQ(platform::GetSysColor(platform::kColorWindowText), Packed(0x102030));
    EXPECT_EQ(platform::GetSysColor(platform::kColorBtnFace), Packed(0x405060));
    EXPECT_EQ(platform::GetSysColor(platform::kColorWindow), Packed(0x0a0b0c));
    EXPECT_EQ(platform::GetSysColor(platform::kColorBtnText), Packed(0xa1a2a3));
    EXPECT_EQ(platform::GetSysColor(platform::kColorGrayText), Packed(0x777879));
    EXPECT_EQ(platform::GetSysColor(platform::kColorHighlight), Packed(0xabcdef));
    EXPECT_EQ(platform::GetSysColor(platform::kColorHighlightText), Packed(0xfedcba));
    // Colours the theme has no node for keep their classic values.
    EXPECT_EQ(platform::GetSysColor(platform::kColorInfoBk), Packed(0xffffe1));
    g_object_unref(rules);
}

} // namespace
