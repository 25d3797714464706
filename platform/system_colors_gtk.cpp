#include "platform/system_colors.h"

#include <array>
#include <gtk/gtk.h>

namespace platform {
namespace {

constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return r | (g << 8) | (b << 16);
}

// The classic desktop colours: what a machine without a theme (or without a display) shows.
constexpr std::array<uint32_t, kSystemColorCount> kClassic = {
    Rgb(212, 208, 200), Rgb(58, 110, 165),  Rgb(10, 36, 106),   Rgb(128, 128, 128), Rgb(212, 208, 200),
    Rgb(255, 255, 255), Rgb(0, 0, 0),       Rgb(0, 0, 0),       Rgb(0, 0, 0),       Rgb(255, 255, 255),
    Rgb(212, 208, 200), Rgb(212, 208, 200), Rgb(128, 128, 128), Rgb(10, 36, 106),   Rgb(255, 255, 255),
    Rgb(212, 208, 200), Rgb(128, 128, 128), Rgb(128, 128, 128), Rgb(0, 0, 0),       Rgb(212, 208, 200),
    Rgb(255, 255, 255), Rgb(64, 64, 64),    Rgb(212, 208, 200), Rgb(0, 0, 0),       Rgb(255, 255, 225),
};

std::array<uint32_t, kSystemColorCount> g_colors = kClassic;
bool g_loaded = false;

uint32_t FromRgba(const GdkRGBA& c) {
    auto channel = [](double v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 1 ? 255 : v * 255 + 0.5); };
    return Rgb(channel(c.red), channel(c.green), channel(c.blue));
}

// A style context for a chain of CSS nodes ("window", "button", ...), the last one in the state.
GtkStyleContext* ContextFor(std::initializer_list<std::pair<GType, const char*>> nodes, GtkStateFlags state) {
    GtkWidgetPath* path = gtk_widget_path_new();
    for (auto [type, name] : nodes) {
        gtk_widget_path_append_type(path, type);
        gtk_widget_path_iter_set_object_name(path, -1, name);
    }
    // Top-level windows carry the class that themes give the window colours to.
    gtk_widget_path_iter_add_class(path, 0, GTK_STYLE_CLASS_BACKGROUND);
    gtk_widget_path_iter_set_state(path, -1, state);
    GtkStyleContext* context = gtk_style_context_new();
    gtk_style_context_set_path(context, path);
    gtk_style_context_set_state(context, state);
    gtk_widget_path_unref(path);
    return context;
}

// Takes the node's text and background colours; a background that the theme paints with an image
// (alpha 0) keeps the classic value.
void Take(GtkStyleContext* context, int textIndex, int backgroundIndex) {
    GtkStateFlags state = gtk_style_context_get_state(context);
    if (textIndex >= 0) {
        GdkRGBA color;
        gtk_style_context_get_color(context, state, &color);
        g_colors[textIndex] = FromRgba(color);
    }
    if (backgroundIndex >= 0) {
        GdkRGBA* color = nullptr;
        gtk_style_context_get(context, state, GTK_STYLE_PROPERTY_BACKGROUND_COLOR, &color, nullptr);
        if (color != nullptr && color->alpha > 0.5)
            g_colors[backgroundIndex] = FromRgba(*color);
        if (color != nullptr)
            gdk_rgba_free(color);
    }
    g_object_unref(context);
}

void Load() {
    g_colors = kClassic;
    g_loaded = true;
    // Without an open display there is no theme to read; the toolkit opens it before painting.
    if (gdk_display_get_default() == nullptr)
        return;
    Take(ContextFor({{GTK_TYPE_WINDOW, "window"}}, GTK_STATE_FLAG_NORMAL), kColorWindowText, kColorBtnFace);
    Take(ContextFor({{GTK_TYPE_WINDOW, "window"}, {GTK_TYPE_TEXT_VIEW, "textview"}, {G_TYPE_NONE, "text"}},
                    GTK_STATE_FLAG_NORMAL),
         -1, kColorWindow);
    Take(ContextFor({{GTK_TYPE_WINDOW, "window"}, {GTK_TYPE_BUTTON, "button"}}, GTK_STATE_FLAG_NORMAL),
         kColorBtnText, -1);
    Take(ContextFor({{GTK_TYPE_WINDOW, "window"}, {GTK_TYPE_LABEL, "label"}}, GTK_STATE_FLAG_INSENSITIVE),
         kColorGrayText, -1);
    Take(ContextFor({{GTK_TYPE_WINDOW, "window"},
                     {GTK_TYPE_TEXT_VIEW, "textview"},
                     {G_TYPE_NONE, "text"},
                     {G_TYPE_NONE, "selection"}},
                    GtkStateFlags(GTK_STATE_FLAG_SELECTED | GTK_STATE_FLAG_FOCUSED)),
         kColorHighlightText, kColorHighlight);
    g_colors[kColorMenu] = g_colors[kColorBtnFace];
    g_colors[kColorMenuText] = g_colors[kColorWindowText];
    g_colors[kColor3DLight] = g_colors[kColorBtnFace];
}

} // namespace

uint32_t GetSysColor(int index) {
    if (index < 0 || index >= kSystemColorCount)
        return 0;
    if (!g_loaded)
        Load();
    return g_colors[index];
}

void RefreshSystemColors() {
    g_loaded = false;
}

} // namespace platform
