// The start-up server check with its real boxes and the real Preferences dialog, under a private X
// server: a server name that does not resolve shows "Host not found", runs the dialog, tries again
// after OK with the still-bad settings and says so in other words, runs the dialog again, and gives up
// with the name's error when the dialog is cancelled. Once over the steps alone, with every text
// recorded, and once through the control object itself.
#include "control/startup_task.h"
#include "control/upload_plugin_ctrl.h"
#include "foundation/exception.h"
#include "net/network_exception.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "tests/support/catalogues.h"
#include "tests/support/network_ready.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_queue.h"
#include "views/preferences_dialog.h"
#include "views/standard_upload_list_dialogs.h"
#include "views/upload_list_view.h"

#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char* kUnresolvable = "no-such-host.invalid";

std::string StringResource(uint32_t id) {
    return platform::LoadStringResource(id).value_or("(missing " + std::to_string(id) + ")");
}

// On each tick, once a Preferences dialog holds the keyboard focus, clicks its OK (for the first
// `oks` dialogs) or its Cancel with the real pointer, and marks its title as answered. A dialog open
// without the focus is given it with a key, as a user's click would.
class PreferencesAnswerer : public CUITimerHandler {
public:
    explicit PreferencesAnswerer(int oks) : m_oks(oks) {}
    void OnTimer() override {
        if (CUIDialog::GetModalDepth() == 0)
            return;
        CUIApplication* app = CUIApplication::Get();
        platform::WindowSystem& system = app->GetWindowSystem();
        CUIDialog* dialog = nullptr;
        for (platform::NativeWindow w = system.GetFocus(); w != nullptr && dialog == nullptr;
             w = system.GetParent(w))
            dialog = app->FindDialog(w);
        if (dialog == nullptr) {
            // One look at a time, without waiting: the dialog may take the focus by itself meanwhile.
            if (!m_focus.valid() || m_focus.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
                if (m_focus.valid()) {
                    EXPECT_EQ(m_focus.get(), 0);
                }
                m_focus = gui::RunAsync("w=$(xdotool search --onlyvisible --name '^Preferences$' | tail -1); "
                                        "[ -z \"$w\" ] || xdotool windowfocus --sync $w sleep 0.3 key Tab");
            }
            return;
        }
        // One answered already, on its way out.
        if (dialog->GetText() != "Preferences" || !CUIDialog::IsOnModalStack(dialog))
            return;
        const int button = ++answered <= m_oks ? ui::kIdOk : ui::kIdCancel;
        CUIRect rect = system.GetWindowRect(dialog->GetItem(button));
        CUIPoint centre =
            dialog->ClientToScreen({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
        keys.push_back(gui::RunAsync("xdotool mousemove " + std::to_string(centre.x) + " " +
                                     std::to_string(centre.y) + " sleep 0.1 click 1"));
        dialog->SetText("Preferences (answered)");
    }
    int answered = 0;
    std::vector<std::future<int>> keys; // the clicks and focusing keys, each to be waited for

private:
    const int m_oks;
    std::future<int> m_focus;
};

// The keys of the whole conversation: each box is confirmed, and the next one looked for only once
// it has gone (the answerer takes care of the dialogs in between); `finalBox` is the caption of the
// box that ends it, if any.
std::string Conversation(int boxes, const std::string& finalBox) {
    auto confirm = [](const std::string& caption) {
        const std::string title = "'^" + caption + "$'";
        return gui::PressKeysIn("^" + caption + "$", "Return") +
               "; while xdotool search --onlyvisible --name " + title + " >/dev/null; do sleep 0.1; done; ";
    };
    std::string script;
    for (int i = 0; i < boxes; ++i)
        script += confirm("Host not found");
    if (!finalBox.empty())
        script += confirm(finalBox);
    return script + "true";
}

class StartupGui : public NetworkReady {
protected:
    void SetUp() override {
        NetworkReady::SetUp();
        m_env.Set("XDG_CONFIG_HOME", m_folder.Path());
        m_env.Set("XDG_STATE_HOME", m_folder.Path() + "/state");
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
            m_env.Unset(name);
        platform::SetRegistryPath("");
        // Larger than the dialog, so that the dialog centred on it is all on the screen.
        ASSERT_TRUE(desk.Open("start-up", {640, 480})) << "no display";
    }
    void TearDown() override {
        desk.Close();
        platform::SetRegistryPath("");
        m_env.Restore();
        NetworkReady::TearDown();
    }

    testsupport::ScopedTempFolder m_folder{"pxstartupgui"};
    testsupport::ScopedEnv m_env;
    gui::DialogOwner desk;
};

// The steps' needs met with the real boxes and the real dialog over the test's window.
class BoxesAndDialogSite : public IStartupSite {
public:
    BoxesAndDialogSite(CUIWindow& owner, CStandardUploadListDialogs& dialogs)
        : m_owner(owner), m_dialogs(dialogs) {}
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& caption, const std::string& text) override {
        calls.push_back(caption + ": " + text);
        CUIMessageBox(caption, text, CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Exclamation)
            .Show(&m_owner);
    }
    int RunPreferences() override {
        int result = m_dialogs.RunPreferences(m_owner, "");
        calls.push_back("preferences " + std::to_string(result));
        return result;
    }
    void ReportAddError(const std::string&, const CException&) override {}
    void ShowInitialisationError(const std::string& text) override { calls.push_back("init error " + text); }

    std::vector<std::string> calls;

private:
    CUIWindow& m_owner;
    CStandardUploadListDialogs& m_dialogs;
};

TEST_F(StartupGui, AnUnresolvableServerAsksForThePreferencesUntilTheyAreCancelled) {
    PluginParameters parameters;
    parameters.d_server = kUnresolvable;
    UploadQueue queue(parameters, UploadEndpoint::FromParameters(parameters, "start-up test"));
    queue.Pause();
    CStandardUploadListDialogs dialogs(queue);
    BoxesAndDialogSite site(desk.owner, dialogs);
    CStartupCancellation cancellation;

    auto* answerer = new PreferencesAnswerer(1);
    desk.app->AddTimer(answerer, 20);
    auto keys = gui::RunAsync(Conversation(2, ""));
    ServerCheckTask check(kUnresolvable);
    std::optional<std::string> error = check.Run(site, queue, cancellation);
    EXPECT_EQ(keys.get(), 0);
    EXPECT_EQ(answerer->answered, 2);
    for (std::future<int>& key : answerer->keys)
        EXPECT_EQ(key.get(), 0);
    desk.app->RemoveTimer(answerer);

    const std::string caption = StringResource(10073);
    EXPECT_EQ(caption, "Host not found");
    const std::vector<std::string> expected = {
        caption + ": " + StringResource(10074),
        "preferences 1",
        caption + ": " + StringResource(10075),
        "preferences 2",
    };
    EXPECT_EQ(site.calls, expected);
    EXPECT_EQ(StringResource(10075),
              "Still can't convert the host name to an address.  Please\ncheck the proxy "
              "settings again or contact your network\nadministrator, or contact Pixolane "
              "Customer Service at\nsupport@pixolane.example.");
    // Given up with the name's own error.
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, CHostNotFoundException(kUnresolvable).GetText());
    EXPECT_TRUE(queue.IsPaused());
}

