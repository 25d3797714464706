#include "platform/shell_folders.h"
#include "platform/user_folders.h"

#include <cstdlib>
#include <fstream>
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>

namespace platform {
namespace {

std::string HomeFolder() {
    const char* home = getenv("HOME");
    return home != nullptr ? home : "";
}

std::optional<std::string> ReadUserDir(std::string_view key) {
    const std::string config = GetUserFolder(UserFolder::Config);
    if (config.empty())
        return std::nullopt;
    std::ifstream file(config + "/user-dirs.dirs");
    if (!file)
        return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return ParseUserDirsValue(text.str(), key, HomeFolder());
}

// Icons come from a theme of our own, as the file-type icons do, so that they look the same with or
// without a screen.
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

std::optional<std::string> ParseUserDirsValue(std::string_view text, std::string_view key,
                                              const std::string& home) {
    std::optional<std::string> found;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() == '#' || !line.starts_with(key) || line.size() <= key.size() ||
            line[key.size()] != '=')
            continue;
        std::string_view value = line.substr(key.size() + 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.remove_suffix(1);
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
            found.reset();
            continue;
        }
        value = value.substr(1, value.size() - 2);
        std::string path;
        if (value.starts_with("$HOME")) {
            if (home.empty() || (value.size() > 5 && value[5] != '/')) {
                found.reset();
                continue;
            }
            path = home + std::string(value.substr(5));
        } else if (value.starts_with("/")) {
            path = std::string(value);
        } else {
            found.reset();
            continue;
        }
        // The format's quoting: a backslash takes the next character as it is.
        std::string unquoted;
        for (size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '\\' && i + 1 < path.size())
                ++i;
            unquoted += path[i];
        }
        while (unquoted.size() > 1 && unquoted.back() == '/')
            unquoted.pop_back();
        found = std::move(unquoted); // the last assignment wins, as in the shell
    }
    return found;
}

std::optional<std::string> GetSpecialFolderPath(SpecialFolder folder) {
    std::optional<std::string> path;
    switch (folder) {
    case SpecialFolder::MyComputer:
        return std::string("/");
    case SpecialFolder::MyPictures:
        path = ReadUserDir("XDG_PICTURES_DIR");
        break;
    case SpecialFolder::MyDocuments:
        path = ReadUserDir("XDG_DOCUMENTS_DIR");
        break;
    case SpecialFolder::Desktop:
        path = ReadUserDir("XDG_DESKTOP_DIR");
        // The one directory the format gives a default to.
        if (!path && !HomeFolder().empty())
            path = HomeFolder() + "/Desktop";
        break;
    }
    if (!path || !IsShellFolder(*path))
        return std::nullopt;
    return path;
}

std::string GetShellDisplayName(const std::string& path) {
    std::string name;
    GFile* file = g_file_new_for_path(path.c_str());
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_DISPLAY_NAME, G_FILE_QUERY_INFO_NONE,
                                        nullptr, nullptr);
    if (info != nullptr) {
        const char* display = g_file_info_get_display_name(info);
        if (display != nullptr)
            name = display;
        g_object_unref(info);
    }
    if (name.empty()) {
        gchar* base = g_file_get_basename(file);
        if (base != nullptr)
            name = base;
        g_free(base);
    }
    g_object_unref(file);
    return name;
}

bool IsShellFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

namespace {

// Draws the icon (taken) or, when the theme lacks it, the named fallback.
bool DrawIcon(GIcon* icon, const char* fallback, int size, std::vector<uint32_t>& pixels) {
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

} // namespace

bool DrawShellIcon(const std::string& path, int size, std::vector<uint32_t>& pixels) {
    if (size <= 0)
        return false;
    const bool folder = IsShellFolder(path);
    GFile* file = g_file_new_for_path(path.c_str());
    GFileInfo* info =
        g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_ICON, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    g_object_unref(file);
    GIcon* icon = info != nullptr ? g_file_info_get_icon(info) : nullptr;
    if (icon != nullptr)
        g_object_ref(icon);
    if (info != nullptr)
        g_object_unref(info);
    if (icon == nullptr)
        icon = g_themed_icon_new(folder ? "folder" : "text-x-generic");
    return DrawIcon(icon, folder ? "folder" : "text-x-generic", size, pixels);
}

bool DrawNamedIcon(const std::string& iconName, int size, std::vector<uint32_t>& pixels) {
    if (size <= 0)
        return false;
    return DrawIcon(g_themed_icon_new(iconName.c_str()), "folder", size, pixels);
}

int GetScreenLogicalDpi() {
    GdkScreen* screen = gdk_screen_get_default();
    const double resolution = screen != nullptr ? gdk_screen_get_resolution(screen) : -1;
    return resolution > 0 ? static_cast<int>(resolution + 0.5) : 96;
}

} // namespace platform
