// The drawing context that painting code receives: the current colour with its brushes (solid, 8x8
// pattern, texture, pattern on texture), the font, text alignment, drawing mode, palette, a clip stack
// of eight saved regions, and the window's coordinate transform. Native objects are rebuilt only when
// a drawing call needs them and their dirty flag is set. Every rectangle drawn or clipped is clamped
// to the coordinates a device context can address.
//
// CUIDrawableRep carries its own reference count; CUIDrawable is the handle that shares it. Both
// belong to the thread that made them, and a context made for a paint must be gone before the paint
// ends.
#pragma once

#include "platform/draw_context.h"
#include "ui/color.h"
#include "ui/font.h"
#include "ui/geometry.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

class CUIImage;

// Device coordinates stay below this.
constexpr int kUIMaxCoordinate = 16300;

struct CUIClampedRect {
    CUIRect rect;
    bool widthCut = false;
    bool heightCut = false;
};

// A device rectangle cut to end at kUIMaxCoordinate; nothing when it is empty, lies left of or above
// the origin, or starts at kUIMaxCoordinate or beyond.
std::optional<CUIClampedRect> ClampDeviceRect(const CUIRect& rect);

class CUIDrawableRep {
public:
    // Dirty flags: which native state must be rebuilt before the next call that needs it.
    static constexpr unsigned kDirtyColor = 0x01;
    static constexpr unsigned kDirtyPattern = 0x02;
    static constexpr unsigned kDirtyTexture = 0x04;
    static constexpr unsigned kDirtyFont = 0x10;
    static constexpr unsigned kDirtyPalette = 0x20;

    static constexpr int kClipStackDepth = 8;

    // Kinds of brush a fill selects.
    enum class BrushKind { None = 0, Solid = 1, Pattern = 2, Texture = 4, PatternOnTexture = 8 };

    // Horizontal alignments: left, centre, right; vertical: top, baseline, bottom.
    static constexpr int kAlignCount = 3;
    // Drawing modes: copy, exclusive or, invert.
    static constexpr int kDrawingModeCount = 3;

    // Takes the target; `release` (if any) runs after the target's state is restored, to give back a
    // window's drawing target.
    CUIDrawableRep(std::unique_ptr<platform::DrawContext> target, CUIPoint origin,
                   std::function<void()> release = {});
    ~CUIDrawableRep();
    CUIDrawableRep(const CUIDrawableRep&) = delete;
    CUIDrawableRep& operator=(const CUIDrawableRep&) = delete;

    void AddRef() { ++m_refs; }
    // Destroys this object when the last reference goes.
    void Release();

    // The window's transform: window pixels plus the origin are device pixels.
    void SetOrigin(CUIPoint origin) { m_origin = origin; }
    CUIPoint GetOrigin() const { return m_origin; }

    void SetColor(CUIColor color);
    void SetColor(uint8_t red, uint8_t green, uint8_t blue) { SetColor(CUIColor(red, green, blue)); }
    void SetPackedColor(uint32_t packed) { SetColor(CUIColor::FromPacked(packed)); }
    void SetSystemColor(int index) { SetColor(CUIColor::FromSystem(index)); }
    CUIColor GetColor() const { return m_color; }

    void SetPattern(const uint8_t rows[8]);
    void ClearPattern();
    // The image is borrowed: it must outlive its use here, until the texture is cleared or replaced.
    void SetTexture(const CUIImage& image);
    void ClearTexture();
    void SetFont(const CUIFont& font);
    void SetFont(int standardKind) { SetFont(CUIFont::FromStandard(standardKind)); }
    // Selects and realises the palette; true when realising changed entries (never on true-colour
    // devices).
    bool SetPalette(platform::NativePalette palette);

    // Indices into the alignment and drawing-mode tables; indices outside them are ignored.
    void SetTextAlign(int horizontal, int vertical);
    void SetDrawingMode(int mode);

