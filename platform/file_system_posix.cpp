#include "platform/file_system.h"

#include <cerrno>
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

std::optional<FileStatus> GetFileStatus(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return ToFileStatus(info);
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

} // namespace platform
