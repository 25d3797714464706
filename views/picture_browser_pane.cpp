#include "views/picture_browser_pane.h"

#include "platform/shell_folders.h"
#include "platform/window_system.h"

CPictureStackButton::CPictureStackButton(std::optional<CUIImage> stack, int states,
                                         std::function<void()> action)
    : m_stack(std::move(stack)), m_states(states > 0 ? states : 1), m_action(std::move(action)) {}

CUIRect CPictureStackButton::GetRect() const {
    if (!m_stack)
        return CUIRect::FromSize(m_at.x, m_at.y, 0, 0);
    return CUIRect::FromSize(m_at.x, m_at.y, m_stack->Width(), m_stack->Height() / m_states);
}

void CPictureStackButton::Draw(CUIDrawableRep& dc, bool hot, bool pressed) const {
    if (!m_visible || !m_stack)
        return;
    int look = 0;
    if (m_states >= 3)
        look = !m_enabled ? 2 : hot ? 1 : 0;
    else if (m_states == 2)
        look = m_enabled && hot && pressed ? 1 : 0;
    const CUIRect rect = GetRect();
    dc.PushClip();
    dc.IntersectClip(rect);
    dc.DrawImage({rect.left, rect.top - look * rect.Height()}, *m_stack);
    dc.PopClip();
}

CPictureStackButton* CPicturePane::ButtonAt(CUIPoint point) const {
    for (CPictureStackButton* button : m_buttons)
        if (button->HitTest(point) && button->IsEnabled())
            return button;
    return nullptr;
}

bool CPicturePane::HandleMessage(const ui::Message& message, ui::LResult&) {
    const CUIPoint point{ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)};
    switch (message.message) {
    case ui::kWmPaint: {
        const bool painted = PaintUpdate([this](CUIDrawableRep& dc, const CUIRect&) {
            if (m_paint)
                m_paint(dc, GetClientRect());
            for (CPictureStackButton* button : m_buttons)
                button->Draw(dc, button == m_hot, button == m_pressed);
        });
        if (painted)
            ++m_paintCount;
        return true;
    }
    case ui::kWmMouseMove: {
        CPictureStackButton* hot = ButtonAt(point);
        if (hot != m_hot) {
            m_hot = hot;
            Refresh();
        }
        return true;
    }
    case ui::kWmMouseLeft:
        if (m_hot != nullptr) {
            m_hot = nullptr;
            Refresh();
        }
        return true;
    case ui::kWmLButtonDown:
    case ui::kWmLButtonDblClk:
        m_lastPress = point;
        m_pressed = ButtonAt(point);
        if (m_pressed != nullptr) {
            SetCapture();
            Refresh();
        } else if (m_press && message.message == ui::kWmLButtonDown) {
            m_press(point); // last: the handler may run a popup
        }
        return true;
    case ui::kWmLButtonUp: {
        CPictureStackButton* pressed = m_pressed;
        m_pressed = nullptr;
        if (pressed == nullptr)
            return true;
        ReleaseCapture();
        Refresh();
        // Last: the action may end the dialog and destroy this pane.
        if (ButtonAt(point) == pressed)
            pressed->Run();
        return true;
    }
    default:
        return false;
    }
}

namespace {

CUIImage OnGround(const std::vector<uint32_t>& pixels, int size, CUIColor ground) {
    CUIImage image(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const uint32_t argb = pixels[size_t(y) * size_t(size) + size_t(x)];
            const uint32_t a = argb >> 24;
            auto blend = [&](uint32_t over, uint8_t under) {
                return static_cast<uint8_t>((over * a + under * (255 - a) + 127) / 255);
            };
            image.SetPixel(x, y,
                           CUIColor(blend((argb >> 16) & 0xFF, ground.Red()),
                                    blend((argb >> 8) & 0xFF, ground.Green()),
                                    blend(argb & 0xFF, ground.Blue())));
        }
    }
    image.MarkChanged();
    return image;
}

} // namespace

CUIImage MakeShellIconImage(const std::string& path, int size, CUIColor ground) {
    std::vector<uint32_t> pixels;
    if (!platform::DrawShellIcon(path, size, pixels))
        return CUIImage(0, 0);
    return OnGround(pixels, size, ground);
}

CUIImage MakeNamedIconImage(const std::string& iconName, int size, CUIColor ground) {
    std::vector<uint32_t> pixels;
    if (!platform::DrawNamedIcon(iconName, size, pixels))
        return CUIImage(0, 0);
    return OnGround(pixels, size, ground);
}
