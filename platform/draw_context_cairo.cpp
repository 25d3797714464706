// The drawing layer over cairo, with text through Pango (fonts in font_pango.cpp).
#include "platform/draw_context.h"
#include "platform/font_pango.h"

#include <algorithm>
#include <cairo.h>
#include <cstring>
#include <numeric>
#include <pango/pangocairo.h>

namespace platform {
namespace {

double Red(ColorRef c) {
    return (c & 0xff) / 255.0;
}
double Green(ColorRef c) {
    return ((c >> 8) & 0xff) / 255.0;
}
double Blue(ColorRef c) {
    return ((c >> 16) & 0xff) / 255.0;
}

// cairo's 24-bit pixels are native-endian 0x00RRGGBB words.
uint32_t ToCairoPixel(ColorRef c) {
    return ((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff);
}
ColorRef FromCairoPixel(uint32_t p) {
    return ((p >> 16) & 0xff) | (p & 0xff00) | ((p & 0xff) << 16);
}

class CairoImage final : public NativeImage {
public:
    CairoImage(int width, int height)
        : m_surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(width, 0), std::max(height, 0))) {
    }
    ~CairoImage() override {
        if (m_mask != nullptr)
            cairo_surface_destroy(m_mask);
        cairo_surface_destroy(m_surface);
    }
    CairoImage(const CairoImage&) = delete;
    CairoImage& operator=(const CairoImage&) = delete;

    int Width() const override { return cairo_image_surface_get_width(m_surface); }
    int Height() const override { return cairo_image_surface_get_height(m_surface); }

    void Update(const uint8_t* bottomUpPixels, size_t rowBytes) override {
        cairo_surface_flush(m_surface);
        int width = Width();
        int height = Height();
        unsigned char* data = cairo_image_surface_get_data(m_surface);
        int stride = cairo_image_surface_get_stride(m_surface);
        for (int y = 0; y < height; ++y) {
            const uint8_t* source = bottomUpPixels + size_t(height - 1 - y) * rowBytes;
            auto* target = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
            for (int x = 0; x < width; ++x, source += 3)
                target[x] = (uint32_t(source[2]) << 16) | (uint32_t(source[1]) << 8) | source[0];
        }
        cairo_surface_mark_dirty(m_surface);
        if (m_mask != nullptr) {
            cairo_surface_destroy(m_mask);
            m_mask = nullptr;
        }
    }

    cairo_surface_t* Surface() const { return m_surface; }

    // The image read as a mask: black opaque, white transparent, greys in between. Made once per
    // update, since thumbnails draw through the same mask on every paint.
    cairo_surface_t* AsMask() const {
        if (m_mask != nullptr)
            return m_mask;
        int width = Width();
        int height = Height();
        m_mask = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
        cairo_surface_flush(m_surface);
        const unsigned char* source = cairo_image_surface_get_data(m_surface);
        int sourceStride = cairo_image_surface_get_stride(m_surface);
        unsigned char* target = cairo_image_surface_get_data(m_mask);
        int targetStride = cairo_image_surface_get_stride(m_mask);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<const uint32_t*>(source + size_t(y) * sourceStride);
            for (int x = 0; x < width; ++x) {
                uint32_t p = row[x];
                unsigned light = (((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff)) / 3;
                target[size_t(y) * targetStride + x] = static_cast<unsigned char>(255 - light);
            }
        }
        cairo_surface_mark_dirty(m_mask);
        return m_mask;
    }

private:
    cairo_surface_t* m_surface;
    mutable cairo_surface_t* m_mask = nullptr;
};

class CairoBrush final : public Brush {
public:
    explicit CairoBrush(cairo_pattern_t* pattern) : m_pattern(pattern) {}
    ~CairoBrush() override { cairo_pattern_destroy(m_pattern); }
    CairoBrush(const CairoBrush&) = delete;
    CairoBrush& operator=(const CairoBrush&) = delete;

