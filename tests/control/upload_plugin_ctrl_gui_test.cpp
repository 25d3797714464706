// The control object in a real window under a private X server: what its creation builds, how it
// follows its size, what the page's isUploadComplete answers, and what its window's end leaves
// behind. The server check resolves a loopback address, so no box interrupts the start-up.
#include "control/upload_plugin_ctrl.h"
#include "foundation/exception.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "foundation/string_format.h"
#include "net/network_exception.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/drawable.h"
#include "ui/font.h"
#include "upload/upload_engine.h"
#include "views/upload_list_view.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

class ControlWindow : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_env.Set("XDG_CONFIG_HOME", m_folder.Path());
        m_env.Set("XDG_STATE_HOME", m_folder.Path() + "/state");
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
    void Open(CUploadPluginCtrl::EngineFactory makeEngine = {}) {
        m_frame = std::make_unique<CUIWindow>();
        m_frame->CreateTopLevel("control test");
        m_frame->SetClientSize({320, 220});
        m_control = std::make_unique<CUploadPluginCtrl>(m_parameters, std::move(makeEngine));
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
    m_control->Move(CUIRect::FromSize(5, 5, 310, 212));
    ASSERT_TRUE(gui::PumpUntil(*m_app, [&] { return m_control->GetList()->GetClientRect().Width() == 310; }));
    EXPECT_EQ(m_control->GetList()->GetClientRect().Height(), 212);
    // Smaller again, and the frame with it: nothing holds a window at the size of what it contains.
    m_control->Move(CUIRect::FromSize(5, 5, 240, 150));
    ASSERT_TRUE(gui::PumpUntil(*m_app, [&] { return m_control->GetList()->GetClientRect().Width() == 240; }));
    EXPECT_EQ(m_control->GetList()->GetClientRect().Height(), 150);
    m_frame->SetClientSize({200, 120});
    EXPECT_TRUE(gui::PumpUntil(*m_app, [&] { return m_frame->GetClientRect().Width() == 200; }))
        << m_frame->GetClientRect().Width();
    EXPECT_EQ(m_frame->GetClientRect().Height(), 120);
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

// The pixels of the edge colour (the error text's) in a painted surface, as a set of points.
std::vector<std::pair<int, int>> TextPixels(CUIDrawable& surface, CUISize size) {
    std::vector<std::pair<int, int>> pixels;
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x)
            if (surface->GetPixel({x, y}) == CUIColor(0, 0, 0))
                pixels.emplace_back(x, y);
    return pixels;
}

TEST_F(ControlWindow, AFailedCreationShowsWhyAndBuildsNothing) {
    Open([](const PluginParameters&,
            std::function<void(bool, const CException&)>) -> std::unique_ptr<PxUploadEngine> {
        throw CHostNotFoundException("engine.invalid");
    });
    const std::string expected = SubstituteArgs(platform::LoadStringResource(10035).value_or(""),
                                                {CHostNotFoundException("engine.invalid").GetText()});
    EXPECT_EQ(m_control->GetInitialisationError(), expected);
    EXPECT_EQ(expected.rfind("Failed to initialize plugin:\n", 0), 0u);
    // Torn down at once: no list, no timer, no start-up task, nothing complete.
    EXPECT_EQ(m_control->GetList(), nullptr);
    EXPECT_EQ(m_app->GetTimerCount(), 0u);
    EXPECT_EQ(m_app->GetTaskCount(), 0u);
    EXPECT_EQ(m_control->isUploadComplete(), 0);

    // The text centred on the background.
    const CUISize size{300, 200};
    CUIDrawable roomy = CUIDrawable::ForMemory(size.cx, size.cy);
    m_control->PaintContent(*roomy, CUIRect::FromSize(0, 0, size.cx, size.cy));
    EXPECT_EQ(roomy->GetPixel({0, 0}), CUIColor::FromString("#eeeeee"));
    const std::vector<std::pair<int, int>> text = TextPixels(roomy, size);
    ASSERT_FALSE(text.empty());
    int top = size.cy, bottom = 0;
    for (const auto& [x, y] : text) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    roomy->SetFont(CUIFont::kDialogFont);
    const int lineHeight = roomy->GetTextMetrics().height;
    EXPECT_LE(std::abs(top - (size.cy - 1 - bottom)), lineHeight) << top << " " << bottom;

    // Taller than the control: from its top, exactly as in a control just tall enough for it.
    const int lines = static_cast<int>(std::count(expected.begin(), expected.end(), '\n')) + 1;
    CUIDrawable cramped = CUIDrawable::ForMemory(size.cx, size.cy);
    m_control->PaintContent(*cramped, CUIRect::FromSize(0, 0, size.cx, lineHeight));
    CUIDrawable exact = CUIDrawable::ForMemory(size.cx, size.cy);
    m_control->PaintContent(*exact, CUIRect::FromSize(0, 0, size.cx, lines * lineHeight));
    ASSERT_GT(lines, 1);
    EXPECT_EQ(TextPixels(cramped, size), TextPixels(exact, size));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
