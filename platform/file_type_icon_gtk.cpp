#include "platform/file_type_icon.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <mutex>

namespace platform {
namespace {

// A theme of our own rather than the screen's, so that icons can be drawn off the GTK thread and
// without a display; Adwaita is what the desktop shows by default, hicolor behind it.
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

std::string GetFileContentType(const std::string& path) {
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR))
        return "inode/directory";
    gboolean uncertain = FALSE;
    gchar* type = g_content_type_guess(path.c_str(), nullptr, 0, &uncertain);
    gchar* mime = type != nullptr ? g_content_type_get_mime_type(type) : nullptr;
    std::string result = mime != nullptr ? mime : "application/octet-stream";
    g_free(mime);
    g_free(type);
    return result;
}

bool DrawFileTypeIcon(const std::string& contentType, bool open, int size, std::vector<uint32_t>& pixels) {
    if (size <= 0)
        return false;
    gchar* type = g_content_type_from_mime_type(contentType.c_str());
    GIcon* icon = g_content_type_get_icon(type != nullptr ? type : contentType.c_str());
    g_free(type);
    if (open && contentType == "inode/directory" && G_IS_THEMED_ICON(icon))
        g_themed_icon_prepend_name(G_THEMED_ICON(icon), "folder-open");

    GdkPixbuf* pixbuf = nullptr;
    {
        std::lock_guard lock(g_themeLock);
        GtkIconInfo* info = gtk_icon_theme_lookup_by_gicon(ThemeLocked(), icon, size, GTK_ICON_LOOKUP_FORCE_SIZE);
        if (info == nullptr) {
            // Every theme has the generic document.
            info = gtk_icon_theme_lookup_icon(ThemeLocked(), "text-x-generic", size, GTK_ICON_LOOKUP_FORCE_SIZE);
        }
        if (info != nullptr) {
            pixbuf = gtk_icon_info_load_icon(info, nullptr);
            g_object_unref(info);
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
    const int left = (size - width) / 2;
    const int top = (size - height) / 2;
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
            pixels[size_t(ty) * size_t(size) + size_t(tx)] = a << 24 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
        }
    }
    g_object_unref(pixbuf);
    return true;
}

} // namespace platform
