#include "platform/file_system.h"
#include "platform/folder_tree.h"

namespace platform {

std::vector<std::string> ListSubFolders(const std::string& folder) {
    std::vector<std::string> names;
    std::optional<std::vector<FolderEntry>> entries = ListFolder(folder);
    if (!entries)
        return names;
    for (const FolderEntry& entry : *entries)
        if (entry.isFolder && !entry.name.starts_with('.'))
            names.push_back(entry.name);
    return names;
}

std::vector<std::string> GetFolderChain(const std::string& folder) {
    std::vector<std::string> chain{"/"};
    if (!folder.starts_with('/'))
        return chain;
    std::string path;
    size_t start = 1;
    while (start < folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        if (end > start) {
            path += '/';
            path.append(folder, start, end - start);
            chain.push_back(path);
        }
        start = end + 1;
    }
    return chain;
}

} // namespace platform
