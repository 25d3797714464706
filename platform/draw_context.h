// The native drawing layer under the toolkit's drawing contexts: a drawing target with a device
// context's operations (saved state, clip region, brushes, opaque strips, text, images), fonts made
// from logical font records, and 24-bit images in a form the target can draw. The toolkit keeps its
// own rules (lazy brushes, the clip stack, coordinate clamping) above this layer; the layer only does
// what each call names. Coordinates are device pixels.
//
// Threads: every object here belongs to the user-interface thread that made it.
#pragma once

#include "platform/native_handles.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Colours are packed as a native colour value: red in the low byte, green, then blue.
using ColorRef = uint32_t;

struct DrawRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const DrawRect&, const DrawRect&) = default;
};

// A clip region as a set of disjoint rectangles. "No clip region" is kept apart from this type
// (std::optional), as the device context keeps it.
class ClipRegion {
public:
    ClipRegion() = default;
    explicit ClipRegion(const DrawRect& rect);

    void Intersect(const DrawRect& rect);
    void Subtract(const DrawRect& rect);
    bool Contains(int x, int y) const;
    bool IsEmpty() const { return m_rects.empty(); }
    const std::vector<DrawRect>& Rects() const { return m_rects; }

    // Everything a device can address; excluding a rectangle while no region is set starts from it.
    static ClipRegion Everything();

private:
    std::vector<DrawRect> m_rects;
};

// The subset of a logical font record that fonts are made from.
struct LogicalFont {
    int height = 0; // negative: character height in pixels; 0: the default height
    int weight = 400;
    bool italic = false;
    uint8_t charSet = 1; // DEFAULT_CHARSET
    uint8_t pitchAndFamily = 0;
    std::string faceName;

    friend bool operator==(const LogicalFont&, const LogicalFont&) = default;
};

// Pitch and family bits.
constexpr uint8_t kFixedPitch = 0x01;
constexpr uint8_t kVariablePitch = 0x02;
constexpr uint8_t kFamilyRoman = 0x10;
constexpr uint8_t kFamilySwiss = 0x20;
constexpr uint8_t kFamilyModern = 0x30;
constexpr uint8_t kFamilyMask = 0xf0;

enum class StockFont { System, AnsiFixed, IconTitle, DefaultGui };

struct TextMetrics {
    int height = 0; // ascent + descent
    int ascent = 0;
    int descent = 0;
    int averageCharWidth = 0;
};

struct TextExtent {
    int width = 0;
    int height = 0;
};

// A realised font. Made by CreateFont or GetStockFont; shared by everyone who holds it.
class Font {
public:
    virtual ~Font();
    virtual TextMetrics GetMetrics() const = 0;
    // The family the font system picked for the record (after substitution of missing faces).
    virtual std::string GetResolvedFamily() const = 0;
    virtual TextExtent MeasureText(std::string_view text) const = 0;
    // The length in bytes of the longest prefix of whole UTF-8 characters no wider than width.
    virtual size_t FitText(std::string_view text, int width) const = 0;
};

// A font for the record; null when none can be made (a face that is not installed is substituted by
// the font system, which is not a failure).
std::shared_ptr<const Font> CreateFont(const LogicalFont& record);
std::shared_ptr<const Font> GetStockFont(StockFont kind);

// A 24-bit image the target can draw, updated from a bottom-up buffer of blue, green, red pixels
// whose rows are padded to a multiple of 4 bytes.
class NativeImage {
public:
    virtual ~NativeImage();
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void Update(const uint8_t* bottomUpPixels, size_t rowBytes) = 0;
};
std::unique_ptr<NativeImage> CreateNativeImage(int width, int height);

