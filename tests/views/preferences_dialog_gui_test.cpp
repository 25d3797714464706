// The Preferences dialog as a window under a private X server, driven by real pointer and key events:
// what it opens with from a registry store of the test's own, how the proxy choice enables the
// fields, OK refused with the focus on the bad field, OK and Cancel with what they store, the digits
// of the port field, the read-only fields' colours, and the system's folder chooser behind Browse.
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "foundation/registry_key.h"
#include "net/proxy_settings.h"
#include "net/system_proxy_settings.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/system_colors.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "ui/color.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_queue.h"
#include "views/preferences_dialog.h"
#include "views/standard_upload_list_dialogs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

using Dialog = CPreferencesDialog;

// Runs the test's script once, when the dialog is shown; ends it if it stays open too long.
class ScriptedPreferencesDialog : public CPreferencesDialog {
public:
    using CPreferencesDialog::CPreferencesDialog;
    ~ScriptedPreferencesDialog() override {
        if (m_awake)
            CUIApplication::Get()->RemoveTimer(m_awake);
    }
    std::function<void(ScriptedPreferencesDialog&)> script;
    bool scriptRan = false;

    // The screen point at the centre of a control.
    CUIPoint CentreOf(int id) const {
        CUIRect rect = System().GetWindowRect(GetItem(id));
        return ClientToScreen({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    }
    // A point inside a control, `dx` pixels from its left edge, halfway down.
    CUIPoint LeftOf(int id, int dx) const {
        CUIRect rect = System().GetWindowRect(GetItem(id));
        return ClientToScreen({rect.left + dx, (rect.top + rect.bottom) / 2});
    }
    bool HasFocus(int id) const { return System().GetFocus() == GetItem(id); }
    bool IsItemEnabled(int id) const { return System().IsWindowEnabled(GetItem(id)); }

protected:
    void ModalStep() override {
        if (!m_awake) {
            m_awake = new gui::KeepAwake;
            CUIApplication::Get()->AddTimer(m_awake, 10);
        }
        if (m_started == std::chrono::steady_clock::time_point())
            m_started = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - m_started > std::chrono::seconds(60)) {
            ADD_FAILURE() << "the dialog did not end";
            End(ui::kIdCancel);
            return;
        }
        if (!scriptRan && script && IsVisible() && GetClientRect().Width() > 100) {
            scriptRan = true;
            gui::PumpFor(*CUIApplication::Get(), 0.3);
            script(*this);
        }
        CPreferencesDialog::ModalStep();
    }

private:
    gui::KeepAwake* m_awake = nullptr;
    std::chrono::steady_clock::time_point m_started;
};

std::string Click(CUIPoint screen) {
    return "xdotool mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y) +
           " sleep 0.1 click 1";
}

// The colour of one pixel of the screen, read with ImageMagick.
std::optional<CUIColor> ScreenPixel(CUIPoint p) {
    std::string command = "import -window root -crop 1x1+" + std::to_string(p.x) + "+" + std::to_string(p.y) +
                          " -depth 8 txt:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    char line[256];
    std::string text;
    while (fgets(line, sizeof line, pipe) != nullptr)
        text += line;
    pclose(pipe);
    // "0,0: (r,g,b)  #RRGGBB  srgb(...)"
    size_t hash = text.find('#', text.find('\n'));
    if (hash == std::string::npos || hash + 7 > text.size())
        return std::nullopt;
    unsigned long rgb = std::strtoul(text.substr(hash + 1, 6).c_str(), nullptr, 16);
    return CUIColor(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                    static_cast<uint8_t>(rgb));
}

CUIColor SystemColor(int index) {
    uint32_t packed = platform::GetSysColor(index);
    return CUIColor(static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                    static_cast<uint8_t>(packed >> 16));
}

class PreferencesDialogGui : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_env.Set("XDG_CONFIG_HOME", m_config.Path());
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
            m_env.Unset(name);
        platform::SetRegistryPath("");
        SetProxySettings(nullptr);
        ASSERT_TRUE(desk.Open("upload list", {640, 480})) << "no display";
    }
    void TearDown() override {
        desk.Close();
        SetProxySettings(nullptr);
        platform::SetRegistryPath("");
        m_env.Restore();
        CataloguesInstalled::TearDown();
    }

    static void WriteInternetSettings(int enable, const std::string& server) {
        CRegistryKey key(kRootCurrentUser, kInternetSettingsKey, CRegistryKey::Open::Create);
        key.WriteInteger("ProxyEnable", enable);
        key.WriteString("ProxyServer", server);
    }
    static void Store(const std::vector<std::pair<std::string, std::string>>& values) {
        CNameValueDocument document;
        LoadPreferences(document);
        for (const auto& [name, value] : values)
            document.SetValue(name, value);
        SavePreferences(document);
    }
    static CNameValueDocument Stored() {
        CNameValueDocument document;
        LoadPreferences(document);
        return document;
    }
    // Saves a screenshot under $PX_DIALOG_SCREENSHOTS, for a person to look at.
    static void Screenshot(const std::string& name) {
        if (const char* folder = std::getenv("PX_DIALOG_SCREENSHOTS")) {
            EXPECT_EQ(
                std::system(("import -window root '" + std::string(folder) + "/" + name + ".png'").c_str()),
                0);
        }
    }

    testsupport::ScopedTempFolder m_config{"pxprefsgui"};
    testsupport::ScopedEnv m_env;
    gui::DialogOwner desk;
    std::unique_ptr<CUIApplication>& app = desk.app;
    CUIWindow& owner = desk.owner;
};

