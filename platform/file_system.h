// The file system as the layers above need it: opening files for the runtime library's buffered
// streams, 64-bit positions in them, a file's status values, the entries of a folder, the current
// folder and the breaking down of times.
//
// Paths and names are narrow text: UTF-8 on Linux, the ANSI code page on Windows. This layer alone
// converts them to what the system takes (as they are here; to UTF-16 on Windows), so nothing above
// hands narrow strings to std::filesystem, whose narrow encoding need not be ours.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

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

// Why a path could not be examined.
enum class PathProblem {
    Missing,      // nothing by that name, or a component of the path is not a folder
    Inaccessible, // there may be something, but it cannot be looked at (rights, an I/O error)
};

// Follows symbolic links (on Windows the status is the entry's own); nothing when the path cannot be
// examined, and then `problem` (optional) says why.
std::optional<FileStatus> GetFileStatus(const std::string& path, PathProblem* problem = nullptr);

// One entry of a folder. The status values are those of the entry's target when it is a symbolic
// link; a link whose target is gone is listed as a file of size 0 with the link's own time.
struct FolderEntry {
    std::string name; // the entry's own name, without the folder
    bool isFolder = false;
    uint64_t size = 0;
    int64_t modified = 0; // seconds since 1970 (UTC)
};

// The entries of a folder, without "." and "..", sorted by name (byte order); nothing when the folder
// cannot be listed, and then `problem` (optional) says why.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path, PathProblem* problem = nullptr);

// The process's current folder, nothing when it cannot be had.
std::optional<std::string> GetCurrentFolder();
bool SetCurrentFolder(const std::string& path);

// `path` made absolute against the current folder, with "." and ".." components and repeated
// separators taken out by their text alone (as the system's full-path function does; links are not
// followed, and ".." above the root stays at the root). Nothing when the path is empty or the current
// folder cannot be had.
std::optional<std::string> MakeAbsolutePath(const std::string& path);

// The absolute path of the file `path` names, with every symbolic link followed, so that two paths
// of one file compare equal. Nothing when the file does not exist or cannot be reached.
std::optional<std::string> ResolveLinks(const std::string& path);

// Breaks a time (seconds since 1970) down as UTC or as local time in the zone the environment names
// now (a change of TZ while running is seen). False when the time cannot be represented.
bool BreakDownTime(int64_t time, bool utc, std::tm& result);

} // namespace platform
