// A strip of the picture browser drawn by the toolkit: a background painted by its owner and buttons
// made of stacked bitmaps (normal, hover, disabled; or normal and pressed), lit while the pointer is
// over them. The toolbar, the hint and the bottom row are panes.
//
// Threads: the UI thread only.
#pragma once

#include "ui/drawable.h"
#include "ui/image.h"
#include "ui/window.h"

#include <functional>
#include <optional>
#include <vector>

class CPictureStackButton {
public:
    // `states` looks of equal height stacked top to bottom; with two, the second is the pressed look
    // and a disabled button shows the first.
    CPictureStackButton(std::optional<CUIImage> stack, int states, std::function<void()> action);

    void SetPosition(CUIPoint at) { m_at = at; }
    CUIRect GetRect() const;
    void SetEnabled(bool enabled) { m_enabled = enabled; }
    bool IsEnabled() const { return m_enabled; }
    void SetVisible(bool visible) { m_visible = visible; }
    bool IsVisible() const { return m_visible; }
    bool HitTest(CUIPoint point) const { return m_visible && GetRect().Contains(point); }

    void Draw(CUIDrawableRep& dc, bool hot, bool pressed) const;
    void Run() const {
        if (m_action)
            m_action();
    }

private:
    std::optional<CUIImage> m_stack;
    int m_states;
    std::function<void()> m_action;
    CUIPoint m_at;
    bool m_enabled = true;
    bool m_visible = true;
};

class CPicturePane : public CUIWindow {
public:
    using Painter = std::function<void(CUIDrawableRep& dc, const CUIRect& client)>;

    explicit CPicturePane(Painter paint = {}) : m_paint(std::move(paint)) {}

    // A press of the first button that meets no button goes here (a point in the pane).
    void SetPressHandler(std::function<void(CUIPoint)> press) { m_press = std::move(press); }
    // Borrowed: the buttons belong to the dialog and outlive the pane's window.
    void AddButton(CPictureStackButton& button) { m_buttons.push_back(&button); }
    // Redraws after a button changed state.
    void Refresh() {
        if (GetHandle() != nullptr)
            Invalidate();
    }

    // Where the first button was last pressed, in the pane.
    CUIPoint GetLastPress() const { return m_lastPress; }
    // How many times the pane was painted: once it has been, it is on the screen.
    int GetPaintCount() const { return m_paintCount; }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

private:
    CPictureStackButton* ButtonAt(CUIPoint point) const;

    Painter m_paint;
    std::function<void(CUIPoint)> m_press;
    std::vector<CPictureStackButton*> m_buttons;
    CPictureStackButton* m_hot = nullptr;
    CPictureStackButton* m_pressed = nullptr;
    int m_paintCount = 0;
    CUIPoint m_lastPress;
};

// A 32-bit icon of the theme laid on a solid ground: what the browser draws for folders and for
// pictures whose thumbnail is not ready. Empty (0 x 0) when the theme has none.
CUIImage MakeShellIconImage(const std::string& path, int size, CUIColor ground);
// The same for an icon of the theme by name.
CUIImage MakeNamedIconImage(const std::string& iconName, int size, CUIColor ground);