TEST_F(PreferencesDialogGui, OpensWithTheStoredValuesAndCancelStoresNothing) {
    WriteInternetSettings(1, "http=sys.example:8080;https=s.example:443");
    Store({{"autostart", "false"},
           {"alertDone", "true"},
           {"oldfiledialog", "true"},
           {"browsedirspecified", "true"},
           {"browseDir", "/stored/folder"},
           {"proxyState", "manual"},
           {"proxyAddress", "proxy.example"},
           {"proxyPort", "3128"},
           {"proxyUsername", "ann"},
           {"proxyPassword", "secret"}});
    const CNameValueDocument before = Stored();

    ScriptedPreferencesDialog dialog;
    std::future<int> cancel;
    dialog.script = [&](ScriptedPreferencesDialog& shown) {
        EXPECT_EQ(shown.GetText(), "Preferences");
        EXPECT_FALSE(shown.IsItemChecked(Dialog::kAutoStart));
        EXPECT_FALSE(shown.IsItemChecked(Dialog::kShowAlert));
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kOldFileDialog));
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kSpecifiedFolder));
        EXPECT_FALSE(shown.IsItemChecked(Dialog::kLastFolder));
        // The list's current folder, editable while a folder is specified.
        EXPECT_EQ(shown.GetItemText(Dialog::kFolder), "/current/folder");
        EXPECT_FALSE(shown.IsItemReadOnly(Dialog::kFolder));
        EXPECT_TRUE(shown.IsItemEnabled(Dialog::kBrowse));
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kManualProxy));
        EXPECT_EQ(shown.GetItemText(Dialog::kSystemProxy),
                  "Use &system proxy configuration: sys.example:8080");
        EXPECT_TRUE(shown.IsItemEnabled(Dialog::kSystemProxy));
        EXPECT_TRUE(shown.IsSystemProxyUsable());
        EXPECT_EQ(shown.GetItemText(Dialog::kAddress), "proxy.example");
        EXPECT_EQ(shown.GetItemText(Dialog::kPort), "3128");
        EXPECT_EQ(shown.GetItemText(Dialog::kUsername), "ann");
        EXPECT_EQ(shown.GetItemText(Dialog::kPassword), "secret");
        for (int id : {Dialog::kAddress, Dialog::kPort, Dialog::kUsername, Dialog::kPassword})
            EXPECT_TRUE(shown.IsItemEnabled(id)) << id;
        // The module's file version, in a field the user cannot change.
        EXPECT_EQ(shown.GetItemText(Dialog::kVersion), "2.0.4.0");
        EXPECT_TRUE(shown.IsItemReadOnly(Dialog::kVersion));
        Screenshot("preferences-stored-manual");

        // Changes made, then Cancel: a real click on its button.
        shown.SetItemChecked(Dialog::kAutoStart, true);
        shown.SetItemText(Dialog::kAddress, "other.example");
        cancel = gui::RunAsync(Click(shown.CentreOf(ui::kIdCancel)));
    };
    EXPECT_EQ(dialog.Run(&owner, "/current/folder"), Dialog::kResultCancel);
    EXPECT_TRUE(dialog.scriptRan);
    ASSERT_TRUE(cancel.valid());
    EXPECT_EQ(cancel.get(), 0);
    EXPECT_EQ(Stored().GetValues(), before.GetValues());
    EXPECT_EQ(GetProxySettings(), nullptr) << "Cancel installed a proxy";
    EXPECT_TRUE(owner.IsEnabled());
}

