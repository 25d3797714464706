#include "ui/drawable.h"

#include "foundation/trace.h"
#include "ui/image.h"

#include <string_view>

namespace {

constexpr const char* kTraceCategory = "ui";

constexpr const char* kClipOverflow = "CUIDrawableRep: clip stack overflow\n";
constexpr const char* kClipUnderflow = "CUIDrawableRep: clip stack underflow\n";
constexpr const char* kClipNotEmpty = "CUIDrawableRep: clip stack not empty\n";

// Text for the debugger's output. The trace line ends the text itself, so a final newline is not
// doubled.
void DebugOutput(std::string_view text) {
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    Trace(kTraceCategory, 0, "%.*s", static_cast<int>(text.size()), text.data());
}

constexpr unsigned kHorizontalAlign[CUIDrawableRep::kAlignCount] = {
    platform::kAlignLeft, platform::kAlignCenter, platform::kAlignRight};
constexpr unsigned kVerticalAlign[CUIDrawableRep::kAlignCount] = {
    platform::kAlignTop, platform::kAlignBaseline, platform::kAlignBottom};
constexpr platform::RasterOp kDrawingModes[CUIDrawableRep::kDrawingModeCount] = {
    platform::RasterOp::CopyPen, platform::RasterOp::XorPen, platform::RasterOp::Not};

constexpr unsigned kDirtyAll = CUIDrawableRep::kDirtyColor | CUIDrawableRep::kDirtyPattern |
                               CUIDrawableRep::kDirtyTexture | CUIDrawableRep::kDirtyFont |
                               CUIDrawableRep::kDirtyPalette;

size_t CountCharacters(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xc0) != 0x80)
            ++count;
    }
    return count;
}

} // namespace

std::optional<CUIClampedRect> ClampDeviceRect(const CUIRect& rect) {
    if (rect.IsEmpty() || rect.right < 0 || rect.bottom < 0 || rect.left >= kUIMaxCoordinate ||
        rect.top >= kUIMaxCoordinate)
        return std::nullopt;
    CUIClampedRect clamped{rect};
    if (rect.right > kUIMaxCoordinate) {
        clamped.rect.right = kUIMaxCoordinate;
        clamped.widthCut = true;
    }
    if (rect.bottom > kUIMaxCoordinate) {
        clamped.rect.bottom = kUIMaxCoordinate;
        clamped.heightCut = true;
    }
    return clamped;
}

CUIDrawableRep::CUIDrawableRep(std::unique_ptr<platform::DrawContext> target, CUIPoint origin,
                               std::function<void()> release)
    : m_target(std::move(target)), m_release(std::move(release)), m_origin(origin) {
    // The target saved its state on creation. Black text on a transparent background, left-top
    // alignment, the stock white brush and the system font until someone asks for more.
    m_target->SetTextColor(0);
    m_target->SetBackgroundColor(0);
    m_target->SetTextAlign(platform::kAlignLeft | platform::kAlignTop);
    m_target->SelectBrush(nullptr);
    m_target->SelectFont(nullptr);
    m_solidBrush = platform::CreateSolidBrush(0);
    m_paletteDevice = m_target->IsPaletteDevice();
}

CUIDrawableRep::~CUIDrawableRep() {
    if (m_clipDepth != 0) {
        DebugOutput(kClipNotEmpty);
        for (auto& slot : m_clipStack)
            slot.reset();
        m_clipDepth = 0;
    }
    m_target->SelectBrush(nullptr);
    m_target->SelectFont(nullptr);
    if (m_paletteSelected)
        m_target->SelectPalette(m_previousPalette);
    // Restores the target's state as it was at creation.
    m_target.reset();
    if (m_release)
        m_release();
}

void CUIDrawableRep::Release() {
    if (--m_refs == 0)
        delete this;
}

void CUIDrawableRep::SetColor(CUIColor color) {
    if (color == m_color && !color.IsSystem())
        return;
    m_color = color;
    m_dirty |= kDirtyColor;
}

