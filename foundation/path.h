// Path functions shared by the picture browser, the image properties and the upload specification's
// consumer: the parts of a path, a file's size and times, the current folder, shortcuts (".lnk" files)
// and the formatting of file times. Paths are narrow strings in which both "/" and "\" separate
// components.
#pragma once

#include <cstdint>
#include <string>

// The text after the last separator (the whole path when there is none).
std::string GetFileName(const std::string& path);
// The text before the last separator (empty when there is none).
std::string GetFolder(const std::string& path);

// Status values from the file system, symbolic links followed; 0 (or false) when the file cannot be
// examined. Times are seconds since 1970 (UTC, whatever the local zone).
uint64_t GetFileSize(const std::string& path);
int64_t GetFileTime(const std::string& path); // last modification
int64_t GetFileAccessTime(const std::string& path);
int64_t GetFileChangeTime(const std::string& path); // last change of the file's status
bool IsFolder(const std::string& path);

// The process's current folder; "" when it cannot be had.
std::string GetCurrentFolder();
// False when the folder cannot be made current.
bool SetCurrentFolder(const std::string& path);

// A path longer than four characters that ends in ".lnk" (any case) is replaced by the target of the
// shell link it names; any other path, and a link that does not resolve, is returned unchanged.
std::string ResolveShortcut(const std::string& path);
// Resolves a shortcut to a shortcut to its final target. A chain through more than kMaxShortcutChain
// links (links in a ring among them) does not resolve, and the path is returned unchanged.
constexpr int kMaxShortcutChain = 32;
std::string ResolveShortcuts(const std::string& path);

enum class TimeZone { Local, Utc };
// The largest text FormatTime makes; longer results give "".
constexpr size_t kMaxFormattedTime = 64 * 1024;
// Formats a time (seconds since 1970) with strftime, broken down in `zone`; "" when the time cannot be
// represented or the text would be too long.
std::string FormatTime(int64_t time, const std::string& format = "%c", TimeZone zone = TimeZone::Local);
