#include "platform/file_system.h"
#include "platform/shell_link.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace platform {
namespace {

std::string Slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool Exists(const std::string& path) {
    return GetFileStatus(path).has_value();
}

// A local target in Windows form as a path here, or nothing when it has no counterpart.
std::optional<std::string> MapAbsolute(const std::string& target) {
    if (!target.empty() && target.front() == '/')
        return target;
    // Windows programs run on this system through a compatibility layer see its root as drive Z:.
    if (target.size() >= 3 && std::toupper(static_cast<unsigned char>(target[0])) == 'Z' &&
        target[1] == ':' && (target[2] == '\\' || target[2] == '/'))
        return Slashes(target.substr(2));
    return std::nullopt;
}

// A relative path of the link against the folder that holds it; rooted and drive paths are not relative.
std::optional<std::string> MapRelative(const std::string& relative, const std::string& linkFolder) {
    if (relative.empty() || relative.front() == '\\' || relative.front() == '/' ||
        (relative.size() >= 2 && relative[1] == ':'))
        return std::nullopt;
    std::filesystem::path joined = std::filesystem::path(linkFolder) / Slashes(relative);
    return joined.lexically_normal().string();
}

// The real folder of the link file: a relative target is relative to where the link really lies, so a
// symbolic link to a link file resolves as the link itself does.
std::optional<std::string> RealFolderOf(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return std::nullopt;
    return std::filesystem::path(real.get()).parent_path().string();
}

} // namespace

std::optional<std::string> MapShellLinkTarget(const ShellLink& link, const std::string& linkFolder) {
    if (auto local = MapAbsolute(link.GetLocalPath()); local && Exists(*local))
        return local;
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
    auto folder = RealFolderOf(linkPath);
    if (!folder)
        return std::nullopt;
    return MapShellLinkTarget(*link, *folder);
}

} // namespace platform
