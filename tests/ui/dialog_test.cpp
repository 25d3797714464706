// The modal stack over a scripted window system: owners disabled and re-enabled, nesting, ending a
// dialog that is not on top, the exception path; dialog templates decoded; the message-box table.
#include "foundation/exception.h"
#include "tests/ui/scripted_window_system.h"
#include "ui/application.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

#include <functional>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

platform::DialogTemplate SmallTemplate() {
    return {200,
            "Small",
            {100, 50},
            "Sans",
            8,
            {{ui::kIdOk, platform::ControlKind::DefaultButton, "OK", 0, CUIRect::FromSize(10, 30, 40, 14)},
             {ui::kIdCancel, platform::ControlKind::Button, "Cancel", 0, CUIRect::FromSize(55, 30, 40, 14)},
             {1001, platform::ControlKind::CheckBox, "Tick", 0, CUIRect::FromSize(10, 10, 80, 10)}}};
}

// A dialog whose init, steps and end are scripted by the test.
class ScriptedDialog : public CUIDialog {
public:
    std::function<void()> onInit;
    std::function<void(int)> onStep; // gets the step number
    std::vector<int> ends;
    int steps = 0;

protected:
    void OnInit() override {
        if (onInit)
            onInit();
    }
    void ModalStep() override {
        ++steps;
        if (onStep)
            onStep(steps);
        else
            CUIDialog::ModalStep();
    }
    void OnEnd(int code) override { ends.push_back(code); }
};

class ModalTest : public ::testing::Test {
protected:
    ModalTest() {
        ScriptedWindowSystem::current = &system;
        main.CreateTopLevel("main");
        child.CreateChild(main);
        app.SetMainWindow(child.GetHandle());
        system.SetFocus(child.GetHandle());
    }
    ~ModalTest() override { EXPECT_EQ(CUIDialog::GetModalDepth(), 0u); }

    ScriptedWindowSystem system;
    CUIApplication app{system};
    CUIWindow main;
    CUIWindow child;
};

TEST_F(ModalTest, TheOwnerIsDisabledWhileTheDialogRunsAndFocusComesBack) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    dialog.onStep = [&](int step) {
        EXPECT_FALSE(main.IsEnabled());
        EXPECT_TRUE(dialog.IsVisible());
        EXPECT_EQ(system.GetActive(), dialog.GetHandle());
        if (step == 2)
            dialog.End(ui::kIdOk);
    };
    EXPECT_EQ(dialog.RunModal(), ui::kIdOk);
    EXPECT_EQ(dialog.steps, 2);
    EXPECT_TRUE(main.IsEnabled());
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_EQ(system.GetFocus(), child.GetHandle());
    EXPECT_EQ(dialog.ends, std::vector<int>{ui::kIdOk});
}

TEST_F(ModalTest, AClickOnCancelInThePumpEndsWithCancel) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    // The real step: while the pump waits, the native layer sends the button's notification to the
    // dialog, which ends itself.
    system.onBlockingWait = [&] {
        system.SendMessage(dialog.GetHandle(), ui::kWmCommand, ui::MakeWParam(ui::kIdCancel, ui::kBnClicked),
                           0);
    };
    EXPECT_EQ(dialog.RunModal(), ui::kIdCancel);
    EXPECT_TRUE(main.IsEnabled());
}

TEST_F(ModalTest, AnOwnerThatWasDisabledAlreadyStaysDisabled) {
    main.Enable(false);
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    dialog.onStep = [&](int) { dialog.End(5); };
    EXPECT_EQ(dialog.RunModal(), 5);
    EXPECT_FALSE(main.IsEnabled());
}

TEST_F(ModalTest, EndingInInitSkipsShowingAndTheLoop) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    dialog.onInit = [&] { dialog.End(9); };
    EXPECT_EQ(dialog.RunModal(), 9);
    EXPECT_EQ(dialog.steps, 0);
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_TRUE(main.IsEnabled());
}

TEST_F(ModalTest, NestedDialogsDisableTheDialogBelowAndUnwindInOrder) {
    ScriptedDialog outer, inner;
    outer.Create(SmallTemplate(), &main);
    inner.Create(SmallTemplate(), &outer);
    outer.onStep = [&](int step) {
        if (step == 1) {
            inner.onStep = [&](int) {
                EXPECT_EQ(CUIDialog::GetModalDepth(), 2u);
                EXPECT_FALSE(main.IsEnabled());
                EXPECT_FALSE(outer.IsEnabled());
                EXPECT_TRUE(inner.IsEnabled());
                inner.End(3);
            };
            EXPECT_EQ(inner.RunModal(), 3);
            EXPECT_TRUE(outer.IsEnabled());
            EXPECT_FALSE(main.IsEnabled());
        } else {
            outer.End(4);
        }
    };
    EXPECT_EQ(outer.RunModal(), 4);
    EXPECT_TRUE(main.IsEnabled());
}