    cairo_pattern_t* Pattern() const { return m_pattern; }

private:
    cairo_pattern_t* m_pattern;
};

bool PatternBit(const uint8_t rows[8], int x, int y) {
    return (rows[y & 7] >> (7 - (x & 7))) & 1;
}

cairo_pattern_t* Tiled(cairo_surface_t* surface) {
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    return pattern;
}

// Below the context's own saved state there are two levels: the caller's state (restored at the end)
// and, above it, the level that holds the clip region, replaced whenever the region changes.
class CairoDrawContext final : public DrawContext {
public:
    CairoDrawContext(cairo_t* cr, bool owned) : m_cr(cr), m_owned(owned) {
        cairo_save(m_cr);
        cairo_save(m_cr);
        m_layout = pango_cairo_create_layout(m_cr);
        ApplyFontOptions(pango_layout_get_context(m_layout));
        pango_layout_context_changed(m_layout);
    }
    ~CairoDrawContext() override {
        g_object_unref(m_layout);
        cairo_restore(m_cr);
        cairo_restore(m_cr);
        if (m_owned)
            cairo_destroy(m_cr);
    }
    CairoDrawContext(const CairoDrawContext&) = delete;
    CairoDrawContext& operator=(const CairoDrawContext&) = delete;

    NativeDC GetNative() override { return m_cr; }

    ColorRef GetPixel(int x, int y) override {
        cairo_surface_t* surface = cairo_get_target(m_cr);
        if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE)
            return 0;
        cairo_surface_flush(surface);
        if (x < 0 || y < 0 || x >= cairo_image_surface_get_width(surface) ||
            y >= cairo_image_surface_get_height(surface))
            return 0;
        const unsigned char* data = cairo_image_surface_get_data(surface);
        int stride = cairo_image_surface_get_stride(surface);
        return FromCairoPixel(reinterpret_cast<const uint32_t*>(data + size_t(y) * stride)[x]);
    }

    std::optional<ClipRegion> GetClip() const override { return m_clip; }

    void SelectClip(const std::optional<ClipRegion>& region) override {
        m_clip = region;
        ApplyClip();
    }

    void IntersectClip(const DrawRect& rect) override {
        if (!m_clip)
            m_clip = ClipRegion(rect);
        else
            m_clip->Intersect(rect);
        ApplyClip();
    }

    void ExcludeClip(const DrawRect& rect) override {
        if (!m_clip)
            m_clip = ClipRegion::Everything();
        m_clip->Subtract(rect);
        ApplyClip();
    }

    // Image surfaces and windows are true-colour.
    bool IsPaletteDevice() const override { return false; }
    NativePalette SelectPalette(NativePalette palette) override {
        NativePalette previous = m_palette;
        m_palette = palette;
        return previous;
    }
    bool RealizePalette() override { return false; }

    void SelectBrush(const Brush* brush) override { m_brush = static_cast<const CairoBrush*>(brush); }
    void SetRasterOp(RasterOp op) override { m_op = op; }
    void SetTextColor(ColorRef color) override { m_textColor = color; }
    void SetBackgroundColor(ColorRef color) override { m_backgroundColor = color; }
    void SetTextAlign(unsigned flags) override { m_align = flags; }
    void SelectFont(const Font* font) override { m_font = font; }

