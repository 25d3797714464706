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
constexpr uint32_t kUnlistable = 10281;      // "the folder cannot be read"
constexpr uint32_t kNotJpegContent = 10283;  // "%1: named as a JPEG picture, but its content is not one"
constexpr uint32_t kServerNotAHost = 10282;  // "the parameter Server takes HOST[:PORT] ..., not '%1': ..."
constexpr uint32_t kJournalUnusable = 10310; // "the journal of unfinished pictures cannot be used (%1): ..."
constexpr uint32_t kResuming = 10311;        // "going on with %1 of an earlier run"
constexpr uint32_t kNothingToResume = 10312; // "--resume: the journal holds no unfinished picture of this session"
constexpr uint32_t kRetrying = 10314;        // "retrying %1 in %2 s (attempt %3 of %4): %5"
constexpr uint32_t kRetrySyntax = 10315;     // "option --retry takes a number of attempts from 0 to 1000, not '%1'"
constexpr uint32_t kRateSyntax = 10316;      // "option --limit-rate takes bytes per second, such as 200K or 2M, not '%1'"
constexpr uint32_t kResumedGone = 10313;     // "%1: a picture of an earlier run, no longer there (...)"

// The program's usage, its usage errors and the listings of its other commands.
constexpr uint32_t kUnknownCommand = 10230;     // "unknown command '%1'"
constexpr uint32_t kOptionNeedsValue = 10231;   // "option %1 needs a value"
constexpr uint32_t kParamSyntax = 10232;        // "--param takes NAME=VALUE, not '%1'"
constexpr uint32_t kUnknownOption = 10233;      // "unknown option '%1'"
constexpr uint32_t kNoCommand = 10234;          // "no command given"
constexpr uint32_t kTryHelp = 10235;            // "Try 'pxupload --help'."
constexpr uint32_t kUnreadablePage = 10236;     // "can't read the page '%1'"
constexpr uint32_t kUnknownParameter = 10237;   // "unknown parameter '%1' %2; the parameters are: %3"
constexpr uint32_t kInParamOption = 10238;      // "in --param"
constexpr uint32_t kInPage = 10239;             // "in the page '%1'"
constexpr uint32_t kUploadNeedsServer = 10240;  // "upload needs the server: ..."
constexpr uint32_t kUploadNeedsPath = 10241;    // "upload needs at least one PATH"
constexpr uint32_t kPropertiesNeedPath = 10242; // "properties needs at least one PATH"
constexpr uint32_t kNotAnImage = 10243;         // "%1: not a picture"
constexpr uint32_t kPrefsSyntax = 10244;        // "prefs takes no arguments, 'set NAME VALUE' or ..."
constexpr uint32_t kUnknownPreference = 10245;  // "unknown preference '%1'; the preferences are: %2"
constexpr uint32_t kNotBoolean = 10246;         // "%1 takes \"true\" or \"false\""
constexpr uint32_t kBadProxyState = 10247;      // "proxyState takes \"system\", \"manual\" or \"none\""
constexpr uint32_t kBadNumber = 10248;          // "%1: the value is not a number in its range"
constexpr uint32_t kBadValue = 10249;           // "the value of %1 is not valid"
constexpr uint32_t kUsage = 10250;              // the --help text before the parameters' table
constexpr uint32_t kEmptyDefault = 10251;       // "(empty)"
constexpr uint32_t kSenderThreads = 10255;      // "Sender threads: %1"
constexpr uint32_t kTimeout = 10256;            // "Time-out: %1 s"
constexpr uint32_t kBaseURI = 10257;            // "Base URI: %1"
constexpr uint32_t kUserAgent = 10258;          // "User-Agent: %1"
constexpr uint32_t kPropertiesTitle = 10260;    // "%1 Properties"
constexpr uint32_t kFileSection = 10261;        // "File"
constexpr uint32_t kNameLine = 10262;           // "  Name:      %1"
constexpr uint32_t kLocationLine = 10263;       // "  Location:  %1"
constexpr uint32_t kSizeLine = 10264;           // "  Size:      %1"
constexpr uint32_t kModifiedLine = 10265;       // "  Modified:  %1"
constexpr uint32_t kImageSection = 10266;       // "Image"
constexpr uint32_t kTypeLine = 10267;           // "  Type:      %1"
constexpr uint32_t kColorsLine = 10268;         // "  Colors:    %1"
constexpr uint32_t kDateLine = 10269;           // "  Date:      %1"
constexpr uint32_t kDetailsSection = 10270;     // "Details"
constexpr uint32_t kPreferencesHeading = 10275; // "Preferences (HKEY_CURRENT_USER\\%1):"
constexpr uint32_t kDefaultMark = 10276;        // "  (default)"
constexpr uint32_t kRecentFolders = 10277;      // "Recent folders:"
constexpr uint32_t kNone = 10278;               // "(none)"
constexpr uint32_t kSystemProxy = 10279;        // "System proxy settings:"
constexpr uint32_t kDirect = 10280;             // "direct"

} // namespace host_text

// A counted noun: `singular` holds the text for one, the id after it the text for any other count.
std::string CountedText(uint32_t singular, uint64_t count);
