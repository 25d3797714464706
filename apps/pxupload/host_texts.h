// The texts that `pxupload upload` writes of its own, from the module's string table: the summary,
// the line of each finished picture, and the problems it reports. Counts choose the singular or the
// plural form.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// One text of the string table filled with %1, %2...; empty when the id is not there.
std::string HostText(uint32_t id, std::initializer_list<std::string_view> args = {});

namespace host_text {

constexpr uint32_t kUploading = 10200;       // "Uploading %1 to %2 over %3"
constexpr uint32_t kPicture = 10201;         // "%1 picture", 10202 the plural
constexpr uint32_t kConnection = 10203;      // "%1 connection", 10204 the plural
constexpr uint32_t kSecond = 10205;          // "%1 second", 10206 the plural
constexpr uint32_t kByte = 10207;            // "%1 byte", 10208 the plural
constexpr uint32_t kUploaded = 10209;        // "uploaded %1 (%2)"
constexpr uint32_t kFailed = 10210;          // "failed   %1: %2"
constexpr uint32_t kInterrupted = 10211;     // "Interrupted: pausing..."
constexpr uint32_t kSummary = 10212;         // "Uploaded %1 of %2 (%3) in %4."
constexpr uint32_t kFailedHeader = 10213;    // "%1 failed:"
constexpr uint32_t kFailedLine = 10214;      // "  %1: %2"
constexpr uint32_t kUnfinished = 10215;      // "%1 picture was not finished (paused).", 10216 the plural
constexpr uint32_t kPaused = 10217;          // "paused"
constexpr uint32_t kNoReason = 10218;        // "(no reason given)"
constexpr uint32_t kNoSuchFile = 10219;      // "%1: no such file"
constexpr uint32_t kNotAPicture = 10220;     // "%1: not a JPEG picture"
constexpr uint32_t kNoPictures = 10221;      // "%1: no JPEG pictures in this folder"
constexpr uint32_t kPathProblem = 10222;     // "%1: %2"
constexpr uint32_t kNothingToDo = 10223;     // "nothing to upload"
constexpr uint32_t kNotAdded = 10224;        // "the pictures could not be added"
constexpr uint32_t kStatsUnsent = 10225;     // "some statistics were not sent"
constexpr uint32_t kAuthFailed = 10226;      // "authorization failed: %1"
constexpr uint32_t kProxyAuthFailed = 10227; // "authorization failed at the proxy: %1"

} // namespace host_text

// A counted noun: `singular` holds the text for one, the id after it the text for any other count.
std::string CountedText(uint32_t singular, uint64_t count);
