// Dialogs built from a compiled template under a private X server: controls where the template puts
// them, notifications from real clicks, keyboard defaults, modal runs that disable their owner, and
// message boxes answered with real input.
#include "platform/resources.h"
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

const platform::ResourceModule& PxUITestResources();

namespace {

constexpr uint32_t kTemplate = 900;
constexpr int kDirect = 1101, kProxy = 1102, kPort = 1104, kPassword = 1106, kStartAtOnce = 1107,
              kNotes = 1108;

// What the template says, in dialog units.
struct Placement {
    int id;
    CUIRect rect;
};
const Placement kPlacements[] = {
    {1100, CUIRect::FromSize(7, 7, 206, 52)},
    {kDirect, CUIRect::FromSize(14, 19, 90, 10)},
    {kProxy, CUIRect::FromSize(14, 31, 90, 10)},
    {1103, CUIRect::FromSize(112, 20, 24, 9)},
    {kPort, CUIRect::FromSize(140, 18, 40, 12)},
    {1105, CUIRect::FromSize(112, 36, 36, 9)},
    {kPassword, CUIRect::FromSize(150, 34, 56, 12)},
    {kStartAtOnce, CUIRect::FromSize(14, 66, 120, 10)},
    {kNotes, CUIRect::FromSize(14, 80, 192, 34)},
    {ui::kIdOk, CUIRect::FromSize(102, 126, 50, 14)},
    {ui::kIdCancel, CUIRect::FromSize(158, 126, 50, 14)},
};

class OptionsDialog : public CUIDialog {
public:
    ~OptionsDialog() override {
        if (m_awake)
            CUIApplication::Get()->RemoveTimer(m_awake);
    }
    struct Command {
        int id;
        int notification;
    };
    std::vector<Command> commands;
    std::function<void(int)> onStep;
    int steps = 0;

protected:
    bool OnCommand(int id, int notification) override {
        commands.push_back({id, notification});
        return CUIDialog::OnCommand(id, notification);
    }
    void ModalStep() override {
        // The pump would sleep while nothing happens; the test's look at the dialog needs it to turn.
        if (!m_awake) {
            m_awake = new gui::KeepAwake;
            CUIApplication::Get()->AddTimer(m_awake, 10);
        }
        ++steps;
        if (onStep)
            onStep(steps);
        CUIDialog::ModalStep();
    }

private:
    gui::KeepAwake* m_awake = nullptr;
};

class DialogGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetResourceModule(&PxUITestResources());
        ASSERT_TRUE(desk.Open("dialog owner", {500, 400})) << "no display";
    }
    void TearDown() override {
        desk.Close();
        platform::SetResourceModule(nullptr);
    }

    // The converted rectangle of a control in the dialog's client coordinates.
    CUIRect Pixels(const OptionsDialog& dialog, const CUIRect& units) {
        CUISize base = system->GetDialogBaseUnits(dialog.GetHandle());
        return {units.left * base.cx / 4, units.top * base.cy / 8, units.right * base.cx / 4,
                units.bottom * base.cy / 8};
    }
    std::string ClickAt(CUIPoint screen) {
        // Without --sync, which waits for ever when the pointer is there already.
        return "xdotool mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y) +
               " sleep 0.1 click 1";
    }
    CUIPoint ScreenCentre(const OptionsDialog& dialog, int id) {
        platform::NativeWindow item = dialog.GetItem(id);
        CUIRect rect = system->GetClientRect(item);
        return system->ClientToScreen(item, {rect.Width() / 2, rect.Height() / 2});
    }
    bool ShownAndPlaced(const OptionsDialog& dialog) {
        platform::NativeWindow ok = dialog.GetItem(ui::kIdOk);
        return dialog.IsVisible() && ok != nullptr && system->GetClientRect(ok).Width() > 1;
    }

    gui::DialogOwner desk;
    platform::WindowSystem*& system = desk.system;
    std::unique_ptr<CUIApplication>& app = desk.app;
    CUIWindow& owner = desk.owner;
};