TEST_F(PreferencesDialogGui, ChoosingManualEnablesTheProxyFieldsAndOkChecksThemFirst) {
    // A system proxy whose port is 0 cannot be used: the direct connection stands in for it.
    WriteInternetSettings(1, "broken.example:0");

    ScriptedPreferencesDialog dialog;
    std::future<int> lastClick;
    dialog.script = [&](ScriptedPreferencesDialog& shown) {
        EXPECT_EQ(shown.GetItemText(Dialog::kSystemProxy),
                  "Use &system proxy configuration: <settings are invalid>");
        EXPECT_FALSE(shown.IsItemEnabled(Dialog::kSystemProxy));
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kDirect));
        for (int id : {Dialog::kAddressLabel, Dialog::kAddress, Dialog::kPortLabel, Dialog::kPort,
                       Dialog::kUsernameLabel, Dialog::kUsername, Dialog::kPasswordLabel, Dialog::kPassword})
            EXPECT_FALSE(shown.IsItemEnabled(id)) << id;
        // Nothing stored: start automatically, alert, the last folder (its edit read-only).
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kAutoStart));
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kShowAlert));
        EXPECT_FALSE(shown.IsItemChecked(Dialog::kOldFileDialog));
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kLastFolder));
        EXPECT_TRUE(shown.IsItemReadOnly(Dialog::kFolder));
        EXPECT_FALSE(shown.IsItemEnabled(Dialog::kBrowse));

        // Read-only and disabled edits show the dialog's face, not the white of an editable one.
        gui::PumpFor(*app, 0.3);
        Screenshot("preferences-default");
        const CUIColor face = SystemColor(platform::kColorBtnFace);
        for (int id : {Dialog::kFolder, Dialog::kVersion, Dialog::kAddress}) {
            std::optional<CUIColor> inside = ScreenPixel(shown.LeftOf(id, 3));
            ASSERT_TRUE(inside) << id;
            EXPECT_EQ(inside->GetPacked(), face.GetPacked()) << id;
        }

        // The manual proxy, chosen with the pointer.
        auto manual = gui::RunAsync(Click(shown.CentreOf(Dialog::kManualProxy)));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return shown.IsItemEnabled(Dialog::kAddress); }));
        EXPECT_EQ(manual.get(), 0);
        EXPECT_TRUE(shown.IsItemChecked(Dialog::kManualProxy));
        for (int id : {Dialog::kAddressLabel, Dialog::kAddress, Dialog::kPortLabel, Dialog::kPort,
                       Dialog::kUsernameLabel, Dialog::kUsername, Dialog::kPasswordLabel, Dialog::kPassword})
            EXPECT_TRUE(shown.IsItemEnabled(id)) << id;
        gui::PumpFor(*app, 0.3);
        Screenshot("preferences-manual-selected");
        std::optional<CUIColor> editable = ScreenPixel(shown.LeftOf(Dialog::kAddress, 3));
        ASSERT_TRUE(editable);
        EXPECT_NE(editable->GetPacked(), face.GetPacked()) << "an editable field in the dialog's face";

        // OK without an address: "Input Error", and the dialog stays with the focus in the address.
        auto box = gui::RunAsync(gui::PressKeysIn("^Input Error$", "Return"));
        auto ok = gui::RunAsync(Click(shown.CentreOf(ui::kIdOk)));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return box.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20));
        EXPECT_EQ(box.get(), 0);
        EXPECT_EQ(ok.get(), 0);
        EXPECT_TRUE(shown.IsVisible());
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return shown.HasFocus(Dialog::kAddress); }));
        // Typing goes where the focus is; the port takes digits only.
        auto typing = gui::RunAsync(gui::PressKeysIn("^Preferences$", "p r o x y"));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return shown.GetItemText(Dialog::kAddress) == "proxy"; }));
        EXPECT_EQ(typing.get(), 0);
        // The label's mnemonic leads to its field.
        auto port = gui::RunAsync(
            gui::PressKeysIn("^Preferences$", "alt+p sleep 0.3 key --delay 50 a 1 b 2 period 3 minus"));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return port.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20));
        EXPECT_EQ(port.get(), 0);
        gui::PumpFor(*app, 0.2);
        EXPECT_EQ(shown.GetItemText(Dialog::kPort), "123");

        // A port out of range: the port's own box, the focus in the port.
        shown.SetItemText(Dialog::kPort, "70000");
        shown.SetItemText(Dialog::kUsername, "ann");
        auto portBox = gui::RunAsync(gui::PressKeysIn("^Input Error$", "Return"));
        auto okAgain = gui::RunAsync(Click(shown.CentreOf(ui::kIdOk)));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return portBox.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            20));
        EXPECT_EQ(portBox.get(), 0);
        EXPECT_EQ(okAgain.get(), 0);
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return shown.HasFocus(Dialog::kPort); }));
        EXPECT_FALSE(Stored().HasValue("proxyState")) << "a refused OK stored something";

        // Valid at last: the dialog ends with OK.
        shown.SetItemText(Dialog::kPort, "");
        lastClick = gui::RunAsync(Click(shown.CentreOf(ui::kIdOk)));
    };
    EXPECT_EQ(dialog.Run(&owner, "/current/folder"), Dialog::kResultOk);
    EXPECT_TRUE(dialog.scriptRan);
    ASSERT_TRUE(lastClick.valid());
    EXPECT_EQ(lastClick.get(), 0);
    const CNameValueDocument stored = Stored();
    EXPECT_EQ(stored.GetValue("proxyState"), "manual");
    EXPECT_EQ(stored.GetValue("proxyAddress"), "proxy");
    EXPECT_EQ(stored.GetValue("proxyPort"), "");
    EXPECT_EQ(stored.GetValue("proxyUsername"), "ann");
    EXPECT_EQ(stored.GetValue("autostart"), "true");
    EXPECT_EQ(stored.GetValue("alertDone"), "false");
    EXPECT_EQ(stored.GetValue("browsedirspecified"), "false");
    EXPECT_FALSE(stored.HasValue("browseDir"));
    // The new proxy is in force for new connections; an empty port leaves the connection's default.
    int port = -1;
    EXPECT_EQ(GetProxyServer("http", port), "proxy");
    EXPECT_EQ(port, 0);
}

