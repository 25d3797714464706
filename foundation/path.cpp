#include "foundation/path.h"

#include "foundation/trace.h"
#include "platform/file_system.h"
#include "platform/shell_link.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <vector>

namespace {

constexpr const char* kSeparators = "/\\";
constexpr size_t kInitialTimeBuffer = 100;

bool HasShortcutSuffix(const std::string& path) {
    static constexpr char kSuffix[] = ".lnk";
    constexpr size_t kLength = sizeof kSuffix - 1;
    if (path.size() <= kLength)
        return false;
    for (size_t i = 0; i < kLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(path[path.size() - kLength + i])) != kSuffix[i])
            return false;
    }
    return true;
}

} // namespace

std::string GetFileName(const std::string& path) {
    size_t last = path.find_last_of(kSeparators);
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string GetFolder(const std::string& path) {
    size_t last = path.find_last_of(kSeparators);
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

uint64_t GetFileSize(const std::string& path) {
    auto status = platform::GetFileStatus(path);
    return status ? status->size : 0;
}

int64_t GetFileTime(const std::string& path) {
    auto status = platform::GetFileStatus(path);
    return status ? status->modified : 0;
}

int64_t GetFileAccessTime(const std::string& path) {
    auto status = platform::GetFileStatus(path);
    return status ? status->accessed : 0;
}

int64_t GetFileChangeTime(const std::string& path) {
    auto status = platform::GetFileStatus(path);
    return status ? status->changed : 0;
}

bool IsFolder(const std::string& path) {
    auto status = platform::GetFileStatus(path);
    return status && status->isFolder;
}

std::string GetCurrentFolder() {
    return platform::GetCurrentFolder().value_or("");
}

bool SetCurrentFolder(const std::string& path) {
    return platform::SetCurrentFolder(path);
}

std::string ResolveShortcut(const std::string& path) {
    if (!HasShortcutSuffix(path))
        return path;
    auto target = platform::GetShellLinkTarget(path);
    if (!target || target->empty()) {
        Trace("file", 1, "shortcut %s does not resolve", path.c_str());
        return path;
    }
    return *target;
}

std::string ResolveShortcuts(const std::string& path) {
    std::string current = path;
    // One call more than the links it may pass, to see that the last target is no link.
    for (int step = 0; step <= kMaxShortcutChain; ++step) {
        std::string next = ResolveShortcut(current);
        if (next == current)
            return current;
        current = std::move(next);
    }
    Trace("file", 0, "shortcut %s leads through more than %d links", path.c_str(), kMaxShortcutChain);
    return path;
}

std::string FormatTime(int64_t time, const std::string& format, TimeZone zone) {
    std::tm parts{};
    if (!platform::BreakDownTime(time, zone == TimeZone::Utc, parts))
        return "";
    // strftime returns 0 both for "does not fit" and for an empty text. A character put after the format
    // makes every text non-empty, so 0 can only mean that the buffer is too small.
    std::string marked = format + "|";
    // Room for the largest text, the marker and the NUL.
    constexpr size_t kLargestBuffer = kMaxFormattedTime + 2;
    std::vector<char> buffer(kInitialTimeBuffer);
    for (;;) {
        size_t length = std::strftime(buffer.data(), buffer.size(), marked.c_str(), &parts);
        if (length != 0)
            return std::string(buffer.data(), length - 1);
        if (buffer.size() >= kLargestBuffer)
            return "";
        buffer.resize(std::min(buffer.size() * 2, kLargestBuffer));
    }
}