    void FillRect(const DrawRect& rect) override {
        if (rect.IsEmpty())
            return;
        cairo_save(m_cr);
        if (m_op == RasterOp::Not) {
            cairo_set_source_rgb(m_cr, 1, 1, 1);
            cairo_set_operator(m_cr, CAIRO_OPERATOR_DIFFERENCE);
        } else {
            if (m_brush != nullptr)
                cairo_set_source(m_cr, m_brush->Pattern());
            else
                cairo_set_source_rgb(m_cr, 1, 1, 1);
            cairo_set_operator(m_cr,
                               m_op == RasterOp::XorPen ? CAIRO_OPERATOR_DIFFERENCE : CAIRO_OPERATOR_SOURCE);
        }
        cairo_rectangle(m_cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        cairo_fill(m_cr);
        cairo_restore(m_cr);
    }

    void FillOpaque(const DrawRect& rect) override {
        if (rect.IsEmpty())
            return;
        cairo_set_source_rgb(m_cr, Red(m_backgroundColor), Green(m_backgroundColor), Blue(m_backgroundColor));
        cairo_rectangle(m_cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        cairo_fill(m_cr);
    }

    void TextOut(int x, int y, std::string_view text) override {
        PrepareLayout(text, -1);
        PangoRectangle logical;
        pango_layout_get_pixel_extents(m_layout, nullptr, &logical);
        int baseline = pango_layout_get_baseline(m_layout) / PANGO_SCALE;
        double left = x;
        if ((m_align & kAlignCenter) == kAlignCenter)
            left = x - logical.width / 2.0;
        else if (m_align & kAlignRight)
            left = x - logical.width;
        double top = y;
        if ((m_align & kAlignBaseline) == kAlignBaseline)
            top = y - baseline;
        else if (m_align & kAlignBottom)
            top = y - logical.height;
        ShowLayout(left, top);
    }

    void DrawText(const DrawRect& rect, std::string_view text, unsigned format) override {
        int width = rect.right - rect.left;
        bool wrap = (format & kTextWordBreak) && !(format & kTextSingleLine);
        PrepareLayout(text, wrap ? width : -1);
        PangoRectangle logical;
        pango_layout_get_pixel_extents(m_layout, nullptr, &logical);
        double left = rect.left;
        if (format & kTextCenter)
            left = rect.left + (width - logical.width) / 2;
        else if (format & kTextRight)
            left = rect.right - logical.width;
        double top = rect.top;
        if (format & kTextSingleLine) {
            if (format & kTextVCenter)
                top = rect.top + (rect.bottom - rect.top - logical.height) / 2;
            else if (format & kTextBottom)
                top = rect.bottom - logical.height;
        }
        cairo_save(m_cr);
        if (!(format & kTextNoClip)) {
            cairo_rectangle(m_cr, rect.left, rect.top, width, rect.bottom - rect.top);
            cairo_clip(m_cr);
        }
        ShowLayout(left, top);
        cairo_restore(m_cr);
    }

    TextExtent MeasureText(std::string_view text) override { return CurrentFont().MeasureText(text); }
    size_t FitText(std::string_view text, int width) override { return CurrentFont().FitText(text, width); }
    TextMetrics GetTextMetrics() override { return CurrentFont().GetMetrics(); }

    void DrawImage(int x, int y, const NativeImage& image, const NativeImage* mask) override {
        const auto& source = static_cast<const CairoImage&>(image);
        cairo_save(m_cr);
        cairo_set_source_surface(m_cr, source.Surface(), x, y);
        cairo_pattern_set_filter(cairo_get_source(m_cr), CAIRO_FILTER_NEAREST);
        if (mask != nullptr) {
            cairo_rectangle(m_cr, x, y, image.Width(), image.Height());
            cairo_clip(m_cr);
            cairo_mask_surface(m_cr, static_cast<const CairoImage*>(mask)->AsMask(), x, y);
        } else {
            cairo_rectangle(m_cr, x, y, image.Width(), image.Height());
            cairo_fill(m_cr);
        }
        cairo_restore(m_cr);
    }

private:
    const Font& CurrentFont() const { return m_font != nullptr ? *m_font : *GetStockFont(StockFont::System); }

    void ApplyClip() {
        cairo_restore(m_cr);
        cairo_save(m_cr);
        if (!m_clip)
            return;
        cairo_new_path(m_cr);
        for (const DrawRect& r : m_clip->Rects())
            cairo_rectangle(m_cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
        // An empty path clips everything away, as an empty region does.
        cairo_clip(m_cr);
    }

    void PrepareLayout(std::string_view text, int wrapWidth) {
        pango_layout_set_font_description(m_layout, PangoDescriptionOf(CurrentFont()));
        std::string valid = ValidUtf8(text);
        pango_layout_set_text(m_layout, valid.data(), static_cast<int>(valid.size()));
        pango_layout_set_width(m_layout, wrapWidth < 0 ? -1 : wrapWidth * PANGO_SCALE);
        pango_layout_set_wrap(m_layout, PANGO_WRAP_WORD_CHAR);
    }

    void ShowLayout(double left, double top) {
        cairo_set_source_rgb(m_cr, Red(m_textColor), Green(m_textColor), Blue(m_textColor));
        cairo_move_to(m_cr, left, top);
        pango_cairo_show_layout(m_cr, m_layout);
        cairo_new_path(m_cr);
    }

    cairo_t* m_cr;
    bool m_owned;
    PangoLayout* m_layout = nullptr;
    std::optional<ClipRegion> m_clip;
    const CairoBrush* m_brush = nullptr;
    const Font* m_font = nullptr;
    RasterOp m_op = RasterOp::CopyPen;
    ColorRef m_textColor = 0;
    ColorRef m_backgroundColor = 0xffffff;
    unsigned m_align = 0;
    NativePalette m_palette = nullptr;
};

} // namespace

NativeImage::~NativeImage() = default;
Brush::~Brush() = default;
DrawContext::~DrawContext() = default;

std::unique_ptr<NativeImage> CreateNativeImage(int width, int height) {
    return std::make_unique<CairoImage>(width, height);
}

std::unique_ptr<Brush> CreateSolidBrush(ColorRef color) {
    return std::make_unique<CairoBrush>(cairo_pattern_create_rgb(Red(color), Green(color), Blue(color)));
}

std::unique_ptr<Brush> CreatePatternBrush(const uint8_t rows[8], ColorRef color) {
    cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 8);
    unsigned char* data = cairo_image_surface_get_data(tile);
    int stride = cairo_image_surface_get_stride(tile);
    for (int y = 0; y < 8; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
        for (int x = 0; x < 8; ++x)
            row[x] = PatternBit(rows, x, y) ? 0xffffff : ToCairoPixel(color);
    }
    cairo_surface_mark_dirty(tile);
    cairo_pattern_t* pattern = Tiled(tile);
    cairo_surface_destroy(tile);
    return std::make_unique<CairoBrush>(pattern);
}

std::unique_ptr<Brush> CreateTextureBrush(const NativeImage& texture) {
    return std::make_unique<CairoBrush>(Tiled(static_cast<const CairoImage&>(texture).Surface()));
}

std::unique_ptr<Brush> CreatePatternOnTextureBrush(const uint8_t rows[8], ColorRef color,
                                                   const NativeImage& texture) {
    cairo_surface_t* source = static_cast<const CairoImage&>(texture).Surface();
    int width = texture.Width();
    int height = texture.Height();
    if (width <= 0 || height <= 0)
        return CreatePatternBrush(rows, color);
    // The tile repeats both the texture and the pattern whole, so that neither is cut where the
    // other repeats.
    int tileWidth = std::lcm(width, 8);
    int tileHeight = std::lcm(height, 8);
    cairo_surface_flush(source);
    cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_RGB24, tileWidth, tileHeight);
    const unsigned char* in = cairo_image_surface_get_data(source);
    int inStride = cairo_image_surface_get_stride(source);
    unsigned char* out = cairo_image_surface_get_data(tile);
    int outStride = cairo_image_surface_get_stride(tile);
    uint32_t ink = ToCairoPixel(color);
    for (int y = 0; y < tileHeight; ++y) {
        auto* from = reinterpret_cast<const uint32_t*>(in + size_t(y % height) * inStride);
        auto* to = reinterpret_cast<uint32_t*>(out + size_t(y) * outStride);
        for (int x = 0; x < tileWidth; ++x)
            to[x] = from[x % width] & (PatternBit(rows, x, y) ? 0xffffffu : ink);
    }
    cairo_surface_mark_dirty(tile);
    cairo_pattern_t* pattern = Tiled(tile);
    cairo_surface_destroy(tile);
    return std::make_unique<CairoBrush>(pattern);
}

std::unique_ptr<DrawContext> DrawContext::FromNative(NativeDC dc) {
    return std::make_unique<CairoDrawContext>(static_cast<cairo_t*>(dc), false);
}

std::unique_ptr<DrawContext> DrawContext::FromImage(NativeImage& image) {
    return std::make_unique<CairoDrawContext>(cairo_create(static_cast<CairoImage&>(image).Surface()), true);
}

} // namespace platform