void CUIDrawableRep::SetPattern(const uint8_t rows[8]) {
    std::copy(rows, rows + 8, m_pattern.begin());
    m_hasPattern = true;
    m_dirty |= kDirtyPattern;
}

void CUIDrawableRep::ClearPattern() {
    if (!m_hasPattern)
        return;
    m_hasPattern = false;
    m_dirty |= kDirtyPattern;
}

void CUIDrawableRep::SetTexture(const CUIImage& image) {
    m_texture = &image;
    m_dirty |= kDirtyTexture;
}

void CUIDrawableRep::ClearTexture() {
    if (m_texture == nullptr)
        return;
    m_texture = nullptr;
    m_dirty |= kDirtyTexture;
}

void CUIDrawableRep::SetFont(const CUIFont& font) {
    m_font = font;
    m_dirty |= kDirtyFont;
}

bool CUIDrawableRep::SetPalette(platform::NativePalette palette) {
    m_palette = palette;
    m_paletteChanged = false;
    m_dirty |= kDirtyPalette;
    Update(kDirtyPalette);
    return m_paletteChanged;
}

void CUIDrawableRep::SetTextAlign(int horizontal, int vertical) {
    if (horizontal < 0 || horizontal >= kAlignCount || vertical < 0 || vertical >= kAlignCount)
        return;
    m_target->SetTextAlign(kHorizontalAlign[horizontal] | kVerticalAlign[vertical]);
}

void CUIDrawableRep::SetDrawingMode(int mode) {
    if (mode < 0 || mode >= kDrawingModeCount)
        return;
    m_target->SetRasterOp(kDrawingModes[mode]);
}

void CUIDrawableRep::Update(unsigned needs) {
    unsigned todo = m_dirty & needs;
    if (todo == 0)
        return;
    if (todo & kDirtyColor) {
        uint32_t packed = m_color.GetPacked();
        m_target->SetTextColor(packed);
        m_target->SetBackgroundColor(packed);
        m_solidBrush = platform::CreateSolidBrush(packed);
        // The pattern's ink is the current colour.
        if (m_hasPattern) {
            m_dirty |= kDirtyPattern;
            todo |= kDirtyPattern & needs;
        }
    }
    if (todo & kDirtyFont)
        m_target->SelectFont(m_font.GetNative());
    if ((todo & kDirtyPalette) && m_paletteDevice && m_palette != nullptr) {
        platform::NativePalette previous = m_target->SelectPalette(m_palette);
        if (!m_paletteSelected) {
            m_previousPalette = previous;
            m_paletteSelected = true;
        }
        m_paletteChanged = m_target->RealizePalette();
    }
    if (todo & kDirtyPattern) {
        m_patternBrush =
            m_hasPattern ? platform::CreatePatternBrush(m_pattern.data(), m_color.GetPacked()) : nullptr;
    }
    if (todo & kDirtyTexture)
        m_textureBrush =
            m_texture != nullptr ? platform::CreateTextureBrush(m_texture->GetNative()) : nullptr;
    if (todo & (kDirtyPattern | kDirtyTexture)) {
        m_combinedBrush = m_hasPattern && m_texture != nullptr
                              ? platform::CreatePatternOnTextureBrush(m_pattern.data(), m_color.GetPacked(),
                                                                      m_texture->GetNative())
                              : nullptr;
    }
    m_dirty &= ~todo;
}

CUIDrawableRep::BrushKind CUIDrawableRep::WantedBrushKind() const {
    if (m_hasPattern && m_texture != nullptr)
        return BrushKind::PatternOnTexture;
    if (m_hasPattern)
        return BrushKind::Pattern;
    if (m_texture != nullptr)
        return BrushKind::Texture;
    return BrushKind::Solid;
}