TEST_F(StartupGui, TheControlEndsItsStartUpWithTheInitialisationErrorAfterCancel) {
    PluginParameters parameters;
    parameters.d_server = kUnresolvable;
    auto* answerer = new PreferencesAnswerer(1);
    desk.app->AddTimer(answerer, 20);
    auto keys = gui::RunAsync(Conversation(2, StringResource(10076)));

    CUIWindow frame;
    frame.CreateTopLevel("control");
    frame.SetClientSize({640, 480});
    CUploadPluginCtrl control(parameters);
    control.Create(frame, CUIRect::FromSize(10, 10, 620, 460));
    control.Show();
    frame.Show();
    // The start-up task runs when the pump is idle; its boxes and dialogs run inside it.
    ASSERT_TRUE(gui::PumpUntil(
        *desk.app, [&] { return keys.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 90));
    EXPECT_EQ(keys.get(), 0);
    EXPECT_EQ(answerer->answered, 2);
    for (std::future<int>& key : answerer->keys)
        EXPECT_EQ(key.get(), 0);
    desk.app->RemoveTimer(answerer);
    ASSERT_TRUE(gui::PumpUntil(*desk.app, [&] { return desk.app->GetTaskCount() == 0; }));
    // Disabled for uploading, the queue left paused.
    ASSERT_NE(control.GetList(), nullptr);
    EXPECT_TRUE(control.GetList()->IsDisabled());
    EXPECT_EQ(control.isUploadComplete(), 0);
    frame.Destroy();
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