TEST_F(DialogGuiTest, ControlsSitAtTheTemplatesRectanglesInTheDialogFont) {
    OptionsDialog dialog;
    dialog.Create(kTemplate, &owner);
    dialog.Show();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return ShownAndPlaced(dialog); }));
    gui::PumpFor(*app, 0.3);

    // An 8-point face at 96 dots per inch: an average character of 5 to 8 pixels, a line of 10 to 16.
    CUISize base = system->GetDialogBaseUnits(dialog.GetHandle());
    EXPECT_GE(base.cx, 5);
    EXPECT_LE(base.cx, 8);
    EXPECT_GE(base.cy, 10);
    EXPECT_LE(base.cy, 16);

    CUIPoint dialogOrigin = system->ClientToScreen(dialog.GetHandle(), {0, 0});
    for (const Placement& placement : kPlacements) {
        platform::NativeWindow item = dialog.GetItem(placement.id);
        ASSERT_NE(item, nullptr) << placement.id;
        EXPECT_EQ(dialog.GetItemId(item), placement.id);
        CUIRect expected = Pixels(dialog, placement.rect);
        // Where GTK really put it and how large it really made it: a theme's minimum sizes must not
        // push a control out of its rectangle.
        CUIPoint origin = system->ClientToScreen(item, {0, 0});
        CUIRect actual =
            system->GetClientRect(item).Offset(origin.x - dialogOrigin.x, origin.y - dialogOrigin.y);
        EXPECT_EQ(actual, expected) << "control " << placement.id << " at " << actual.left << ","
                                    << actual.top << " " << actual.Width() << "x" << actual.Height()
                                    << ", template " << expected.left << "," << expected.top << " "
                                    << expected.Width() << "x" << expected.Height();
    }
    EXPECT_EQ(dialog.GetText(), "Upload Options");
    EXPECT_EQ(dialog.GetItemText(kPort), "8080");
    EXPECT_EQ(dialog.GetItemText(kStartAtOnce), "&Start uploading at once");
    EXPECT_EQ(dialog.GetItemText(kNotes), "Notes can run over several lines.");
    CUIRect client = system->GetClientRect(dialog.GetHandle());
    EXPECT_EQ(client.Width(), 220 * base.cx / 4);
    EXPECT_EQ(client.Height(), 150 * base.cy / 8);

    if (const char* shot = std::getenv("PX_DIALOG_SCREENSHOT")) {
        EXPECT_EQ(gui::RunAsync(std::string("import -window root ") + shot).get(), 0);
    }
}

TEST_F(DialogGuiTest, ARealClickOnACheckBoxReportsBnClickedAndChecksIt) {
    OptionsDialog dialog;
    dialog.Create(kTemplate, &owner);
    dialog.Show();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return ShownAndPlaced(dialog); }));
    gui::PumpFor(*app, 0.2);
    EXPECT_FALSE(dialog.IsItemChecked(kStartAtOnce));
    // Setting a state from the program is no click.
    dialog.SetItemChecked(kStartAtOnce, true);
    dialog.SetItemChecked(kStartAtOnce, false);
    EXPECT_TRUE(dialog.commands.empty());

    auto click = gui::RunAsync(ClickAt(ScreenCentre(dialog, kStartAtOnce)));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !dialog.commands.empty(); }));
    EXPECT_EQ(click.get(), 0);
    EXPECT_EQ(dialog.commands[0].id, kStartAtOnce);
    EXPECT_EQ(dialog.commands[0].notification, ui::kBnClicked);
    EXPECT_TRUE(dialog.IsItemChecked(kStartAtOnce));

    // A radio button of the group: the one turned on speaks, the one turned off does not.
    dialog.commands.clear();
    auto radio = gui::RunAsync(ClickAt(ScreenCentre(dialog, kProxy)));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !dialog.commands.empty(); }));
    EXPECT_EQ(radio.get(), 0);
    gui::PumpFor(*app, 0.2);
    ASSERT_EQ(dialog.commands.size(), 1u);
    EXPECT_EQ(dialog.commands[0].id, kProxy);
    EXPECT_TRUE(dialog.IsItemChecked(kProxy));
    EXPECT_FALSE(dialog.IsItemChecked(kDirect));
}

