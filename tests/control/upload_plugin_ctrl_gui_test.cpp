// The control object in a real window under a private X server: what its creation builds, how it
// follows its size, what the page's isUploadComplete answers, and what its window's end leaves
// behind. The server check resolves a loopback address, so no box interrupts the start-up.
#include "control/upload_plugin_ctrl.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "platform/registry.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "views/upload_list_view.h"

#include <memory>

#include <gtest/gtest.h>

namespace {

class ControlWindow : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_env.Set("XDG_CONFIG_HOME", m_folder.Path());
        platform::SetRegistryPath("");
        platform::WindowSystem* system = platform::GetNativeWindowSystem();
        ASSERT_NE(system, nullptr);
        m_app = std::make_unique<CUIApplication>(*system);
        m_parameters.d_server = "127.0.0.1:9";
    }
    void TearDown() override {
        m_control.reset();
        m_frame.reset();
        m_app.reset();
        platform::SetRegistryPath("");
        m_env.Restore();
        CataloguesInstalled::TearDown();
    }

    // The frame with the control at (10, 10), 300 x 200, shown and placed.
    void Open() {
        m_frame = std::make_unique<CUIWindow>();
        m_frame->CreateTopLevel("control test");
        m_frame->SetClientSize({320, 220});
        m_control = std::make_unique<CUploadPluginCtrl>(m_parameters);
        m_control->Create(*m_frame, CUIRect::FromSize(10, 10, 300, 200));
        m_control->Show();
        m_frame->Show();
        ASSERT_TRUE(gui::PumpUntil(*m_app, [&] { return m_control->GetClientRect().Width() == 300; }));
        // The start-up task runs when the pump is idle.
        ASSERT_TRUE(gui::PumpUntil(*m_app, [&] { return m_app->GetTaskCount() == 0; }));
    }

    testsupport::ScopedTempFolder m_folder;
    testsupport::ScopedEnv m_env;
    std::unique_ptr<CUIApplication> m_app;
    PluginParameters m_parameters;
    std::unique_ptr<CUIWindow> m_frame;
    std::unique_ptr<CUploadPluginCtrl> m_control;
};

TEST_F(ControlWindow, CreationBuildsTheListFillingTheControlAsTheMainWindow) {
    Open();
    ASSERT_NE(m_control->GetList(), nullptr);
    EXPECT_EQ(m_control->GetInitialisationError(), "");
    EXPECT_EQ(m_app->GetMainWindow(), m_control->GetList()->GetHandle());
    EXPECT_TRUE(gui::PumpUntil(*m_app, [&] { return m_control->GetList()->GetClientRect().Width() == 300; }));
    EXPECT_EQ(m_control->GetList()->GetClientRect().Height(), 200);
    // The start-up went well: the list takes pictures.
    EXPECT_FALSE(m_control->GetList()->IsDisabled());
    // Nothing added: not complete.
    EXPECT_EQ(m_control->isUploadComplete(), 0);
}

TEST_F(ControlWindow, TheListFollowsTheControlsSize) {
    Open();
    // FIXME: larger only: the native layer's child areas never allocate less than their children ask
    // for, so a control with its list inside cannot shrink.
    m_control->Move(CUIRect::FromSize(5, 5, 310, 212));
    ASSERT_TRUE(gui::PumpUntil(*m_app, [&] { return m_control->GetList()->GetClientRect().Width() == 310; }));
    EXPECT_EQ(m_control->GetList()->GetClientRect().Height(), 212);
}

TEST_F(ControlWindow, KeysGoToTheListFirst) {
    Open();
    const platform::NativeWindow list = m_control->GetList()->GetHandle();
    // Ctrl+A, as a typed character: the list's select-all.
    EXPECT_TRUE(m_control->TranslateAccelerator({list, ui::kWmChar, 1, 0, 0}));
    // A key the list does not use, and a message that is no key at all.
    EXPECT_FALSE(m_control->TranslateAccelerator({list, ui::kWmKeyDown, ui::kVkShift, 0, 0}));
    EXPECT_FALSE(m_control->TranslateAccelerator({list, ui::kWmPaint, 0, 0, 0}));
    // Without the list there is nobody to offer keys to.
    m_frame->Destroy();
    EXPECT_FALSE(m_control->TranslateAccelerator({nullptr, ui::kWmChar, 1, 0, 0}));
}

TEST_F(ControlWindow, TheWindowsEndTearsDownAndStoresTheColumnState) {
    Open();
    {
        CNameValueDocument before;
        LoadPreferences(before);
        EXPECT_FALSE(before.HasValue("columns/nameWidth"));
    }
    m_frame->Destroy();
    // The control heard of its window's end: no list, no main window, nothing to ask.
    EXPECT_EQ(m_control->GetList(), nullptr);
    EXPECT_EQ(m_app->GetMainWindow(), nullptr);
    EXPECT_EQ(m_control->isUploadComplete(), 0);
    EXPECT_EQ(m_app->GetTimerCount(), 0u);
    CNameValueDocument after;
    LoadPreferences(after);
    EXPECT_TRUE(after.HasValue("columns/nameWidth"));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