TEST_F(ModalTest, EndingADialogThatIsNotOnTopLeavesTheTopOneModalAndFreesTheOwnerAtTheEnd) {
    ScriptedDialog outer, inner;
    outer.Create(SmallTemplate(), &main);
    inner.Create(SmallTemplate(), &outer);
    outer.onStep = [&](int step) {
        if (step != 1)
            return;
        inner.onStep = [&](int innerStep) {
            if (innerStep == 1) {
                outer.End(6); // from under the top dialog
                EXPECT_FALSE(CUIDialog::IsOnModalStack(&outer));
                EXPECT_TRUE(CUIDialog::IsOnModalStack(&inner));
                EXPECT_FALSE(main.IsEnabled()) << "the main window came back while a dialog is modal";
                EXPECT_FALSE(outer.IsVisible());
                EXPECT_EQ(CUIDialog::GetModalResult(), 6);
            } else {
                inner.End(7);
            }
        };
        EXPECT_EQ(inner.RunModal(), 7);
    };
    // The outer loop ends as soon as it sees its dialog ended; the code is the last one given.
    EXPECT_EQ(outer.RunModal(), 7);
    EXPECT_TRUE(main.IsEnabled()) << "the owner disabled for the ended dialog stayed disabled";
    EXPECT_EQ(system.GetFocus(), child.GetHandle());
}

TEST_F(ModalTest, AnExceptionEndsTheDialogWithTheCurrentCodeAndGoesOn) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    // A first run leaves 12 as the modal result.
    dialog.onStep = [&](int) { dialog.End(12); };
    dialog.RunModal();
    dialog.ends.clear();
    dialog.steps = 0;
    dialog.onStep = [&](int) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(dialog.RunModal(), std::runtime_error);
    EXPECT_EQ(dialog.ends, std::vector<int>{12});
    EXPECT_TRUE(main.IsEnabled());
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_EQ(system.GetFocus(), child.GetHandle());
}

TEST_F(ModalTest, QuittingLeavesTheLoopAndEndsTheDialogWithZero) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    app.Quit(1);
    EXPECT_EQ(dialog.RunModal(), 0);
    EXPECT_TRUE(app.IsQuitting());
    EXPECT_TRUE(main.IsEnabled());
}

TEST_F(ModalTest, EndingADialogThatIsNotModalOnlyHidesIt) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    dialog.Show();
    main.Enable(false);
    dialog.End(8);
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_FALSE(main.IsEnabled());
    EXPECT_NE(CUIDialog::GetModalResult(), 8);
}

TEST_F(ModalTest, ItemsAreFoundByIdAndDialogsTakeNavigationKeysFirst) {
    ScriptedDialog dialog;
    dialog.Create(SmallTemplate(), &main);
    platform::NativeWindow tick = dialog.GetItem(1001);
    ASSERT_NE(tick, nullptr);
    EXPECT_EQ(dialog.GetItemId(tick), 1001);
    EXPECT_EQ(dialog.GetItemText(ui::kIdCancel), "Cancel");
    EXPECT_EQ(dialog.GetItem(4711), nullptr);
    dialog.SetItemChecked(1001, true);
    EXPECT_TRUE(dialog.IsItemChecked(1001));
    EXPECT_EQ(app.FindDialog(dialog.GetHandle()), &dialog);
    // Tab on a control is the dialog's (the scripted layer consumes it); another key goes on.
    system.PostMessage(tick, ui::kWmKeyDown, ui::kVkTab, 0);
    system.PostMessage(tick, ui::kWmKeyDown, 'A', 0);
    app.PumpOnce();
    ASSERT_EQ(system.dispatched.size(), 1u);
    EXPECT_EQ(system.dispatched[0].wParam, static_cast<ui::WParam>('A'));
    dialog.Destroy();
    EXPECT_EQ(app.FindDialog(tick), nullptr);
}

// --- Templates -------------------------------------------------------------------------------------

