#include "ui/image_button.h"

#include "ui/drawable.h"

#include <algorithm>
#include <cstdint>

namespace {

// Green coverage above this is the body; the margin and the shadow do not react to the mouse.
constexpr uint8_t kHitGreen = 63;

constexpr int kFullShadow = 255;

// Template channels at a position, 0 outside.
uint8_t RedAt(const CUIImage& image, int x, int y) {
    return x < 0 || y < 0 || x >= image.Width() || y >= image.Height() ? 0 : image.GetPixel(x, y).Red();
}
uint8_t BlueAt(const CUIImage& image, int x, int y) {
    return x < 0 || y < 0 || x >= image.Width() || y >= image.Height() ? 0 : image.GetPixel(x, y).Blue();
}

// The formula in integers scaled by 255 per factor, so that truncation is exact: coverage products
// that are whole numbers in the formula stay whole here.
uint8_t Blend(uint64_t green, uint64_t label, uint64_t shadow, uint64_t strength, uint64_t background,
              uint64_t text, uint64_t body) {
    constexpr uint64_t k = 255;
    uint64_t outside = (k - green) * (k * k - shadow * strength) * background * k;
    uint64_t inside = green * ((k - label) * body + label * text) * k * k;
    return static_cast<uint8_t>((outside + inside) / (k * k * k * k));
}

} // namespace

bool CUIPushArea::OnButtonDown(CUIPoint point, int button) {
    if (m_pressedButton != -1 || !HitTest(point))
        return false;
    m_pressed = true;
    m_pressedButton = button;
    return true;
}

bool CUIPushArea::OnMouseMove(CUIPoint point) {
    if (m_pressedButton == -1)
        return false;
    bool over = HitTest(point);
    if (over == m_pressed)
        return false;
    m_pressed = over;
    return true;
}

bool CUIPushArea::OnButtonUp(CUIPoint point, int button) {
    if (m_pressedButton == -1 || button != m_pressedButton)
        return false;
    m_pressed = false;
    m_pressedButton = -1;
    IUIButtonCommand* command = HitTest(point) && IsEnabled() ? m_command : nullptr;
    if (command != nullptr)
        command->Execute();
    return true;
}

void CUIImageButton::SetTemplate(CUIImage templateImage) {
    m_template = std::move(templateImage);
    m_rerender = true;
}

void CUIImageButton::SetColors(const Colors& colors) {
    if (colors == m_colors)
        return;
    m_colors = colors;
    m_rerender = true;
}

CUIImage CUIImageButton::Render(const CUIImage& source, CUIColor background, CUIColor text, CUIColor body,
                                CUIPoint labelShift, CUIPoint shadowShift, int shadowStrength) {
    CUIImage out(source.Width(), source.Height());
    uint32_t bg = background.GetPacked();
    uint32_t fg = text.GetPacked();
    uint32_t face = body.GetPacked();
    auto strength = static_cast<uint64_t>(std::clamp(shadowStrength, 0, kFullShadow));
    for (int y = 0; y < source.Height(); ++y) {
        for (int x = 0; x < source.Width(); ++x) {
            uint64_t green = source.GetPixel(x, y).Green();
            // The label drawn `labelShift` away shows at (x, y) what the template holds shift back.
            uint64_t label = RedAt(source, x - labelShift.x, y - labelShift.y);
            uint64_t shadow = BlueAt(source, x - shadowShift.x, y - shadowShift.y);
            uint8_t channels[3];
            for (int c = 0; c < 3; ++c) {
                int bits = 8 * c;
                channels[c] = Blend(green, label, shadow, strength, (bg >> bits) & 0xff, (fg >> bits) & 0xff,
                                    (face >> bits) & 0xff);
            }
            out.SetPixel(x, y, CUIColor(channels[0], channels[1], channels[2]));
        }
    }
    return out;
}

void CUIImageButton::RenderAll() const {
    m_images.clear();
    if (m_template) {
        m_images.push_back(Render(*m_template, m_colors.background, m_colors.normalText, m_colors.normalBody,
                                  {}, {}, kFullShadow));
        // Pressed: the label one pixel right and down, the shadow one pixel left and up, under the body.
        m_images.push_back(Render(*m_template, m_colors.background, m_colors.pressedText,
                                  m_colors.pressedBody, {1, 1}, {-1, -1}, kFullShadow));
        m_images.push_back(Render(*m_template, m_colors.background, m_colors.disabledText,
                                  m_colors.disabledBody, {}, {}, 0));
    } else {
        m_images.assign(3, CUIImage(0, 0));
    }
    m_rerender = false;
    ++m_renderCount;
}

const CUIImage& CUIImageButton::GetImage(State state) const {
    if (m_rerender)
        RenderAll();
    return m_images[static_cast<size_t>(state)];
}

CUIImageButton::State CUIImageButton::GetState() const {
    if (!IsEnabled())
        return State::Disabled;
    return IsPressed() ? State::Pressed : State::Normal;
}

void CUIImageButton::Draw(CUIDrawableRep& drawable) const {
    drawable.DrawImage(m_position, GetImage(GetState()));
    drawable.ExcludeClip(GetRect());
}

bool CUIImageButton::HitTest(CUIPoint point) const {
    if (!m_template || !GetRect().Contains(point))
        return false;
    return m_template->GetPixel(point.x - m_position.x, point.y - m_position.y).Green() > kHitGreen;
}

CUILinkImage::CUILinkImage(CUIImage normal, CUIImage pressed, CUIImage disabled)
    : m_images{std::move(normal), std::move(pressed), std::move(disabled)} {}

CUILinkImage CUILinkImage::FromStack(const CUIImage& stack, int states) {
    if (states < 1)
        return {};
    int height = stack.Height() / states;
    auto part = [&](int index) {
        index = std::min(index, states - 1);
        CUIImage image(stack.Width(), height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < stack.Width(); ++x)
                image.SetPixel(x, y, stack.GetPixel(x, index * height + y));
        }
        return image;
    };
    CUIImage disabled = states >= 3 ? part(2) : part(0);
    return CUILinkImage(part(0), part(1), std::move(disabled));
}

const CUIImage& CUILinkImage::GetCurrentImage() const {
    if (!IsEnabled())
        return m_images[2];
    return IsPressed() ? m_images[1] : m_images[0];
}

void CUILinkImage::Draw(CUIDrawableRep& drawable) const {
    drawable.DrawImage(m_position, GetCurrentImage());
    drawable.ExcludeClip(GetRect());
}

bool CUILinkImage::HitTest(CUIPoint point) const {
    return GetRect().Contains(point);
}
