// Fonts through Pango: a logical font record becomes a font description that fontconfig resolves,
// substituting a face that is not installed.
#include "platform/font_pango.h"

#include <algorithm>
#include <array>
#include <gtk/gtk.h>
#include <pango/pangocairo.h>

namespace platform {
namespace {

// The height of a record that asks for the default (0), in pixels, when the desktop names none.
constexpr int kDefaultPixelHeight = 12;

// A context for measuring outside any drawing: the same resolution and font options as drawing,
// so that measured widths match drawn ones. One per thread, as Pango's font maps are.
PangoContext* MeasuringContext() {
    thread_local PangoContext* context = [] {
        PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
        ApplyFontOptions(c);
        return c;
    }();
    return context;
}

PangoLayout* MeasuringLayout() {
    thread_local PangoLayout* layout = pango_layout_new(MeasuringContext());
    return layout;
}

} // namespace

std::string ValidUtf8(std::string_view text) {
    std::string out(text);
    const char* end = nullptr;
    size_t at = 0;
    while (!g_utf8_validate(out.data() + at, static_cast<gssize>(out.size() - at), &end)) {
        at = static_cast<size_t>(end - out.data());
        out[at] = '?';
        ++at;
    }
    return out;
}

namespace {

class PangoFontImpl final : public Font {
public:
    explicit PangoFontImpl(PangoFontDescription* description) : m_description(description) {}
    ~PangoFontImpl() override { pango_font_description_free(m_description); }
    PangoFontImpl(const PangoFontImpl&) = delete;
    PangoFontImpl& operator=(const PangoFontImpl&) = delete;

    const PangoFontDescription* Description() const { return m_description; }

    TextMetrics GetMetrics() const override {
        if (m_metrics.height == 0) {
            PangoFontMetrics* metrics = pango_context_get_metrics(MeasuringContext(), m_description, nullptr);
            m_metrics.ascent = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics));
            m_metrics.descent = PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(metrics));
            m_metrics.height = m_metrics.ascent + m_metrics.descent;
            m_metrics.averageCharWidth = PANGO_PIXELS(pango_font_metrics_get_approximate_char_width(metrics));
            pango_font_metrics_unref(metrics);
        }
        return m_metrics;
    }

    std::string GetResolvedFamily() const override {
        PangoFont* font =
            pango_font_map_load_font(pango_cairo_font_map_get_default(), MeasuringContext(), m_description);
        if (font == nullptr)
            return {};
        PangoFontDescription* actual = pango_font_describe(font);
        std::string family =
            pango_font_description_get_family(actual) ? pango_font_description_get_family(actual) : "";
        pango_font_description_free(actual);
        g_object_unref(font);
        return family;
    }

    TextExtent MeasureText(std::string_view text) const override {
        PangoLayout* layout = Prepare(text);
        PangoRectangle logical;
        pango_layout_get_pixel_extents(layout, nullptr, &logical);
        return {logical.width, logical.height};
    }

    size_t FitText(std::string_view text, int width) const override {
        if (width <= 0 || text.empty())
            return 0;
        PangoLayout* layout = Prepare(text);
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        if (logical.width <= width * PANGO_SCALE)
            return text.size();
        // Walk the character boundaries; a boundary's x is the width of the text before it. Bytes
        // that are not valid UTF-8 count as one character each, as Pango shows them.
        size_t fit = 0;
        size_t index = 0;
        while (index < text.size()) {
            size_t next = index + 1;
            while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xc0) == 0x80)
                ++next;
            int end = 0;
            if (next >= text.size()) {
                end = logical.width;
            } else {
                PangoRectangle position;
                pango_layout_index_to_pos(layout, static_cast<int>(next), &position);
                end = position.x;
            }
            if (end > width * PANGO_SCALE)
                break;
            fit = next;
            index = next;
        }
        return fit;
    }

private:
    PangoLayout* Prepare(std::string_view text) const {
        PangoLayout* layout = MeasuringLayout();
        pango_layout_set_font_description(layout, m_description);
        std::string valid = ValidUtf8(text);
        pango_layout_set_text(layout, valid.data(), static_cast<int>(valid.size()));
        return layout;
    }

    PangoFontDescription* m_description;
    mutable TextMetrics m_metrics;
};