    void FillRect(const CUIRect& rect);
    // One-pixel frame in the current colour.
    void FrameRect(const CUIRect& rect);
    // With a mask: the image shows where the mask is black.
    void DrawImage(CUIPoint at, const CUIImage& image, const CUIImage* mask = nullptr);
    void DrawText(CUIPoint at, std::string_view text);
    // Text in a rectangle with platform::kText* format flags; the caller shortens text that is too long.
    void DrawText(const CUIRect& rect, std::string_view text, unsigned format);
    CUISize MeasureText(std::string_view text);
    platform::TextMetrics GetTextMetrics();
    // How many whole UTF-8 characters of the text fit the width, and the bytes they take.
    int FitCharacters(std::string_view text, int width);
    size_t FitBytes(std::string_view text, int width);

    void PushClip();
    void PopClip();
    void IntersectClip(const CUIRect& rect);
    void ExcludeClip(const CUIRect& rect);
    void ExcludeOutside(const CUIRect& rect);
    void ResetClip();
    int GetClipDepth() const { return m_clipDepth; }

    // The native target with every piece of state brought up to date.
    platform::NativeDC GetNativeDC();

    // What a device pixel shows, for memory targets (window coordinates).
    CUIColor GetPixel(CUIPoint at);
    unsigned GetDirtyFlags() const { return m_dirty; }
    BrushKind GetSelectedBrushKind() const { return m_selectedKind; }

private:
    // Brings up to date the dirty state among `needs`, then clears those flags.
    void Update(unsigned needs);
    void SelectFillBrush();
    BrushKind WantedBrushKind() const;
    CUIRect ToDevice(const CUIRect& rect) const { return rect.Offset(m_origin.x, m_origin.y); }
    static platform::DrawRect Native(const CUIRect& rect) {
        return {rect.left, rect.top, rect.right, rect.bottom};
    }

    int m_refs = 1;
    std::unique_ptr<platform::DrawContext> m_target;
    std::function<void()> m_release;
    CUIPoint m_origin;

    CUIColor m_color;
    std::unique_ptr<platform::Brush> m_solidBrush;
    std::array<uint8_t, 8> m_pattern{};
    bool m_hasPattern = false;
    std::unique_ptr<platform::Brush> m_patternBrush;
    const CUIImage* m_texture = nullptr;
    std::unique_ptr<platform::Brush> m_textureBrush;
    std::unique_ptr<platform::Brush> m_combinedBrush;
    BrushKind m_selectedKind = BrushKind::None;
    const platform::Brush* m_selectedBrush = nullptr;

    CUIFont m_font;
    platform::NativePalette m_palette = nullptr;
    platform::NativePalette m_previousPalette = nullptr;
    bool m_paletteSelected = false;
    bool m_paletteDevice = false;
    bool m_paletteChanged = false;

    unsigned m_dirty = 0;

    // A slot records the region that was set, or that none was (nothing inside the optional).
    std::array<std::optional<platform::ClipRegion>, kClipStackDepth> m_clipStack;
    int m_clipDepth = 0;
};

// The handle painting code holds. Copies share one context; the last one destroys it.
class CUIDrawable {
public:
    // On a native drawing target (a paint's), in the coordinates of a window at `origin`.
    explicit CUIDrawable(platform::NativeDC dc, CUIPoint origin = {}, std::function<void()> release = {});
    // On a drawing target of the platform layer (a memory image's, for off-screen drawing).
    explicit CUIDrawable(std::unique_ptr<platform::DrawContext> target, CUIPoint origin = {});
    // On a memory surface of its own, white, for drawing off screen and in tests.
    static CUIDrawable ForMemory(int width, int height);

    CUIDrawable(const CUIDrawable& other);
    CUIDrawable& operator=(const CUIDrawable& other);
    ~CUIDrawable();

    CUIDrawableRep* operator->() const { return m_rep; }
    CUIDrawableRep& operator*() const { return *m_rep; }

private:
    explicit CUIDrawable(CUIDrawableRep* rep) : m_rep(rep) {}
    CUIDrawableRep* m_rep;
};
