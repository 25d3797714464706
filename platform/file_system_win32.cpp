// The file system over the Win32 calls. Paths arrive in the ANSI code page; the runtime library's
// streams are opened through their UTF-16 form so that no second conversion of our own is involved,
// and everything else goes through the ANSI calls, which convert as the system does.

#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <io.h>
#include <time.h>
#include <windows.h>

namespace platform {
namespace {

// 100-nanosecond ticks from 1601 to 1970.
constexpr int64_t kTicksTo1970 = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

int64_t SecondsFromFileTime(const FILETIME& time) {
    int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    int64_t since1970 = ticks - kTicksTo1970;
    // Floor division, so that a time before 1970 does not round up towards it.
    int64_t seconds = since1970 / kTicksPerSecond;
    if (since1970 % kTicksPerSecond < 0)
        --seconds;
    return seconds;
}

uint64_t SizeOf(DWORD high, DWORD low) {
    return (static_cast<uint64_t>(high) << 32) | low;
}

std::wstring WideFromAnsi(const std::string& text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX))
        return std::wstring();
    int length = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return wide;
}

PathProblem ProblemFromError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY: // a component of the path is a file
        return PathProblem::Missing;
    default:
        return PathProblem::Inaccessible;
    }
}

void Report(PathProblem* problem, PathProblem what) {
    if (problem != nullptr)
        *problem = what;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The text of an ANSI call that fills a buffer and returns the length it needs when the buffer is
// too small; nothing when the call fails.
template <typename Call>
std::optional<std::string> GrowingBuffer(Call&& call) {
    std::string buffer(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = call(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(length + 1, '\0'); // the length with its NUL
    }
    return std::nullopt; // the answer kept growing under us
}

} // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
    std::wstring widePath = WideFromAnsi(path);
    if (widePath.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // "N": the descriptor is not inherited by the programs the process starts.
    std::wstring wideMode;
    for (const char* c = mode; *c != '\0'; ++c)
        wideMode += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    wideMode += L'N';
    return _wfopen(widePath.c_str(), wideMode.c_str());
}

bool SeekFile(std::FILE* file, int64_t position) {
    if (position < 0)
        return false;
    return _fseeki64(file, position, SEEK_SET) == 0;
}

bool SeekFileBy(std::FILE* file, int64_t distance) {
    // The runtime library would place the position before the start; refuse as POSIX does.
    __int64 current = _ftelli64(file);
    if (current < 0 || (distance < 0 && current + distance < 0))
        return false;
    return _fseeki64(file, distance, SEEK_CUR) == 0;
}

std::optional<int64_t> TellFile(std::FILE* file) {
    __int64 position = _ftelli64(file);
    if (position < 0)
        return std::nullopt;
    return static_cast<int64_t>(position);
}

std::optional<uint64_t> GetOpenFileLength(std::FILE* file) {
    __int64 length = _filelengthi64(_fileno(file));
    if (length < 0)
        return std::nullopt;
    return static_cast<uint64_t>(length);
}

std::optional<FileStatus> GetFileStatus(const std::string& path, PathProblem* problem) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        Report(problem, path.empty() ? PathProblem::Missing : ProblemFromError(::GetLastError()));
        return std::nullopt;
    }
    FileStatus status;
    status.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.size = status.isFolder ? 0 : SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    status.modified = SecondsFromFileTime(data.ftLastWriteTime);
    status.accessed = SecondsFromFileTime(data.ftLastAccessTime);
    status.changed = SecondsFromFileTime(data.ftCreationTime);
    return status;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path, PathProblem* problem) {
    if (path.empty()) {
        Report(problem, PathProblem::Missing);
        return std::nullopt;
    }
    std::string pattern = IsSeparator(path.back()) ? path + "*" : path + "\\*";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    std::vector<FolderEntry> entries;
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        // A folder with no entries at all (a drive's root has no "." and "..") matches nothing.
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return entries;
        Report(problem, ProblemFromError(error));
        return std::nullopt;
    }
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        FolderEntry entry;
        entry.name = std::move(name);
        entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.isFolder ? 0 : SizeOf(found.nFileSizeHigh, found.nFileSizeLow);
        entry.modified = SecondsFromFileTime(found.ftLastWriteTime);
        entries.push_back(std::move(entry));
    } while (FindNextFileA(search, &found));
    DWORD error = ::GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        Report(problem, PathProblem::Inaccessible);
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<std::string> GetCurrentFolder() {
    return GrowingBuffer([](DWORD size, char* buffer) { return GetCurrentDirectoryA(size, buffer); });
}

bool SetCurrentFolder(const std::string& path) {
    return !path.empty() && SetCurrentDirectoryA(path.c_str());
}

std::optional<std::string> MakeAbsolutePath(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    return GrowingBuffer(
        [&path](DWORD size, char* buffer) { return GetFullPathNameA(path.c_str(), size, buffer, nullptr); });
}

std::optional<std::string> ResolveLinks(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    // Opening the file follows every link on the way; FILE_FLAG_BACKUP_SEMANTICS lets a folder open.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<std::string> final = GrowingBuffer([file](DWORD size, char* buffer) {
        return GetFinalPathNameByHandleA(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    CloseHandle(file);
    if (!final)
        return std::nullopt;
    // The answer is in the long form: "\\?\C:\..." or "\\?\UNC\server\share\...".
    std::string result = *final;
    if (result.rfind("\\\\?\\UNC\\", 0) == 0)
        result = "\\\\" + result.substr(8);
    else if (result.rfind("\\\\?\\", 0) == 0)
        result = result.substr(4);
    return result;
}

// UTC by the calendar's arithmetic: the runtime library refuses times before 1970.
bool BreakDownUtc(int64_t time, std::tm& result) {
    constexpr int64_t kSecondsPerDay = 86400;
    int64_t days = time / kSecondsPerDay;
    int64_t seconds = time % kSecondsPerDay;
    if (seconds < 0) {
        seconds += kSecondsPerDay;
        --days;
    }
    // Days since 1970 to a civil date (proleptic Gregorian), eras of 400 years from 0000-03-01.
    int64_t shifted = days + 719468;
    int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    int64_t dayOfEra = shifted - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153; // from March
    int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    if (year - 1900 < INT_MIN || year - 1900 > INT_MAX)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    result = std::tm{};
    result.tm_year = static_cast<int>(year - 1900);
    result.tm_mon = static_cast<int>(month - 1);
    result.tm_mday = static_cast<int>(day);
    result.tm_hour = static_cast<int>(seconds / 3600);
    result.tm_min = static_cast<int>(seconds / 60 % 60);
    result.tm_sec = static_cast<int>(seconds % 60);
    result.tm_yday = kDaysBefore[month - 1] + static_cast<int>(day) - 1 + (leap && month > 2 ? 1 : 0);
    int64_t weekday = (days + 4) % 7; // 1970-01-01 was a Thursday
    result.tm_wday = static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
    return true;
}

bool BreakDownTime(int64_t time, bool utc, std::tm& result) {
    auto value = static_cast<__time64_t>(time);
    if (utc)
        return BreakDownUtc(time, result);
    // The runtime library reads TZ only when asked; _tzset makes a zone set while running count.
    _tzset();
    return _localtime64_s(&result, &value) == 0;
}

} // namespace platform
