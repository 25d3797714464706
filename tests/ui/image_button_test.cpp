#include "drawing_test_support.h"
#include "ui/drawable.h"
#include "ui/image_button.h"

#include <functional>
#include <memory>

#include <gtest/gtest.h>

using namespace drawing_test;

namespace {

// Template channels: red the label, green the body, blue the shadow.
CUIColor Channels(uint8_t label, uint8_t body, uint8_t shadow) {
    return CUIColor(label, body, shadow);
}

// A 4 x 4 template: a label pixel on the body at (1, 1), body at (2, 1) and (2, 2), a half-covered
// body pixel at (3, 3), full shadow at (1, 3), half shadow at (0, 3), and two pixels on either side
// of the hit threshold.
CUIImage SmallTemplate() {
    CUIImage t(4, 4);
    t.SetPixel(1, 1, Channels(255, 255, 0));
    t.SetPixel(2, 1, Channels(0, 255, 0));
    t.SetPixel(2, 2, Channels(0, 255, 0));
    t.SetPixel(3, 3, Channels(0, 128, 0));
    t.SetPixel(1, 3, Channels(0, 0, 255));
    t.SetPixel(0, 3, Channels(0, 0, 128));
    t.SetPixel(0, 1, Channels(0, 63, 0));
    t.SetPixel(3, 1, Channels(0, 64, 0));
    return t;
}

CUIImageButton::Colors TestColors() {
    CUIImageButton::Colors c;
    c.background = CUIColor(200, 100, 50);
    c.normalText = CUIColor(255, 255, 255);
    c.normalBody = CUIColor(0, 0, 0);
    c.pressedText = CUIColor(10, 20, 30);
    c.pressedBody = CUIColor(90, 60, 30);
    c.disabledText = CUIColor(1, 2, 3);
    c.disabledBody = CUIColor(120, 130, 140);
    return c;
}

struct PixelCase {
    CUIPoint at;
    CUIColor expected;
    const char* what;
};

void ExpectPixels(const CUIImage& image, std::initializer_list<PixelCase> cases) {
    for (const PixelCase& c : cases)
        EXPECT_EQ(image.GetPixel(c.at.x, c.at.y), c.expected) << c.what << " at " << c.at.x << "," << c.at.y;
}

TEST(ImageButtonRender, NormalLook) {
    CUIImageButton button(SmallTemplate());
    button.SetColors(TestColors());
    ExpectPixels(button.GetImage(CUIImageButton::State::Normal),
                 {
                     {{0, 0}, CUIColor(200, 100, 50), "margin shows the background"},
                     {{1, 1}, CUIColor(255, 255, 255), "label in the text colour"},
                     {{2, 1}, CUIColor(0, 0, 0), "body colour"},
                     {{1, 3}, CUIColor(0, 0, 0), "full shadow darkens the background away"},
                     {{0, 3}, CUIColor(99, 49, 24), "half shadow: 127/255 of the background, truncated"},
                     {{3, 3}, CUIColor(99, 49, 24), "half body over a black body colour"},
                     {{0, 2}, CUIColor(200, 100, 50), "no shadow here"},
                 });
}

TEST(ImageButtonRender, PressedLookShiftsLabelAndShadow) {
    CUIImageButton button(SmallTemplate());
    button.SetColors(TestColors());
    ExpectPixels(button.GetImage(CUIImageButton::State::Pressed),
                 {
                     {{1, 1}, CUIColor(90, 60, 30), "the label moved away: body"},
                     {{2, 2}, CUIColor(10, 20, 30), "the label one pixel right and down"},
                     {{2, 1}, CUIColor(90, 60, 30), "body"},
                     {{1, 3}, CUIColor(200, 100, 50), "the shadow moved away"},
                     {{0, 2}, CUIColor(0, 0, 0), "the shadow one pixel left and up"},
                     {{0, 3}, CUIColor(200, 100, 50), "half shadow moved away too"},
                     {{3, 3}, CUIColor(144, 79, 39), "(127 background + 128 body) / 255, truncated"},
                 });
}

TEST(ImageButtonRender, DisabledLookHasNoShadow) {
    CUIImageButton button(SmallTemplate());
    button.SetColors(TestColors());
    ExpectPixels(button.GetImage(CUIImageButton::State::Disabled),
                 {
                     {{1, 1}, CUIColor(1, 2, 3), "label"},
                     {{2, 1}, CUIColor(120, 130, 140), "body"},
                     {{1, 3}, CUIColor(200, 100, 50), "shadow strength 0"},
                     {{0, 3}, CUIColor(200, 100, 50), "shadow strength 0"},
                     {{3, 3}, CUIColor(159, 115, 95), "half body"},
                 });
}

TEST(ImageButtonRender, DefaultColours) {
    CUIImageButton button(SmallTemplate());
    const CUIImageButton::Colors& c = button.GetColors();
    EXPECT_EQ(c.background, CUIColor(0xff, 0x00, 0xff));
    for (CUIColor text : {c.normalText, c.pressedText, c.disabledText})
        EXPECT_EQ(text, kWhite);
    for (CUIColor body : {c.normalBody, c.pressedBody, c.disabledBody})
        EXPECT_EQ(body, kBlack);
    const CUIImage& normal = button.GetImage(CUIImageButton::State::Normal);
    EXPECT_EQ(normal.GetPixel(0, 0), CUIColor(0xff, 0x00, 0xff));
    EXPECT_EQ(normal.GetPixel(1, 1), kWhite);
    EXPECT_EQ(normal.GetPixel(2, 1), kBlack);
}

TEST(ImageButtonRender, RendersAgainOnlyWhenSomethingChanged) {
    CUIImageButton button(SmallTemplate());
    button.GetImage(CUIImageButton::State::Normal);
    button.GetImage(CUIImageButton::State::Pressed);
    EXPECT_EQ(button.GetRenderCount(), 1);
    button.SetColors(button.GetColors());
    button.GetImage(CUIImageButton::State::Normal);
    EXPECT_EQ(button.GetRenderCount(), 1) << "the same colours again";
    CUIImageButton::Colors colors = button.GetColors();
    colors.pressedBody = kRed;
    button.SetColors(colors);
    EXPECT_EQ(button.GetImage(CUIImageButton::State::Pressed).GetPixel(2, 1), kRed);
    EXPECT_EQ(button.GetRenderCount(), 2);
    button.SetTemplate(CUIImage(2, 2));
    EXPECT_EQ(button.GetImage(CUIImageButton::State::Normal).Size(), (CUISize{2, 2}));
    EXPECT_EQ(button.GetRenderCount(), 3);
}

class CCountingCommand : public IUIButtonCommand {
public:
    bool IsEnabled() const override { return enabled; }
    void Execute() override {
        ++executed;
        if (then)
            then();
    }
    bool enabled = true;
    int executed = 0;
    std::function<void()> then;
};

TEST(ImageButtonHit, GreenAbove63OnTheTemplate) {
    CUIImageButton button(SmallTemplate());
    button.SetPosition({10, 20});
    EXPECT_TRUE(button.HitTest({11, 21}));
    EXPECT_TRUE(button.HitTest({13, 23})) << "half-covered body";
    EXPECT_TRUE(button.HitTest({13, 21})) << "green 64";
    EXPECT_FALSE(button.HitTest({10, 21})) << "green 63";
    EXPECT_FALSE(button.HitTest({11, 23})) << "shadow";
    EXPECT_FALSE(button.HitTest({10, 20})) << "margin";
    EXPECT_FALSE(button.HitTest({1, 1})) << "template coordinates are not window coordinates";
    EXPECT_FALSE(button.HitTest({14, 21})) << "outside the image";
    EXPECT_FALSE(CUIImageButton().HitTest({0, 0}));
}

TEST(ImageButtonMouse, ClickRunsTheCommandOnce) {
    CCountingCommand command;
    CUIImageButton button(SmallTemplate());
    button.SetCommand(&command);
    EXPECT_EQ(button.GetState(), CUIImageButton::State::Normal);
    EXPECT_TRUE(button.OnButtonDown({1, 1}, 0));
    EXPECT_TRUE(button.IsPressed());
    EXPECT_EQ(button.GetPressedButton(), 0);
    EXPECT_EQ(button.GetState(), CUIImageButton::State::Pressed);
    EXPECT_FALSE(button.OnButtonDown({2, 1}, 1)) << "already pressed";
    EXPECT_FALSE(button.OnButtonUp({2, 1}, 1)) << "not the button that pressed it";
    EXPECT_EQ(command.executed, 0);
    EXPECT_TRUE(button.OnButtonUp({2, 2}, 0));
    EXPECT_EQ(command.executed, 1);
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(button.GetPressedButton(), -1);
    EXPECT_FALSE(button.OnButtonUp({2, 2}, 0)) << "no press to end";
    EXPECT_EQ(command.executed, 1);
}

TEST(ImageButtonMouse, ReleaseOutsideTheBodyDoesNotRunTheCommand) {
    CCountingCommand command;
    CUIImageButton button(SmallTemplate());
    button.SetCommand(&command);
    ASSERT_TRUE(button.OnButtonDown({1, 1}, 0));
    EXPECT_TRUE(button.OnMouseMove({1, 3})) << "onto the shadow: the pressed look goes";
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(button.GetState(), CUIImageButton::State::Normal);
    EXPECT_FALSE(button.OnMouseMove({0, 3})) << "still off the body";
    EXPECT_TRUE(button.OnMouseMove({2, 2})) << "back on the body";
    EXPECT_TRUE(button.IsPressed());
    EXPECT_TRUE(button.OnMouseMove({1, 3}));
    EXPECT_TRUE(button.OnButtonUp({1, 3}, 0)) << "inside the image, on the shadow";
    EXPECT_EQ(command.executed, 0);
    EXPECT_EQ(button.GetPressedButton(), -1);
    EXPECT_FALSE(button.OnButtonDown({0, 0}, 0)) << "a press on the margin";
    EXPECT_FALSE(button.OnMouseMove({1, 1}));
}

TEST(ImageButtonMouse, DisabledCommandsAreNotRun) {
    CCountingCommand command;
    command.enabled = false;
    CUIImageButton button(SmallTemplate());
    button.SetCommand(&command);
    EXPECT_EQ(button.GetState(), CUIImageButton::State::Disabled);
    EXPECT_TRUE(button.OnButtonDown({1, 1}, 0));
    EXPECT_EQ(button.GetState(), CUIImageButton::State::Disabled);
    EXPECT_TRUE(button.OnButtonUp({1, 1}, 0));
    EXPECT_EQ(command.executed, 0);
    CUIImageButton orphan(SmallTemplate());
    EXPECT_EQ(orphan.GetState(), CUIImageButton::State::Disabled) << "no command";
}

TEST(ImageButtonMouse, TheCommandMayDestroyTheButton) {
    CCountingCommand command;
    auto button = std::make_unique<CUIImageButton>(SmallTemplate());
    button->SetCommand(&command);
    command.then = [&] { button.reset(); };
    ASSERT_TRUE(button->OnButtonDown({1, 1}, 0));
    CUIImageButton* raw = button.get();
    EXPECT_TRUE(raw->OnButtonUp({1, 1}, 0));
    EXPECT_EQ(command.executed, 1);
    EXPECT_EQ(button, nullptr);
}

TEST(ImageButtonDraw, DrawsItsLookAndKeepsItFromTheBackground) {
    CCountingCommand command;
    CUIImageButton button(SmallTemplate());
    button.SetColors(TestColors());
    button.SetCommand(&command);
    button.SetPosition({5, 6});
    CUIDrawable d = CUIDrawable::ForMemory(20, 20);
    button.Draw(*d);
    d->SetColor(kBlue);
    d->FillRect({0, 0, 20, 20});
    EXPECT_EQ(d->GetPixel({6, 7}), kWhite) << "label of the normal look";
    EXPECT_EQ(d->GetPixel({5, 6}), CUIColor(200, 100, 50));
    EXPECT_EQ(CountDiffering(d, {5, 6, 9, 10}, kBlue, {20, 20}, false), 0);

    button.OnButtonDown({6, 7}, 0);
    CUIDrawable e = CUIDrawable::ForMemory(20, 20);
    button.Draw(*e);
    EXPECT_EQ(e->GetPixel({7, 8}), CUIColor(10, 20, 30)) << "pressed label";
    command.enabled = false;
    CUIDrawable f = CUIDrawable::ForMemory(20, 20);
    button.Draw(*f);
    EXPECT_EQ(f->GetPixel({6, 7}), CUIColor(1, 2, 3)) << "disabled wins over pressed";
}

TEST(LinkImage, ShowsItsReadyMadeStates) {
    CUIImage stack(3, 6);
    stack.FillRect({0, 0, 3, 2}, kRed);
    stack.FillRect({0, 2, 3, 4}, kBlue);
    stack.FillRect({0, 4, 3, 6}, kBlack);
    CUILinkImage link = CUILinkImage::FromStack(stack, 3);
    EXPECT_EQ(link.GetSize(), (CUISize{3, 2}));
    CCountingCommand command;
    link.SetCommand(&command);
    link.SetPosition({4, 4});
    EXPECT_EQ(link.GetCurrentImage().GetPixel(0, 0), kRed);
    EXPECT_TRUE(link.HitTest({4, 4})) << "anywhere on the bitmap";
    EXPECT_FALSE(link.HitTest({7, 4}));
    EXPECT_TRUE(link.OnButtonDown({5, 5}, 0));
    EXPECT_EQ(link.GetCurrentImage().GetPixel(2, 1), kBlue);
    EXPECT_TRUE(link.OnMouseMove({9, 9}));
    EXPECT_EQ(link.GetCurrentImage().GetPixel(0, 0), kRed);
    EXPECT_TRUE(link.OnButtonUp({9, 9}, 0));
    EXPECT_EQ(command.executed, 0);
    link.OnButtonDown({4, 4}, 0);
    link.OnButtonUp({6, 5}, 0);
    EXPECT_EQ(command.executed, 1);
    command.enabled = false;
    EXPECT_EQ(link.GetCurrentImage().GetPixel(0, 0), kBlack);

    CUILinkImage two = CUILinkImage::FromStack(stack, 2);
    EXPECT_EQ(two.GetSize(), (CUISize{3, 3}));
    EXPECT_EQ(two.GetCurrentImage().GetPixel(0, 0), kRed) << "no command, no disabled look: normal";
}

} // namespace
