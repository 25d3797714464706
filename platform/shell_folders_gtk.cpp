#include "platform/icon_theme_gtk.h"
#include "platform/shell_folders.h"
#include "platform/user_folders.h"

#include <cstdlib>
#include <fstream>
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <sstream>

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

} // namespace


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
    return DrawThemeIcon(icon, folder ? "folder" : "text-x-generic", size, pixels);
}

bool DrawNamedIcon(const std::string& iconName, int size, std::vector<uint32_t>& pixels) {
    if (size <= 0)
        return false;
    return DrawThemeIcon(g_themed_icon_new(iconName.c_str()), "folder", size, pixels);
}

int GetScreenLogicalDpi() {
    GdkScreen* screen = gdk_screen_get_default();
    const double resolution = screen != nullptr ? gdk_screen_get_resolution(screen) : -1;
    return resolution > 0 ? static_cast<int>(resolution + 0.5) : 96;
}

} // namespace platform