// The desktop's interface font ("Sans 10"), or nothing before a display is open.
PangoFontDescription* DesktopFont() {
    if (gdk_display_get_default() == nullptr)
        return nullptr;
    GtkSettings* settings = gtk_settings_get_default();
    if (settings == nullptr)
        return nullptr;
    gchar* name = nullptr;
    g_object_get(settings, "gtk-font-name", &name, nullptr);
    if (name == nullptr)
        return nullptr;
    PangoFontDescription* description = pango_font_description_from_string(name);
    g_free(name);
    // Sizes in points become pixels at the 96 pixels per inch that the toolkit lays out with.
    if (!pango_font_description_get_size_is_absolute(description))
        pango_font_description_set_absolute_size(description,
                                                 pango_font_description_get_size(description) * 96.0 / 72.0);
    return description;
}

PangoFontDescription* StockDescription(StockFont kind) {
    PangoFontDescription* description = DesktopFont();
    if (description == nullptr) {
        description = pango_font_description_from_string("Sans");
        pango_font_description_set_absolute_size(description, kDefaultPixelHeight * PANGO_SCALE);
    }
    if (kind == StockFont::AnsiFixed)
        pango_font_description_set_family(description, "Monospace");
    return description;
}

int DefaultAbsoluteSize() {
    static const int size = [] {
        PangoFontDescription* description = StockDescription(StockFont::DefaultGui);
        int s = pango_font_description_get_size(description);
        pango_font_description_free(description);
        return s;
    }();
    return size;
}

const char* GenericFamily(uint8_t pitchAndFamily) {
    switch (pitchAndFamily & kFamilyMask) {
    case kFamilyRoman:
        return "Serif";
    case kFamilyModern:
        return "Monospace";
    case kFamilySwiss:
        return "Sans";
    default:
        return (pitchAndFamily & kFixedPitch) ? "Monospace" : "Sans";
    }
}

} // namespace

void ApplyFontOptions(PangoContext* context) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(context, options);
    pango_cairo_context_set_resolution(context, 96);
    cairo_font_options_destroy(options);
}

Font::~Font() = default;

const PangoFontDescription* PangoDescriptionOf(const Font& font) {
    return static_cast<const PangoFontImpl&>(font).Description();
}

std::shared_ptr<const Font> CreateFont(const LogicalFont& record) {
    PangoFontDescription* description = pango_font_description_new();
    // The face first, then the generic family its pitch and family bits ask for, so that a face
    // that is not installed falls back within its kind.
    std::string families = record.faceName.empty()
                               ? GenericFamily(record.pitchAndFamily)
                               : record.faceName + "," + GenericFamily(record.pitchAndFamily);
    pango_font_description_set_family(description, families.c_str());
    int weight = record.weight == 0 ? 400 : std::clamp(record.weight, 100, 1000);
    pango_font_description_set_weight(description, static_cast<PangoWeight>(weight));
    pango_font_description_set_style(description, record.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    if (record.height < 0) {
        pango_font_description_set_absolute_size(description, -record.height * PANGO_SCALE);
    } else if (record.height > 0) {
        // A positive height is the whole cell, ascent and descent; the character height is less.
        pango_font_description_set_absolute_size(description, record.height * PANGO_SCALE * 0.8);
    } else {
        pango_font_description_set_absolute_size(description, DefaultAbsoluteSize());
    }
    PangoFont* font =
        pango_font_map_load_font(pango_cairo_font_map_get_default(), MeasuringContext(), description);
    if (font == nullptr) {
        pango_font_description_free(description);
        return nullptr;
    }
    g_object_unref(font);
    return std::make_shared<PangoFontImpl>(description);
}

std::shared_ptr<const Font> GetStockFont(StockFont kind) {
    // Made once per thread and kind; read again only by a program that restarts its interface.
    thread_local std::array<std::shared_ptr<const Font>, 4> fonts;
    auto& slot = fonts[static_cast<size_t>(kind)];
    if (!slot)
        slot = std::make_shared<PangoFontImpl>(StockDescription(kind));
    return slot;
}

} // namespace platform