void CUIDrawableRep::SelectFillBrush() {
    BrushKind kind = WantedBrushKind();
    const platform::Brush* brush = nullptr;
    switch (kind) {
    case BrushKind::Solid:
        brush = m_solidBrush.get();
        break;
    case BrushKind::Pattern:
        brush = m_patternBrush.get();
        break;
    case BrushKind::Texture:
        brush = m_textureBrush.get();
        break;
    case BrushKind::PatternOnTexture:
        brush = m_combinedBrush.get();
        break;
    case BrushKind::None:
        break;
    }
    if (brush == nullptr)
        kind = BrushKind::None;
    // A rebuilt brush is a new object even when its kind stayed.
    if (kind == m_selectedKind && brush == m_selectedBrush)
        return;
    m_target->SelectBrush(brush);
    m_selectedKind = kind;
    m_selectedBrush = brush;
}

void CUIDrawableRep::FillRect(const CUIRect& rect) {
    auto clamped = ClampDeviceRect(ToDevice(rect));
    if (!clamped)
        return;
    Update(kDirtyColor | kDirtyPattern | kDirtyTexture | kDirtyPalette);
    SelectFillBrush();
    m_target->FillRect(Native(clamped->rect));
}

void CUIDrawableRep::FrameRect(const CUIRect& rect) {
    auto clamped = ClampDeviceRect(ToDevice(rect));
    if (!clamped)
        return;
    Update(kDirtyColor | kDirtyPalette);
    const CUIRect& r = clamped->rect;
    if (r.Width() == 1) {
        m_target->FillOpaque(Native(r));
        return;
    }
    m_target->FillOpaque({r.left, r.top, r.right, r.top + 1});
    if (r.Height() == 1)
        return;
    m_target->FillOpaque({r.left, r.top + 1, r.left + 1, r.bottom});
    // An edge that the clamp cut off lies beyond the device; drawing it at the cut would show an
    // edge where the rectangle has none.
    if (!clamped->heightCut)
        m_target->FillOpaque({r.left + 1, r.bottom - 1, r.right, r.bottom});
    if (!clamped->widthCut)
        m_target->FillOpaque({r.right - 1, r.top + 1, r.right, r.bottom - (clamped->heightCut ? 0 : 1)});
}

void CUIDrawableRep::DrawImage(CUIPoint at, const CUIImage& image, const CUIImage* mask) {
    if (!ClampDeviceRect(ToDevice(CUIRect::FromSize(at.x, at.y, image.Width(), image.Height()))))
        return;
    Update(kDirtyPalette);
    CUIPoint device{at.x + m_origin.x, at.y + m_origin.y};
    const platform::NativeImage* nativeMask = nullptr;
    if (mask != nullptr)
        nativeMask = &mask->GetNative();
    m_target->DrawImage(device.x, device.y, image.GetNative(), nativeMask);
}

void CUIDrawableRep::DrawText(CUIPoint at, std::string_view text) {
    Update(kDirtyColor | kDirtyFont | kDirtyPalette);
    m_target->TextOut(at.x + m_origin.x, at.y + m_origin.y, text);
}

void CUIDrawableRep::DrawText(const CUIRect& rect, std::string_view text, unsigned format) {
    auto clamped = ClampDeviceRect(ToDevice(rect));
    if (!clamped)
        return;
    Update(kDirtyColor | kDirtyFont | kDirtyPalette);
    m_target->DrawText(Native(clamped->rect), text, format);
}

CUISize CUIDrawableRep::MeasureText(std::string_view text) {
    Update(kDirtyFont);
    platform::TextExtent extent = m_target->MeasureText(text);
    return {extent.width, extent.height};
}

platform::TextMetrics CUIDrawableRep::GetTextMetrics() {
    Update(kDirtyFont);
    return m_target->GetTextMetrics();
}

size_t CUIDrawableRep::FitBytes(std::string_view text, int width) {
    Update(kDirtyFont);
    return m_target->FitText(text, width);
}

