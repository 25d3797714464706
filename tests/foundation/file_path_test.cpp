#include "foundation/path.h"
#include "tests/foundation/file_test_folder.h"
#include "tests/platform/shell_link_writer.h"
#include "tests/support/scoped_time_zone.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

namespace {

#ifndef _WIN32
void SetTimes(const std::string& path, int64_t accessed, int64_t modified) {
    struct timespec times[2] = {{static_cast<time_t>(accessed), 0}, {static_cast<time_t>(modified), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
#endif

// A link whose target is the relative path `target` (with "\" as Windows writes it).
void LinkTo(const std::string& linkPath, const std::string& target) {
    testing_lnk::LinkSpec spec;
    spec.relativePath = target;
    testing_lnk::WriteShellLink(linkPath, spec);
}

} // namespace

TEST(PathParts, FileNameAndFolderSplitAtTheLastSeparatorOfEitherKind) {
    struct Case {
        std::string path, name, folder;
    } cases[] = {
        {"C:\\a\\b.jpg", "b.jpg", "C:\\a"},         // Windows separators
        {"a/b", "b", "a"},                          // POSIX separators
        {"b.jpg", "b.jpg", ""},                     // no separator: all name, no folder
        {"/home/u/p\\q.jpg", "q.jpg", "/home/u/p"}, // mixed: the last one of either kind counts
        {"C:\\a\\b/c", "c", "C:\\a\\b"},            // mixed the other way round
        {"dir/", "", "dir"},                        // a trailing separator leaves no name
        {"/a.jpg", "a.jpg", ""},                    // the text before a leading separator is empty
        {"", "", ""},                               // nothing at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFileName(c.path), c.name) << c.path;
        EXPECT_EQ(GetFolder(c.path), c.folder) << c.path;
    }
}

#ifndef _WIN32 // access and change times, and symbolic links, are set the Linux way
TEST(FileStatus, SizeAndTimesComeFromTheFileSystemOrAreZero) {
    CFileTestFolder folder;
    std::string path = folder.Put("a.jpg", "12345");
    SetTimes(path, 1000000000, 1234567890);
    EXPECT_EQ(GetFileSize(path), 5u);
    EXPECT_EQ(GetFileTime(path), 1234567890);
    EXPECT_EQ(GetFileAccessTime(path), 1000000000);
    EXPECT_GT(GetFileChangeTime(path), 1234567890); // set by utimensat itself, i.e. now
    EXPECT_FALSE(IsFolder(path));
    EXPECT_TRUE(IsFolder(folder.Path()));

    // Through a symbolic link the file's own values are seen.
    std::filesystem::create_symlink(path, folder / "link.jpg");
    EXPECT_EQ(GetFileSize(folder / "link.jpg"), 5u);
    EXPECT_EQ(GetFileTime(folder / "link.jpg"), 1234567890);

    // What cannot be examined gives 0: a missing file, a dangling link, a path through a file.
    for (const std::string& bad : {folder / "missing.jpg", folder / "a.jpg/x", std::string()}) {
        EXPECT_EQ(GetFileSize(bad), 0u) << bad;
        EXPECT_EQ(GetFileTime(bad), 0) << bad;
        EXPECT_EQ(GetFileAccessTime(bad), 0) << bad;
        EXPECT_EQ(GetFileChangeTime(bad), 0) << bad;
        EXPECT_FALSE(IsFolder(bad)) << bad;
    }
    std::filesystem::create_symlink(folder / "missing.jpg", folder / "dangling.jpg");
    EXPECT_EQ(GetFileSize(folder / "dangling.jpg"), 0u);
}
#endif

TEST(FileStatus, FileTimeIsTheSameInEveryLocalTimeZone) {
    CFileTestFolder folder;
    std::string path = folder.Put("a.jpg", "x");
    // A summer time in the zones that have one.
    ASSERT_TRUE(testsupport::SetModificationTime(path, 1690000000));
    for (const char* zone : {"UTC0", "JST-9", "EST5EDT,M3.2.0,M11.1.0", "<-0330>3:30", "<+1345>-13:45"}) {
        ScopedTimeZone scoped(zone);
        EXPECT_EQ(GetFileTime(path), 1690000000) << zone;
    }
}

// Modification times past the ends of signed and unsigned 32-bit seconds come back whole and read
// as their dates, where a 32-bit time would wrap to 1901 or 1970.
TEST(FileStatus, TimesPast2038ComeBackWholeAndReadAsTheirDates) {
    CFileTestFolder folder;
    std::string path = folder.Put("late.jpg", "x");
    struct Case {
        int64_t time;
        const char* utc;
        const char* tokyo;
    } cases[] = {
        {2147483647, "2038-01-19 03:14:07", "2038-01-19 12:14:07"},
        {2147483648, "2038-01-19 03:14:08", "2038-01-19 12:14:08"},
        {4102444800, "2100-01-01 00:00:00", "2100-01-01 09:00:00"},
        {4294967296, "2106-02-07 06:28:16", "2106-02-07 15:28:16"},
    };
    ScopedTimeZone scoped("JST-9");
    for (const auto& c : cases) {
        ASSERT_TRUE(testsupport::SetModificationTime(path, c.time)) << c.time;
        EXPECT_EQ(GetFileTime(path), c.time);
        EXPECT_EQ(FormatTime(GetFileTime(path), "%Y-%m-%d %H:%M:%S", TimeZone::Utc), c.utc);
        EXPECT_EQ(FormatTime(GetFileTime(path), "%Y-%m-%d %H:%M:%S", TimeZone::Local), c.tokyo);
    }
}

TEST(FormatTime, FormatsInUtcOrInTheCurrentLocalZone) {
    constexpr int64_t kSummer = 1690000000; // 2023-07-22 04:26:40 UTC
    constexpr int64_t kWinter = 1700000000; // 2023-11-14 22:13:20 UTC
    const std::string kIso = "%Y-%m-%d %H:%M:%S";
    struct Case {
        const char* zone;
        int64_t time;
        TimeZone in;
        std::string text;
    } cases[] = {
        // UTC ignores the local zone.
        {"JST-9", kWinter, TimeZone::Utc, "2023-11-14 22:13:20"},
        // Local time east of Greenwich, across midnight.
        {"JST-9", kWinter, TimeZone::Local, "2023-11-15 07:13:20"},
#ifndef _WIN32
        // West of Greenwich with summer time, in summer and in winter.
        {"EST5EDT,M3.2.0,M11.1.0", kSummer, TimeZone::Local, "2023-07-22 00:26:40"},
        {"EST5EDT,M3.2.0,M11.1.0", kWinter, TimeZone::Local, "2023-11-14 17:13:20"},
        // Zones with half and three-quarter hours.
        {"<-0330>3:30", kWinter, TimeZone::Local, "2023-11-14 18:43:20"},
        {"<+1345>-13:45", kWinter, TimeZone::Local, "2023-11-15 11:58:20"},
#else
        // The C runtime reads "XXX[+|-]hh[:mm]" and a summer name, which follows the US rules.
        {"EST5EDT", kWinter, TimeZone::Local, "2023-11-14 17:13:20"},
        {"NST3:30", kWinter, TimeZone::Local, "2023-11-14 18:43:20"},
        {"CHA-13:45", kWinter, TimeZone::Local, "2023-11-15 11:58:20"},
#endif
    };
    for (const auto& c : cases) {
        ScopedTimeZone scoped(c.zone);
        EXPECT_EQ(FormatTime(c.time, kIso, c.in), c.text) << c.zone;
    }
#ifndef _WIN32
    ScopedTimeZone scoped("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(FormatTime(kSummer, "%Z"), "EDT");
    EXPECT_EQ(FormatTime(kWinter, "%Z"), "EST");
#else
    // Summer time as the runtime itself reckons it: Wine drops the summer rules of a TZ set after
    // the system's zone was read once, and keeps two letters of the names.
    ScopedTimeZone scoped("EST5EDT");
    std::tm summer{};
    const __time64_t summerValue = kSummer;
    ASSERT_EQ(_localtime64_s(&summer, &summerValue), 0);
    EXPECT_EQ(FormatTime(kSummer, kIso), summer.tm_isdst > 0 ? "2023-07-22 00:26:40" : "2023-07-21 23:26:40");
    EXPECT_EQ(FormatTime(kSummer, "%Z"), _tzname[summer.tm_isdst > 0 ? 1 : 0]);
    EXPECT_EQ(FormatTime(kWinter, "%Z"), _tzname[0]);
    EXPECT_EQ(std::string(_tzname[0]).substr(0, 2), "ES");
#endif
}

TEST(FormatTime, DefaultFormatAndBufferEdges) {
    ScopedTimeZone scoped("UTC0");
    // The default format is "%c" (the C locale's form here) in local time.
#ifndef _WIN32
    EXPECT_EQ(FormatTime(0), "Thu Jan  1 00:00:00 1970");
#else
    EXPECT_EQ(FormatTime(0), "01/01/70 00:00:00"); // the Windows C locale's form
#endif
    // Times before 1970.
    EXPECT_EQ(FormatTime(-86400, "%Y-%m-%d", TimeZone::Utc), "1969-12-31");
    // An empty result ends at once rather than doubling the buffer for ever.
    EXPECT_EQ(FormatTime(0, ""), "");
    EXPECT_EQ(FormatTime(0, "%%"), "%");
    // Results longer than the first buffer of 100 bytes come out whole.
    std::string longFormat;
    std::string longText;
    for (int i = 0; i < 60; ++i) {
        longFormat += "%Y|";
        longText += "1970|";
    }
    EXPECT_EQ(FormatTime(0, longFormat), longText);
    // A result past the largest buffer gives "".
    EXPECT_TRUE(FormatTime(0, std::string(kMaxFormattedTime + 1, 'x')).empty());
    EXPECT_EQ(FormatTime(0, std::string(kMaxFormattedTime, 'x')).size(), kMaxFormattedTime);
    // A time that no calendar year holds gives "".
    EXPECT_EQ(FormatTime(INT64_MAX, "%Y"), "");
    EXPECT_EQ(FormatTime(INT64_MIN, "%Y", TimeZone::Utc), "");
}

TEST(CurrentFolder, SetAndGetTheProcessFolder) {
    std::string saved = GetCurrentFolder();
    ASSERT_FALSE(saved.empty());
    {
        CFileTestFolder folder;
        EXPECT_TRUE(SetCurrentFolder(folder.Path()));
        EXPECT_EQ(GetCurrentFolder(), folder.Path());
        // A folder that does not exist leaves the current one.
        EXPECT_FALSE(SetCurrentFolder(folder / "missing"));
        EXPECT_EQ(GetCurrentFolder(), folder.Path());
#ifndef _WIN32 // Windows does not remove a process's current folder
        // A current folder that has been removed cannot be had.
        std::filesystem::create_directory(folder / "gone");
        EXPECT_TRUE(SetCurrentFolder(folder / "gone"));
        std::filesystem::remove(folder / "gone");
        EXPECT_EQ(GetCurrentFolder(), "");
#endif
        EXPECT_TRUE(SetCurrentFolder(saved));
    }
    EXPECT_EQ(GetCurrentFolder(), saved);
}

TEST(Shortcut, ResolvesOnlyLinksThatLeadToSomething) {
    CFileTestFolder folder;
    std::string picture = folder.Put("pics/a.jpg", "x");
    LinkTo(folder / "upper.LNK", "pics\\a.jpg");
    LinkTo(folder / "mixed.Lnk", "pics\\a.jpg");
    LinkTo(folder / "broken.lnk", "pics\\missing.jpg");
    LinkTo(folder / "x.lnkx", "pics\\a.jpg");
    folder.Put("garbage.lnk", "not a shell link at all");
    folder.Put("empty.lnk");
#ifndef _WIN32 // symbolic links need a privilege on Windows
    std::filesystem::create_symlink(folder / "upper.LNK", folder / "symlinked.lnk");
#endif
    std::filesystem::create_directory(folder / "folder.lnk");

    struct Case {
        std::string path, result;
    } cases[] = {
        {folder / "upper.LNK", picture},                  // the suffix in any letter case
        {folder / "mixed.Lnk", picture},                  // likewise
#ifndef _WIN32
        {folder / "symlinked.lnk", picture},              // a symbolic link to a link is read through
#endif
        {folder / "x.lnkx", folder / "x.lnkx"},           // not a ".lnk" name
        {picture, picture},                               // not a link at all
        {folder / "broken.lnk", folder / "broken.lnk"},   // its target does not exist
        {folder / "garbage.lnk", folder / "garbage.lnk"}, // not in the link format
        {folder / "empty.lnk", folder / "empty.lnk"},     // empty
        {folder / "missing.lnk", folder / "missing.lnk"}, // does not exist
        {folder / "folder.lnk", folder / "folder.lnk"},   // a folder
        {".lnk", ".lnk"},                                 // only the suffix: four characters are too few
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveShortcut(c.path), c.result) << c.path;

    // Run from the links' folder, a bare ".lnk" would be a readable link, and is still left alone.
    std::string saved = GetCurrentFolder();
    LinkTo(folder / ".lnk", "pics\\a.jpg");
    ASSERT_TRUE(SetCurrentFolder(folder.Path()));
    EXPECT_EQ(ResolveShortcut(".lnk"), ".lnk");
    EXPECT_EQ(ResolveShortcut("a.lnk"), "a.lnk");
    ASSERT_TRUE(SetCurrentFolder(saved));
}

TEST(Shortcut, ChainsLeadToTheFinalTargetAndRingsEnd) {
    CFileTestFolder folder;
    std::string picture = folder.Put("a.jpg", "x");
    // A link to a link to the picture.
    LinkTo(folder / "first.lnk", "second.lnk");
    LinkTo(folder / "second.lnk", "a.jpg");
    EXPECT_EQ(ResolveShortcut(folder / "first.lnk"), folder / "second.lnk");
    EXPECT_EQ(ResolveShortcuts(folder / "first.lnk"), picture);
    // A ring of two and a link to itself come back unchanged.
    LinkTo(folder / "ring1.lnk", "ring2.lnk");
    LinkTo(folder / "ring2.lnk", "ring1.lnk");
    LinkTo(folder / "self.lnk", "self.lnk");
    EXPECT_EQ(ResolveShortcuts(folder / "ring1.lnk"), folder / "ring1.lnk");
    EXPECT_EQ(ResolveShortcuts(folder / "self.lnk"), folder / "self.lnk");
    // A link into a ring likewise.
    LinkTo(folder / "into-ring.lnk", "ring1.lnk");
    EXPECT_EQ(ResolveShortcuts(folder / "into-ring.lnk"), folder / "into-ring.lnk");
    // A chain ending in a broken link stops at that link.
    LinkTo(folder / "to-broken.lnk", "broken.lnk");
    LinkTo(folder / "broken.lnk", "missing.jpg");
    EXPECT_EQ(ResolveShortcuts(folder / "to-broken.lnk"), folder / "broken.lnk");
    // Paths that are no links pass unchanged.
    EXPECT_EQ(ResolveShortcuts(picture), picture);
}

TEST(Shortcut, ChainsResolveUpToTheBound) {
    CFileTestFolder folder;
    std::string picture = folder.Put("a.jpg", "x");
    // chain-N.lnk leads through N links to the picture.
    LinkTo(folder / "chain-1.lnk", "a.jpg");
    for (int n = 2; n <= kMaxShortcutChain + 1; ++n)
        LinkTo(folder / ("chain-" + std::to_string(n) + ".lnk"), "chain-" + std::to_string(n - 1) + ".lnk");
    std::string longest = folder / ("chain-" + std::to_string(kMaxShortcutChain) + ".lnk");
    std::string tooLong = folder / ("chain-" + std::to_string(kMaxShortcutChain + 1) + ".lnk");
    EXPECT_EQ(ResolveShortcuts(longest), picture);
    EXPECT_EQ(ResolveShortcuts(tooLong), tooLong);
}

#ifndef _WIN32 // Windows drives map onto this file system only here
TEST(Shortcut, WindowsTargetsMapByTheirDrive) {
    CFileTestFolder folder;
    std::string picture = folder.Put("pics/\xC3\xA4.jpg", "x");
    std::string windows = picture;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    testing_lnk::LinkSpec onZ;
    onZ.withIdList = true;
    onZ.localBasePathUnicode = "Z:" + windows; // the Unicode field, with a non-ASCII name
    onZ.localBasePath = "Z:\\ignored.jpg";
    testing_lnk::WriteShellLink(folder / "z.lnk", onZ);
    testing_lnk::LinkSpec onC;
    onC.localBasePath = "C:" + windows;
    testing_lnk::WriteShellLink(folder / "c.lnk", onC);

    EXPECT_EQ(ResolveShortcut(folder / "z.lnk"), picture);
    EXPECT_EQ(ResolveShortcut(folder / "c.lnk"), folder / "c.lnk");
}
#else
TEST(Shortcut, WindowsTargetsAreTakenAsTheyAre) {
    CFileTestFolder folder;
    std::string picture = folder.Put("pics/a.jpg", "x"); // "C:\\...\\pics\\a.jpg"
    testing_lnk::LinkSpec unicode;
    unicode.withIdList = true;
    unicode.localBasePathUnicode = picture; // the Unicode field wins over the ANSI one
    unicode.localBasePath = "C:\\ignored.jpg";
    testing_lnk::WriteShellLink(folder / "unicode.lnk", unicode);
    testing_lnk::LinkSpec ansi;
    ansi.localBasePath = picture;
    testing_lnk::WriteShellLink(folder / "ansi.lnk", ansi);
    testing_lnk::LinkSpec gone;
    gone.localBasePath = folder / "pics\\missing.jpg";
    testing_lnk::WriteShellLink(folder / "gone.lnk", gone);

    EXPECT_EQ(ResolveShortcut(folder / "unicode.lnk"), picture);
    EXPECT_EQ(ResolveShortcut(folder / "ansi.lnk"), picture);
    EXPECT_EQ(ResolveShortcut(folder / "gone.lnk"), folder / "gone.lnk");
}
#endif
