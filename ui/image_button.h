// Buttons drawn from bitmaps. CUIImageButton renders its three looks (normal, pressed, disabled) from
// a template whose channels hold coverages (green the body, red the label, blue the drop shadow) in
// the host page's button colours; CUILinkImage shows ready-made bitmaps. Both share the press logic
// of CUIPushArea, driven by the window that owns them with plain mouse calls; each call returns
// whether the button must be redrawn.
//
// Threads: the user-interface thread only.
#pragma once

#include "ui/button_command.h"
#include "ui/color.h"
#include "ui/geometry.h"
#include "ui/image.h"

#include <array>
#include <optional>
#include <vector>

class CUIDrawableRep;

class CUIPushArea {
public:
    virtual ~CUIPushArea() = default;

    // The command is borrowed; null leaves the button disabled.
    void SetCommand(IUIButtonCommand* command) { m_command = command; }
    IUIButtonCommand* GetCommand() const { return m_command; }
    bool IsEnabled() const { return m_command != nullptr && m_command->IsEnabled(); }

    // Window coordinates.
    virtual bool HitTest(CUIPoint point) const = 0;

    // A press on the button records which mouse button pressed it.
    bool OnButtonDown(CUIPoint point, int button);
    // While pressed, leaving and re-entering the button toggles the pressed look.
    bool OnMouseMove(CUIPoint point);
    // The pressing button's release ends the press and, still on the button and enabled, runs the
    // command (last: the command may destroy this object).
    bool OnButtonUp(CUIPoint point, int button);

    bool IsPressed() const { return m_pressed; }
    // The mouse button that holds the press, -1 when none does (the window keeps the mouse captured
    // while one does).
    int GetPressedButton() const { return m_pressedButton; }

private:
    IUIButtonCommand* m_command = nullptr;
    bool m_pressed = false;
    int m_pressedButton = -1;
};

class CUIImageButton : public CUIPushArea {
public:
    enum class State { Normal, Pressed, Disabled };

    struct Colors {
        CUIColor background{255, 0, 255};
        CUIColor normalText{255, 255, 255};
        CUIColor normalBody;
        CUIColor pressedText{255, 255, 255};
        CUIColor pressedBody;
        CUIColor disabledText{255, 255, 255};
        CUIColor disabledBody;

        friend bool operator==(const Colors&, const Colors&) = default;
    };

    CUIImageButton() = default;
    explicit CUIImageButton(CUIImage templateImage) : m_template(std::move(templateImage)) {}

    void SetTemplate(CUIImage templateImage);
    const std::optional<CUIImage>& GetTemplate() const { return m_template; }
    void SetColors(const Colors& colors);
    const Colors& GetColors() const { return m_colors; }

    void SetPosition(CUIPoint position) { m_position = position; }
    CUIPoint GetPosition() const { return m_position; }
    CUISize GetSize() const { return m_template ? m_template->Size() : CUISize{}; }
    CUIRect GetRect() const {
        return CUIRect::FromSize(m_position.x, m_position.y, GetSize().cx, GetSize().cy);
    }

    // The look for the state, rendered when the template or the colours changed since last time.
    const CUIImage& GetImage(State state) const;
    // The look the button shows now.
    State GetState() const;
    // Draws the current look, then takes its rectangle out of the clip region so that a background
    // painted afterwards leaves it alone.
    void Draw(CUIDrawableRep& drawable) const;

    // On the body: inside the template, where its green coverage is above 63.
    bool HitTest(CUIPoint point) const override;

    // How many times the looks were rendered.
    int GetRenderCount() const { return m_renderCount; }

    // One look: out = (1 - G)(1 - B' s) background + G ((1 - R') body + R' text) per channel,
    // truncated, with R' and B' read `labelShift` and `shadowShift` away (0 outside the template) and
    // the shadow strength s from 0 to 255.
    static CUIImage Render(const CUIImage& templateImage, CUIColor background, CUIColor text, CUIColor body,
                           CUIPoint labelShift, CUIPoint shadowShift, int shadowStrength);

private:
    void RenderAll() const;

    std::optional<CUIImage> m_template;
    Colors m_colors;
    CUIPoint m_position;
    mutable std::vector<CUIImage> m_images;
    mutable bool m_rerender = true;
    mutable int m_renderCount = 0;
};

class CUILinkImage : public CUIPushArea {
public:
    CUILinkImage() = default;
    // The looks for normal, pressed and disabled.
    CUILinkImage(CUIImage normal, CUIImage pressed, CUIImage disabled);
    // The looks stacked from top to bottom in one bitmap, `states` of them of equal height; a stack
    // of two has no disabled look of its own and shows the normal one.
    static CUILinkImage FromStack(const CUIImage& stack, int states);

    void SetPosition(CUIPoint position) { m_position = position; }
    CUIPoint GetPosition() const { return m_position; }
    CUISize GetSize() const { return m_images[0].Size(); }
    CUIRect GetRect() const {
        return CUIRect::FromSize(m_position.x, m_position.y, GetSize().cx, GetSize().cy);
    }

    const CUIImage& GetCurrentImage() const;
    void Draw(CUIDrawableRep& drawable) const;
    // Anywhere on the bitmap.
    bool HitTest(CUIPoint point) const override;

private:
    std::array<CUIImage, 3> m_images{CUIImage(0, 0), CUIImage(0, 0), CUIImage(0, 0)};
    CUIPoint m_position;
};
