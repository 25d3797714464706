#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

static_assert(sizeof(off_t) >= 8, "files of 4 GiB and more need 64-bit offsets");

// getcwd's buffer grows up to this; no real folder name comes near it.
constexpr size_t kMaxFolderName = 1024 * 1024;

FileStatus ToFileStatus(const struct stat& info) {
    FileStatus status;
    status.size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    status.modified = info.st_mtim.tv_sec;
    status.accessed = info.st_atim.tv_sec;
    status.changed = info.st_ctim.tv_sec;
    status.isFolder = S_ISDIR(info.st_mode);
    return status;
}

PathProblem ProblemFromErrno(int error) {
    return error == ENOENT || error == ENOTDIR ? PathProblem::Missing : PathProblem::Inaccessible;
}

void Report(PathProblem* problem, PathProblem what) {
    if (problem != nullptr)
        *problem = what;
}

} // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
    // "e" asks for O_CLOEXEC, so that a program started with xdg-open does not inherit the file.
    std::string withCloseOnExec = std::string(mode) + "e";
    std::FILE* file = std::fopen(path.c_str(), withCloseOnExec.c_str());
    if (file == nullptr)
        return nullptr;
    // Reading a folder opens here but not on Windows, where the callers' "not found" comes from.
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

bool SeekFile(std::FILE* file, int64_t position) {
    if (position < 0)
        return false;
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool SeekFileBy(std::FILE* file, int64_t distance) {
    return fseeko(file, static_cast<off_t>(distance), SEEK_CUR) == 0;
}

std::optional<int64_t> TellFile(std::FILE* file) {
    off_t position = ftello(file);
    if (position < 0)
        return std::nullopt;
    return static_cast<int64_t>(position);
}

std::optional<uint64_t> GetOpenFileLength(std::FILE* file) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(info.st_size);
}

std::optional<FileStatus> GetFileStatus(const std::string& path, PathProblem* problem) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        Report(problem, ProblemFromErrno(errno));
        return std::nullopt;
    }
    return ToFileStatus(info);
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path, PathProblem* problem) {
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(path.c_str()), &closedir);
    if (!folder) {
        Report(problem, ProblemFromErrno(errno));
        return std::nullopt;
    }
    std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(folder.get());
        if (entry == nullptr) {
            if (errno != 0) {
                Report(problem, PathProblem::Inaccessible);
                return std::nullopt;
            }
            break;
        }
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        FolderEntry listed;
        struct stat info;
        std::string full = prefix + name;
        if (stat(full.c_str(), &info) == 0 || lstat(full.c_str(), &info) == 0) {
            FileStatus status = ToFileStatus(info);
            listed.isFolder = status.isFolder;
            listed.size = S_ISLNK(info.st_mode) ? 0 : status.size;
            listed.modified = status.modified;
        }
        listed.name = std::move(name);
        entries.push_back(std::move(listed));
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<std::string> GetCurrentFolder() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() >= kMaxFolderName)
            return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

bool SetCurrentFolder(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

std::optional<std::string> ResolveLinks(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    return std::string(resolved.get());
}

std::optional<std::string> MakeAbsolutePath(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    std::string joined = path;
    if (path[0] != '/') {
        std::optional<std::string> current = GetCurrentFolder();
        if (!current)
            return std::nullopt;
        joined = *current + "/" + path;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string result;
    for (std::string_view part : parts)
        result.append("/").append(part);
    return result.empty() ? std::string("/") : result;
}

bool BreakDownTime(int64_t time, bool utc, std::tm& result) {
    auto value = static_cast<time_t>(time);
    if (static_cast<int64_t>(value) != time)
        return false;
    if (utc)
        return gmtime_r(&value, &result) != nullptr;
    // localtime_r need not look at TZ again; tzset makes a zone set while running count.
    tzset();
    return localtime_r(&value, &result) != nullptr;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + '/' + name;
}

std::optional<int64_t> JoinLocalTime(std::tm parts) {
    tzset();
    const time_t value = mktime(&parts);
    if (value == static_cast<time_t>(-1))
        return std::nullopt;
    return static_cast<int64_t>(value);
}

int64_t CurrentTimeSeconds() {
    return static_cast<int64_t>(time(nullptr));
}

} // namespace platform
