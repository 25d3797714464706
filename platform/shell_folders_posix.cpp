#include "platform/shell_folders.h"

#include <sys/stat.h>

namespace platform {

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

bool IsShellFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace platform
