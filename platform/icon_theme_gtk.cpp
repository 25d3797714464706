#include "platform/icon_theme_gtk.h"

#include <gtk/gtk.h>
#include <mutex>

namespace platform {
namespace {

// A theme of our own rather than the screen's, so that icons can be drawn off the GTK thread and
// without a display, and look the same either way; Adwaita is what the desktop shows by default,
// hicolor behind it.
std::mutex g_themeLock;

GtkIconTheme* ThemeLocked() {
    static GtkIconTheme* theme = [] {
        GtkIconTheme* made = gtk_icon_theme_new();
        gtk_icon_theme_set_custom_theme(made, "Adwaita");
        return made;
    }();
    return theme;
}

} // namespace

bool DrawThemeIcon(GIcon* icon, const char* fallback, int size, std::vector<uint32_t>& pixels) {
    GdkPixbuf* pixbuf = nullptr;
    {
        std::lock_guard lock(g_themeLock);
        GtkIconInfo* found =
            gtk_icon_theme_lookup_by_gicon(ThemeLocked(), icon, size, GTK_ICON_LOOKUP_FORCE_SIZE);
        if (found == nullptr)
            found = gtk_icon_theme_lookup_icon(ThemeLocked(), fallback, size, GTK_ICON_LOOKUP_FORCE_SIZE);
        if (found != nullptr) {
            pixbuf = gtk_icon_info_load_icon(found, nullptr);
            g_object_unref(found);
        }
    }
    g_object_unref(icon);
    if (pixbuf == nullptr)
        return false;

    // FORCE_SIZE may still leave one side short for a non-square icon: centre it.
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* bytes = gdk_pixbuf_read_pixels(pixbuf);
    pixels.assign(size_t(size) * size_t(size), 0);
    const int left = (size - width) / 2, top = (size - height) / 2;
    for (int y = 0; y < height; ++y) {
        const int ty = top + y;
        if (ty < 0 || ty >= size)
            continue;
        const guchar* in = bytes + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x, in += channels) {
            const int tx = left + x;
            if (tx < 0 || tx >= size)
                continue;
            const uint32_t a = alpha ? in[3] : 0xFF;
            pixels[size_t(ty) * size_t(size) + size_t(tx)] =
                a << 24 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
        }
    }
    g_object_unref(pixbuf);
    return true;
}

} // namespace platform
