// The file system as the foundation's file streams and path functions need it: opening files for the
// runtime library's buffered streams, 64-bit positions in them, a file's status values, the current
// folder and the breaking down of times. Paths are narrow (UTF-8 on Linux).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

namespace platform {

// Opens `path` with a standard mode ("rb", "rb+", "wb+"...). Folders are refused, as on Windows, and
// the descriptor is not inherited by programs that the process starts. Null when the file cannot be
// opened; the caller owns the result and closes it with fclose.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Absolute 64-bit positions in an open file. Seeking past the end is allowed (the next write fills
// the gap); a negative or unreachable position fails.
bool SeekFile(std::FILE* file, int64_t position);
// Moves by `distance` from the current position.
bool SeekFileBy(std::FILE* file, int64_t distance);
std::optional<int64_t> TellFile(std::FILE* file);
// The length of the file as the system sees it (buffered output not yet flushed is not counted).
std::optional<uint64_t> GetOpenFileLength(std::FILE* file);

// A file's status values. Times are seconds since 1970 (UTC).
struct FileStatus {
    uint64_t size = 0;
    int64_t modified = 0;
    int64_t accessed = 0;
    int64_t changed = 0; // the last change of the file's status (its creation time on Windows)
    bool isFolder = false;
};

// Follows symbolic links; nothing when the path cannot be examined.
std::optional<FileStatus> GetFileStatus(const std::string& path);

// The process's current folder, nothing when it cannot be had.
std::optional<std::string> GetCurrentFolder();
bool SetCurrentFolder(const std::string& path);

// Breaks a time (seconds since 1970) down as UTC or as local time in the zone the environment names
// now (a change of TZ while running is seen). False when the time cannot be represented.
bool BreakDownTime(int64_t time, bool utc, std::tm& result);

} // namespace platform