int CUIDrawableRep::FitCharacters(std::string_view text, int width) {
    return static_cast<int>(CountCharacters(text.substr(0, FitBytes(text, width))));
}

void CUIDrawableRep::PushClip() {
    if (m_clipDepth == kClipStackDepth) {
        DebugOutput(kClipOverflow);
        return;
    }
    m_clipStack[m_clipDepth] = m_target->GetClip();
    ++m_clipDepth;
}

void CUIDrawableRep::PopClip() {
    if (m_clipDepth == 0) {
        DebugOutput(kClipUnderflow);
        return;
    }
    --m_clipDepth;
    m_target->SelectClip(m_clipStack[m_clipDepth]);
    m_clipStack[m_clipDepth].reset();
}

void CUIDrawableRep::IntersectClip(const CUIRect& rect) {
    auto clamped = ClampDeviceRect(ToDevice(rect));
    // A rectangle outside the device leaves nothing to draw in; skipping the intersection would
    // leave the whole clip open instead.
    m_target->IntersectClip(clamped ? Native(clamped->rect) : platform::DrawRect{});
}

void CUIDrawableRep::ExcludeClip(const CUIRect& rect) {
    auto clamped = ClampDeviceRect(ToDevice(rect));
    if (!clamped)
        return;
    m_target->ExcludeClip(Native(clamped->rect));
}

void CUIDrawableRep::ExcludeOutside(const CUIRect& rect) {
    CUIRect r = ToDevice(rect);
    constexpr int kFar = kUIMaxCoordinate;
    if (r.left > -kFar)
        m_target->ExcludeClip({-kFar, -kFar, std::min(r.left, kFar), kFar});
    if (r.right < kFar)
        m_target->ExcludeClip({std::max(r.right, -kFar), -kFar, kFar, kFar});
    if (r.top > -kFar)
        m_target->ExcludeClip({r.left, -kFar, r.right, std::min(r.top, kFar)});
    if (r.bottom < kFar)
        m_target->ExcludeClip({r.left, std::max(r.bottom, -kFar), r.right, kFar});
}

void CUIDrawableRep::ResetClip() {
    m_target->SelectClip(std::nullopt);
}

platform::NativeDC CUIDrawableRep::GetNativeDC() {
    Update(kDirtyAll);
    SelectFillBrush();
    return m_target->GetNative();
}

CUIColor CUIDrawableRep::GetPixel(CUIPoint at) {
    return CUIColor::FromPacked(m_target->GetPixel(at.x + m_origin.x, at.y + m_origin.y));
}

CUIDrawable::CUIDrawable(platform::NativeDC dc, CUIPoint origin, std::function<void()> release)
    : m_rep(new CUIDrawableRep(platform::DrawContext::FromNative(dc), origin, std::move(release))) {}

CUIDrawable::CUIDrawable(std::unique_ptr<platform::DrawContext> target, CUIPoint origin)
    : m_rep(new CUIDrawableRep(std::move(target), origin)) {}

CUIDrawable CUIDrawable::ForMemory(int width, int height) {
    // The surface lives as long as the context that draws on it.
    auto surface = std::shared_ptr<platform::NativeImage>(platform::CreateNativeImage(width, height));
    auto target = platform::DrawContext::FromImage(*surface);
    auto* rep = new CUIDrawableRep(std::move(target), {}, [surface] {});
    rep->SetColor(255, 255, 255);
    rep->FillRect({0, 0, width, height});
    rep->SetColor(0, 0, 0);
    return CUIDrawable(rep);
}

CUIDrawable::CUIDrawable(const CUIDrawable& other) : m_rep(other.m_rep) {
    m_rep->AddRef();
}

CUIDrawable& CUIDrawable::operator=(const CUIDrawable& other) {
    other.m_rep->AddRef();
    m_rep->Release();
    m_rep = other.m_rep;
    return *this;
}

CUIDrawable::~CUIDrawable() {
    m_rep->Release();
}