TEST_F(PreferencesDialogGui, TheFolderComesFromTheSystemsChooser) {
    testsupport::ScopedTempFolder pictures{"pxprefspics"};
    // A start longer than the status line shows whole.
    pictures.Put("holidays by the sea and in the hills/keep.txt", "x");
    const std::string start = pictures / "holidays by the sea and in the hills";
    pictures.Put("trips/summer/keep.txt", "x");
    const std::string summer = pictures / "trips/summer";

    ScriptedPreferencesDialog dialog;
    std::future<int> ok;
    dialog.script = [&](ScriptedPreferencesDialog& shown) {
        auto specify = gui::RunAsync(Click(shown.CentreOf(Dialog::kSpecifiedFolder)));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return shown.IsItemEnabled(Dialog::kBrowse); }));
        EXPECT_EQ(specify.get(), 0);
        EXPECT_FALSE(shown.IsItemReadOnly(Dialog::kFolder));
        shown.SetItemText(Dialog::kFolder, start);

        // The chooser, titled as it should be, takes a typed location; a screenshot on the way.
        const char* folder = std::getenv("PX_DIALOG_SCREENSHOTS");
        std::string shot = folder != nullptr ? "import -window root '" + std::string(folder) +
                                                   "/preferences-folder-chooser.png'; "
                                             : std::string();
        auto choose = gui::RunAsync(
            "w=$(xdotool search --sync --onlyvisible --name '^Select Default Folder$' | tail -1); "
            "xdotool windowfocus --sync $w sleep 1; " +
            shot + "xdotool key --delay 50 ctrl+l sleep 0.3 type --delay 30 '" + summer +
            "'; xdotool sleep 0.5 key Return");
        auto browse = gui::RunAsync(Click(shown.CentreOf(Dialog::kBrowse)));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return shown.GetItemText(Dialog::kFolder) == summer; }, 30))
            << shown.GetItemText(Dialog::kFolder);
        EXPECT_EQ(choose.get(), 0);
        EXPECT_EQ(browse.get(), 0);

        // Back to the last folder: the list's current folder comes back, read-only.
        auto last = gui::RunAsync(Click(shown.CentreOf(Dialog::kLastFolder)));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return shown.IsItemReadOnly(Dialog::kFolder); }));
        EXPECT_EQ(last.get(), 0);
        EXPECT_EQ(shown.GetItemText(Dialog::kFolder), "/current/folder");
        EXPECT_FALSE(shown.IsItemEnabled(Dialog::kBrowse));
        // And specified again, with the chosen folder typed back, to be stored by OK.
        auto again = gui::RunAsync(Click(shown.CentreOf(Dialog::kSpecifiedFolder)));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return !shown.IsItemReadOnly(Dialog::kFolder); }));
        EXPECT_EQ(again.get(), 0);
        shown.SetItemText(Dialog::kFolder, summer);
        ok = gui::RunAsync(Click(shown.CentreOf(ui::kIdOk)));
    };
    EXPECT_EQ(dialog.Run(&owner, "/current/folder"), Dialog::kResultOk);
    ASSERT_TRUE(ok.valid());
    EXPECT_EQ(ok.get(), 0);
    EXPECT_EQ(Stored().GetValue("browseDir"), summer);
    EXPECT_EQ(Stored().GetValue("browsedirspecified"), "true");
}

