// Shell link targets on Windows, where the link's own Windows paths are paths of this file system.
// Links are read by our own reader (shell_link.cpp) as on every system.

#include "platform/file_system.h"
#include "platform/shell_link.h"

#include <cctype>

namespace platform {
namespace {

bool Exists(const std::string& path) {
    return GetFileStatus(path).has_value();
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "X:\..." or "\\server\share\...": a path that names the same file from any current folder.
bool IsFullPath(const std::string& path) {
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        IsSeparator(path[2]))
        return true;
    return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// A relative path of the link against the folder that holds it; rooted and drive paths are not relative.
std::optional<std::string> MapRelative(const std::string& relative, const std::string& linkFolder) {
    if (relative.empty() || IsSeparator(relative.front()) || (relative.size() >= 2 && relative[1] == ':'))
        return std::nullopt;
    std::string folder = linkFolder;
    if (!folder.empty() && !IsSeparator(folder.back()))
        folder += '\\';
    return MakeAbsolutePath(folder + relative);
}

} // namespace

std::optional<std::string> MapShellLinkTarget(const ShellLink& link, const std::string& linkFolder) {
    for (const std::string& target : {link.GetLocalPath(), link.GetNetworkPath()}) {
        if (IsFullPath(target) && Exists(target))
            return target;
    }
    if (link.relativePath) {
        if (auto relative = MapRelative(*link.relativePath, linkFolder); relative && Exists(*relative))
            return relative;
    }
    return std::nullopt;
}

std::optional<std::string> GetShellLinkTarget(const std::string& linkPath) {
    auto link = ReadShellLink(linkPath);
    if (!link)
        return std::nullopt;
    std::optional<std::string> absolute = MakeAbsolutePath(linkPath);
    if (!absolute)
        return std::nullopt;
    size_t separator = absolute->find_last_of("\\/");
    if (separator == std::string::npos)
        return std::nullopt;
    return MapShellLinkTarget(*link, absolute->substr(0, separator));
}

} // namespace platform