std::vector<uint8_t> Le(std::initializer_list<std::pair<uint32_t, int>> fields) {
    std::vector<uint8_t> out;
    for (auto [value, bytes] : fields)
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

TEST(DialogTemplate, DecodesTheCompiledForm) {
    std::vector<uint8_t> bytes = Le({{0x4C445850, 4}, {300, 4}, {120, 2}, {60, 2}, {9, 2}});
    auto text = [&](const std::string& s) {
        bytes.push_back(static_cast<uint8_t>(s.size()));
        bytes.push_back(0);
        bytes.insert(bytes.end(), s.begin(), s.end());
    };
    text("Sans");
    text("Hi");
    auto more = Le({{1, 2}, {5, 2}, {1, 1}, {0x00010000, 4}, {7, 2}, {8, 2}, {50, 2}, {14, 2}});
    bytes.insert(bytes.end(), more.begin(), more.end());
    text("OK");

    platform::DialogTemplate decoded;
    ASSERT_TRUE(DecodeDialogTemplate(bytes, decoded));
    EXPECT_EQ(decoded.id, 300u);
    EXPECT_EQ(decoded.size, (CUISize{120, 60}));
    EXPECT_EQ(decoded.fontPoints, 9);
    EXPECT_EQ(decoded.fontFace, "Sans");
    EXPECT_EQ(decoded.caption, "Hi");
    ASSERT_EQ(decoded.controls.size(), 1u);
    EXPECT_EQ(decoded.controls[0].id, 5);
    EXPECT_EQ(decoded.controls[0].kind, platform::ControlKind::DefaultButton);
    EXPECT_EQ(decoded.controls[0].style, 0x00010000u);
    EXPECT_EQ(decoded.controls[0].rect, CUIRect::FromSize(7, 8, 50, 14));
    EXPECT_EQ(decoded.controls[0].text, "OK");

    // Every cut of the bytes is refused, and so is trailing rubbish or an unknown kind.
    for (size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(DecodeDialogTemplate(std::span(bytes.data(), size), decoded)) << size;
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(DecodeDialogTemplate(longer, decoded));
    std::vector<uint8_t> badKind = bytes;
    badKind[bytes.size() - 4 - 8 - 4 - 1] = 200;
    EXPECT_FALSE(DecodeDialogTemplate(badKind, decoded));
}

TEST_F(ModalTest, AMissingTemplateIsAResourceFailure) {
    CUIDialog dialog;
    try {
        dialog.Create(4711, &main);
        FAIL() << "created a dialog from no template";
    } catch (const CUIResourceNotFoundException& e) {
        EXPECT_STREQ(e.GetCode(), "EUINORSRC");
        EXPECT_EQ(e.GetModule(), "dialog 4711");
    }
}

// --- Message boxes ---------------------------------------------------------------------------------

struct FlagsRow {
    CUIMessageBox::Buttons buttons;
    CUIMessageBox::Icon icon;
    int defaultButton;
    uint32_t flags;
};

TEST(MessageBoxMapping, ButtonsIconsAndDefaultsGiveTheNativeFlags) {
    using B = CUIMessageBox::Buttons;
    using I = CUIMessageBox::Icon;
    const FlagsRow rows[] = {
        {B::Ok, I::None, 1, 0x0},                   // plain OK
        {B::Ok, I::None, 0, 0x0},                   // "last" of one button is the first
        {B::Ok, I::Information, 2, 0x40},           // OK only: no second button to default to
        {B::OkCancel, I::Exclamation, 1, 0x31},     // first default needs no flag
        {B::OkCancel, I::Question, 2, 0x121},       // second
        {B::OkCancel, I::Stop, 0, 0x111},           // last of two is the second
        {B::YesNo, I::None, 0, 0x104},              // last of two
        {B::YesNo, I::Question, 1, 0x24},           //
        {B::YesNoCancel, I::Stop, 0, 0x213},        // last of three is the third
        {B::YesNoCancel, I::Information, 2, 0x143}, // second of three
        {B::YesNoCancel, I::Exclamation, 1, 0x33},  // first of three
    };
    for (const FlagsRow& row : rows) {
        CUIMessageBox box("c", "t", row.buttons, row.icon, row.defaultButton);
        EXPECT_EQ(box.GetFlags(), row.flags)
            << static_cast<int>(row.buttons) << "/" << static_cast<int>(row.icon) << "/" << row.defaultButton;
    }
}

TEST(MessageBoxMapping, NativeResultsMapToOneZeroTwoOrMinusOne) {
    EXPECT_EQ(CUIMessageBox::MapResult(ui::kIdOk), 1);
    EXPECT_EQ(CUIMessageBox::MapResult(ui::kIdYes), 1);
    EXPECT_EQ(CUIMessageBox::MapResult(ui::kIdCancel), 0);
    EXPECT_EQ(CUIMessageBox::MapResult(ui::kIdNo), 2);
    EXPECT_EQ(CUIMessageBox::MapResult(ui::kIdAbort), -1);
    EXPECT_EQ(CUIMessageBox::MapResult(ui::kIdRetry), -1);
    EXPECT_EQ(CUIMessageBox::MapResult(0), -1);
}

TEST_F(ModalTest, AMessageBoxShowsThroughTheWindowSystemAndMapsItsAnswer) {
    system.messageBoxAnswer = ui::kIdNo;
    CUIMessageBox box("Caption", "Text", CUIMessageBox::Buttons::YesNoCancel, CUIMessageBox::Icon::Question,
                      2);
    EXPECT_EQ(box.Show(&main), 2);
    EXPECT_EQ(system.lastMessageBoxFlags, 0x123u);
}

} // namespace
