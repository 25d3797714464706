#include "platform/file_type_icon.h"
#include "platform/icon_theme_gtk.h"

#include <gio/gio.h>

namespace platform {

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

    // Every theme has the generic document.
    return DrawThemeIcon(icon, "text-x-generic", size, pixels);
}

} // namespace platform