TEST_F(PreferencesDialogGui, UnreadablePreferencesOpenNoDialogAndSaySo) {
    // A preference of a type that no preference has: the preferences cannot be read.
    platform::RegistryHandle key = 0;
    ASSERT_EQ(platform::CreateRegistryKey(platform::kHKeyCurrentUser, kPreferencesKey,
                                          platform::kKeyRead | platform::kKeyWrite, &key),
              0u);
    const uint8_t bytes[] = {1, 2, 3};
    ASSERT_EQ(platform::SetRegistryValue(key, "autostart", platform::kRegBinary, bytes, sizeof bytes), 0u);
    platform::CloseRegistryKey(key);
    auto box = gui::RunAsync(gui::PressKeysIn("^Preferences Error$", "Return"));
    Dialog dialog;
    EXPECT_EQ(dialog.Run(&owner, ""), Dialog::kResultNotLoaded);
    EXPECT_EQ(box.get(), 0);
    EXPECT_EQ(dialog.GetHandle(), nullptr) << "the dialog was made all the same";
}

// Looks on each tick for the dialog that holds the keyboard focus, reads its folder field and
// cancels it.
class FocusedPreferencesWatch : public CUITimerHandler {
public:
    void OnTimer() override {
        if (done)
            return;
        CUIApplication* app = CUIApplication::Get();
        platform::WindowSystem& system = app->GetWindowSystem();
        for (platform::NativeWindow w = system.GetFocus(); w != nullptr; w = system.GetParent(w)) {
            if (CUIDialog* dialog = app->FindDialog(w)) {
                folder = dialog->GetItemText(Dialog::kFolder);
                done = true;
                dialog->End(ui::kIdCancel);
                return;
            }
        }
    }
    bool done = false;
    std::string folder;
};

TEST_F(PreferencesDialogGui, TheUploadListsDialogsRunItWithTheCurrentFolder) {
    PluginParameters parameters;
    parameters.d_server = "127.0.0.1:9";
    UploadQueue queue(parameters, UploadEndpoint(parameters.d_server, "prefs test", 2.0, false));
    CStandardUploadListDialogs dialogs(queue);
    auto* watch = new FocusedPreferencesWatch;
    app->AddTimer(watch, 10);
    // A key in the dialog gives it the keyboard focus, through which the watch finds it.
    auto keys = gui::RunAsync(gui::PressKeysIn("^Preferences$", "Tab"));
    EXPECT_EQ(dialogs.RunPreferences(owner, "/the/list/folder"), Dialog::kResultCancel);
    EXPECT_EQ(keys.get(), 0);
    EXPECT_TRUE(watch->done);
    EXPECT_EQ(watch->folder, "/the/list/folder");
    app->RemoveTimer(watch);
    EXPECT_FALSE(Stored().HasValue("autostart"));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