// A fill pattern. Brushes tile from the device's origin.
class Brush {
public:
    virtual ~Brush();
};
std::unique_ptr<Brush> CreateSolidBrush(ColorRef color);
// An 8x8 pattern, one byte per row, the leftmost pixel in the high bit: 0 bits take the colour and 1
// bits white, as a monochrome brush on a white background.
std::unique_ptr<Brush> CreatePatternBrush(const uint8_t rows[8], ColorRef color);
std::unique_ptr<Brush> CreateTextureBrush(const NativeImage& texture);
// The texture ANDed with the pattern brush above, both tiling from the device's origin: the pattern's
// 1 bits let the texture through, its 0 bits AND it with the colour.
std::unique_ptr<Brush> CreatePatternOnTextureBrush(const uint8_t rows[8], ColorRef color,
                                                   const NativeImage& texture);

// Text alignment flags at a reference point.
constexpr unsigned kAlignLeft = 0;
constexpr unsigned kAlignRight = 2;
constexpr unsigned kAlignCenter = 6;
constexpr unsigned kAlignTop = 0;
constexpr unsigned kAlignBottom = 8;
constexpr unsigned kAlignBaseline = 24;

// Formats of text in a rectangle.
constexpr unsigned kTextLeft = 0x0;
constexpr unsigned kTextCenter = 0x1;
constexpr unsigned kTextRight = 0x2;
constexpr unsigned kTextVCenter = 0x4;
constexpr unsigned kTextBottom = 0x8;
constexpr unsigned kTextWordBreak = 0x10;
constexpr unsigned kTextSingleLine = 0x20;
constexpr unsigned kTextNoClip = 0x100;

// Binary raster operations that fills obey.
enum class RasterOp { CopyPen, XorPen, Not };

using NativePalette = void*;

class DrawContext {
public:
    // Draws on a native drawing target that the caller keeps alive for the context's life. The
    // target's state at this call is restored when the context is destroyed.
    static std::unique_ptr<DrawContext> FromNative(NativeDC dc);
    // Draws on a 24-bit image (for memory drawing and tests).
    static std::unique_ptr<DrawContext> FromImage(NativeImage& image);

    virtual ~DrawContext();

    virtual NativeDC GetNative() = 0;
    // Pixel colour of an image target (tests); 0 for other targets.
    virtual ColorRef GetPixel(int x, int y) = 0;

    virtual std::optional<ClipRegion> GetClip() const = 0;
    virtual void SelectClip(const std::optional<ClipRegion>& region) = 0;
    virtual void IntersectClip(const DrawRect& rect) = 0;
    virtual void ExcludeClip(const DrawRect& rect) = 0;

    virtual bool IsPaletteDevice() const = 0;
    // Returns the palette that was selected; realising reports whether entries changed.
    virtual NativePalette SelectPalette(NativePalette palette) = 0;
    virtual bool RealizePalette() = 0;

    // The brush is borrowed until another is selected; null selects the stock white brush.
    virtual void SelectBrush(const Brush* brush) = 0;
    virtual void SetRasterOp(RasterOp op) = 0;
    virtual void SetTextColor(ColorRef color) = 0;
    virtual void SetBackgroundColor(ColorRef color) = 0;
    virtual void SetTextAlign(unsigned flags) = 0;
    // The font is borrowed until another is selected; null selects the stock system font.
    virtual void SelectFont(const Font* font) = 0;

    // Fills with the selected brush under the raster operation.
    virtual void FillRect(const DrawRect& rect) = 0;
    // Fills in the background colour, as an opaque text output without text does.
    virtual void FillOpaque(const DrawRect& rect) = 0;
    // Text in the text colour on a transparent background.
    virtual void TextOut(int x, int y, std::string_view text) = 0;
    virtual void DrawText(const DrawRect& rect, std::string_view text, unsigned format) = 0;
    virtual TextExtent MeasureText(std::string_view text) = 0;
    virtual size_t FitText(std::string_view text, int width) = 0;
    virtual TextMetrics GetTextMetrics() = 0;
    // Copies the image; with a mask, only where the mask is black (white keeps what was there).
    virtual void DrawImage(int x, int y, const NativeImage& image, const NativeImage* mask) = 0;
};

} // namespace platform