TEST_F(DialogGuiTest, EditsNotifyChangesAndTheNumberEditRefusesLetters) {
    OptionsDialog dialog;
    dialog.Create(kTemplate, &owner);
    dialog.Show();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return ShownAndPlaced(dialog); }));
    gui::PumpFor(*app, 0.2);
    dialog.SetItemText(kPort, "");
    dialog.commands.clear();
    auto typing = gui::RunAsync(ClickAt(ScreenCentre(dialog, kPort)) + " && xdotool type --delay 30 '8a1'");
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return dialog.GetItemText(kPort) == "81"; }));
    EXPECT_EQ(typing.get(), 0);
    gui::PumpFor(*app, 0.2);
    EXPECT_EQ(dialog.GetItemText(kPort), "81");
    ASSERT_FALSE(dialog.commands.empty());
    EXPECT_EQ(dialog.commands.back().id, kPort);
    EXPECT_EQ(dialog.commands.back().notification, ui::kEnChange);

    // A multi-line edit speaks through its text buffer; the dialog hears the edit's own id.
    dialog.commands.clear();
    system->SetFocus(dialog.GetItem(kNotes));
    auto more = gui::RunAsync(gui::PressKeysIn("^Upload Options$", "z"));
    ASSERT_TRUE(
        gui::PumpUntil(*app, [&] { return dialog.GetItemText(kNotes).find('z') != std::string::npos; }));
    EXPECT_EQ(more.get(), 0);
    gui::PumpFor(*app, 0.2);
    ASSERT_FALSE(dialog.commands.empty());
    EXPECT_EQ(dialog.commands.back().id, kNotes);
    EXPECT_EQ(dialog.commands.back().notification, ui::kEnChange);
}

TEST_F(DialogGuiTest, AModalDialogDisablesItsOwnerUntilARealClickEndsIt) {
    OptionsDialog dialog;
    dialog.Create(kTemplate, &owner);
    bool ownerDisabledWhileShown = false;
    std::future<int> click;
    dialog.onStep = [&](int) {
        if (click.valid() || !ShownAndPlaced(dialog))
            return;
        ownerDisabledWhileShown = !owner.IsEnabled();
        click = gui::RunAsync("sleep 0.2; " + ClickAt(ScreenCentre(dialog, ui::kIdOk)));
    };
    EXPECT_EQ(dialog.RunModal(), ui::kIdOk);
    ASSERT_TRUE(click.valid());
    EXPECT_EQ(click.get(), 0);
    EXPECT_TRUE(ownerDisabledWhileShown);
    EXPECT_TRUE(owner.IsEnabled());
    EXPECT_FALSE(dialog.IsVisible());
}

TEST_F(DialogGuiTest, EnterPressesTheDefaultButtonAndEscapeCancels) {
    for (auto [key, expected] : {std::pair{"Return", ui::kIdOk}, std::pair{"Escape", ui::kIdCancel}}) {
        OptionsDialog dialog;
        dialog.Create(kTemplate, &owner);
        std::future<int> keys;
        dialog.onStep = [&](int) {
            if (keys.valid() || !ShownAndPlaced(dialog))
                return;
            // Into the password edit first, so that the key is not a button's own.
            keys = gui::RunAsync(ClickAt(ScreenCentre(dialog, kPassword)) + " && xdotool key " + key);
        };
        EXPECT_EQ(dialog.RunModal(), expected) << key;
        ASSERT_TRUE(keys.valid());
        EXPECT_EQ(keys.get(), 0);
    }
}

TEST_F(DialogGuiTest, AMessageBoxReturnsTheMappedAnswerOfTheButtonPressed) {
    struct Case {
        CUIMessageBox::Buttons buttons;
        const char* keys; // pressed once the box has the focus
        int expected;
    };
    const Case cases[] = {
        {CUIMessageBox::Buttons::Ok, "Return", 1},          {CUIMessageBox::Buttons::OkCancel, "Escape", 0},
        {CUIMessageBox::Buttons::YesNo, "alt+y", 1},        {CUIMessageBox::Buttons::YesNo, "alt+n", 2},
        {CUIMessageBox::Buttons::YesNoCancel, "Escape", 0}, {CUIMessageBox::Buttons::YesNoCancel, "alt+n", 2},
    };
    int round = 0;
    for (const Case& c : cases) {
        std::string caption = "Question " + std::to_string(++round);
        // Only a mapped box can take the focus: focusing one that is not shown yet fails.
        auto input = gui::RunAsync(gui::PressKeysIn("^" + caption + "$", c.keys));
        CUIMessageBox box(caption, "Go on?", c.buttons, CUIMessageBox::Icon::Question);
        EXPECT_EQ(box.Show(&owner), c.expected) << caption << " " << c.keys;
        EXPECT_EQ(input.get(), 0);
    }
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
