// The file system layer: folder listings, why a path cannot be examined, and narrow text.
#include "platform/file_system.h"
#include "platform/narrow_text.h"
#include "tests/foundation/file_test_folder.h"
#include "tests/support/scoped_time_zone.h"

#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

namespace {

using platform::FolderEntry;
using platform::PathProblem;

// Sets a file's modification time (seconds since 1970); the link itself when `link` is set.
void SetModified(const std::string& path, int64_t seconds, bool link = false) {
#ifndef _WIN32
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, link ? AT_SYMLINK_NOFOLLOW : 0), 0) << path;
#else
    ASSERT_FALSE(link) << "no symbolic links here";
    ASSERT_TRUE(testsupport::SetModificationTime(path, seconds)) << path;
#endif
}

std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
    std::vector<std::string> names;
    for (const FolderEntry& entry : entries)
        names.push_back(entry.name);
    return names;
}

// Longer than any one name the file system takes, so that looking it up fails for another reason
// than its absence.
std::string OverlongName() {
    return std::string(4096, 'n');
}

} // namespace

TEST(ListFolder, GivesNamesKindsSizesAndTimesSortedByName) {
    CFileTestFolder folder;
    SetModified(folder.Put("b.jpg", "12345"), 1'000'000'000);
    SetModified(folder.Put("A.jpg", ""), 1'200'000'000);
    folder.Put("sub/inner.txt", "x");
    SetModified(folder / "sub", 1'300'000'000);
    folder.Put("\xC3\xA9t\xC3\xA9.jpg", "abc"); // UTF-8 names come back as they are

    auto entries = platform::ListFolder(folder.Path());
    ASSERT_TRUE(entries);
    ASSERT_EQ(Names(*entries), (std::vector<std::string>{"A.jpg", "b.jpg", "sub", "\xC3\xA9t\xC3\xA9.jpg"}))
        << "byte order, no \".\" or \"..\", nothing from below";
    const FolderEntry& upper = (*entries)[0];
    const FolderEntry& lower = (*entries)[1];
    const FolderEntry& sub = (*entries)[2];
    EXPECT_FALSE(upper.isFolder);
    EXPECT_EQ(upper.size, 0u);
    EXPECT_EQ(upper.modified, 1'200'000'000);
    EXPECT_FALSE(lower.isFolder);
    EXPECT_EQ(lower.size, 5u);
    EXPECT_EQ(lower.modified, 1'000'000'000);
    EXPECT_TRUE(sub.isFolder);
    EXPECT_EQ(sub.modified, 1'300'000'000);
    EXPECT_EQ((*entries)[3].size, 3u);

    // A trailing "/" names the same folder.
    auto again = platform::ListFolder(folder.Path() + "/");
    ASSERT_TRUE(again);
    EXPECT_EQ(Names(*again), Names(*entries));
}

#ifndef _WIN32 // symbolic links need a privilege on Windows
TEST(ListFolder, SymbolicLinksShowTheirTargetOrAreListedAsEmptyFiles) {
    CFileTestFolder folder;
    SetModified(folder.Put("target.jpg", "1234567"), 1'100'000'000);
    folder.Put("dir/x", "");
    ASSERT_EQ(symlink((folder / "target.jpg").c_str(), (folder / "to-file").c_str()), 0);
    ASSERT_EQ(symlink((folder / "dir").c_str(), (folder / "to-dir").c_str()), 0);
    ASSERT_EQ(symlink((folder / "gone").c_str(), (folder / "dangling").c_str()), 0);
    SetModified(folder / "dangling", 1'050'000'000, true);

    auto entries = platform::ListFolder(folder.Path());
    ASSERT_TRUE(entries);
    ASSERT_EQ(Names(*entries),
              (std::vector<std::string>{"dangling", "dir", "target.jpg", "to-dir", "to-file"}));
    const FolderEntry& dangling = (*entries)[0];
    EXPECT_FALSE(dangling.isFolder);
    EXPECT_EQ(dangling.size, 0u);
    EXPECT_EQ(dangling.modified, 1'050'000'000) << "the link's own time";
    EXPECT_TRUE((*entries)[3].isFolder);
    EXPECT_EQ((*entries)[4].size, 7u);
    EXPECT_EQ((*entries)[4].modified, 1'100'000'000);
}
#endif

#ifndef _WIN32 // symbolic links need a privilege on Windows
TEST(ResolveLinks, ALinkAndItsFileGiveOnePathAndAMissingFileNothing) {
    CFileTestFolder folder;
    std::string file = folder.Put("dir/a b.jpg", "1");
    ASSERT_EQ(symlink((folder / "dir").c_str(), (folder / "to-dir").c_str()), 0);
    ASSERT_EQ(symlink((folder / "to-dir/a b.jpg").c_str(), (folder / "to-file").c_str()), 0);
    ASSERT_EQ(symlink((folder / "gone").c_str(), (folder / "dangling").c_str()), 0);

    std::optional<std::string> real = platform::ResolveLinks(file);
    ASSERT_TRUE(real);
    EXPECT_EQ(real->front(), '/');
    EXPECT_EQ(platform::ResolveLinks(folder / "to-file"), real) << "a link to a link to the file";
    EXPECT_EQ(platform::ResolveLinks(folder / "to-dir/../dir/./a b.jpg"), real);
    EXPECT_FALSE(platform::ResolveLinks(folder / "dangling"));
    EXPECT_FALSE(platform::ResolveLinks(folder / "missing.jpg"));
}
#endif

TEST(ListFolder, SaysWhyAFolderCannotBeListed) {
    CFileTestFolder folder;
    std::string file = folder.Put("file.jpg", "x");
    folder.Put("empty/.keep");
    auto empty = platform::ListFolder(folder / "empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(Names(*empty), (std::vector<std::string>{".keep"}));

    struct Row {
        std::string path;
        PathProblem expected;
    } rows[] = {
        {folder / "missing", PathProblem::Missing},           // nothing there
        {file, PathProblem::Missing},                         // a file is no folder
        {folder / OverlongName(), PathProblem::Inaccessible}, // cannot even be looked up
    };
    for (const Row& row : rows) {
        PathProblem problem =
            row.expected == PathProblem::Missing ? PathProblem::Inaccessible : PathProblem::Missing;
        EXPECT_FALSE(platform::ListFolder(row.path, &problem)) << row.path.substr(0, 80);
        EXPECT_EQ(problem, row.expected) << row.path.substr(0, 80);
    }
}

TEST(FileStatus, SaysWhyAPathCannotBeExamined) {
    CFileTestFolder folder;
    std::string file = folder.Put("file.jpg", "abcd");
    struct Row {
        std::string path;
        PathProblem expected;
    } rows[] = {
        {folder / "missing.jpg", PathProblem::Missing},       // nothing by that name
        {file + "/below", PathProblem::Missing},              // a component is a file
        {folder / OverlongName(), PathProblem::Inaccessible}, // too long to look up
    };
    for (const Row& row : rows) {
        PathProblem problem =
            row.expected == PathProblem::Missing ? PathProblem::Inaccessible : PathProblem::Missing;
        EXPECT_FALSE(platform::GetFileStatus(row.path, &problem)) << row.path.substr(0, 80);
        EXPECT_EQ(problem, row.expected) << row.path.substr(0, 80);
    }

    PathProblem untouched = PathProblem::Inaccessible;
    auto status = platform::GetFileStatus(file, &untouched);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->size, 4u);
    EXPECT_FALSE(status->isFolder);
    EXPECT_EQ(untouched, PathProblem::Inaccessible) << "a path that can be examined reports no problem";
    auto self = platform::GetFileStatus(folder.Path());
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->isFolder);
}

#ifndef _WIN32 // Unix paths; Windows paths have drives
TEST(MakeAbsolutePath, JoinsTheCurrentFolderAndTidiesTheText) {
    CFileTestFolder folder;
    std::optional<std::string> before = platform::GetCurrentFolder();
    ASSERT_TRUE(before);
    ASSERT_TRUE(platform::SetCurrentFolder(folder.Path()));
    std::optional<std::string> here =
        platform::GetCurrentFolder(); // the folder's name as the system gives it
    ASSERT_TRUE(here);
    struct Row {
        std::string given, expected;
    } rows[] = {
        {"a b.jpg", *here + "/a b.jpg"},
        {"./Fotos \xc3\xa9t\xc3\xa9//x.jpg", *here + "/Fotos \xc3\xa9t\xc3\xa9/x.jpg"},
        {"sub/../y.jpg", *here + "/y.jpg"},
        {".", *here},
        {"/usr//lib/./x/..", "/usr/lib"},
        {"/../..", "/"},
        {"/", "/"},
        {"/tmp/folder/", "/tmp/folder"},
    };
    std::vector<std::pair<std::string, std::string>> got;
    for (const Row& row : rows)
        got.emplace_back(row.given, platform::MakeAbsolutePath(row.given).value_or("(nothing)"));
    EXPECT_FALSE(platform::MakeAbsolutePath(""));
    ASSERT_TRUE(platform::SetCurrentFolder(*before));
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].second, rows[i].expected) << got[i].first;
}
#endif

#ifdef _WIN32 // the Linux case above, in Windows paths: drives, either separator in, "\\" out
TEST(MakeAbsolutePath, JoinsTheCurrentFolderAndTidiesTheTextOnWindows) {
    CFileTestFolder folder;
    std::optional<std::string> before = platform::GetCurrentFolder();
    ASSERT_TRUE(before);
    ASSERT_TRUE(platform::SetCurrentFolder(folder.Path()));
    std::optional<std::string> here = platform::GetCurrentFolder();
    ASSERT_TRUE(here);
    struct Row {
        std::string given, expected;
    } rows[] = {
        {"a b.jpg", *here + "\\a b.jpg"},
        {"./Fotos//x.jpg", *here + "\\Fotos\\x.jpg"},
        {"sub\\..\\y.jpg", *here + "\\y.jpg"},
        {".", *here},
        {"C:\\windows\\.\\x\\..", "C:\\windows"},
        {"C:/../..", "C:\\"},
        {"C:\\", "C:\\"},
    };
    std::vector<std::pair<std::string, std::string>> got;
    for (const Row& row : rows)
        got.emplace_back(row.given, platform::MakeAbsolutePath(row.given).value_or("(nothing)"));
    EXPECT_FALSE(platform::MakeAbsolutePath(""));
    ASSERT_TRUE(platform::SetCurrentFolder(*before));
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].second, rows[i].expected) << got[i].first;
}
#endif

#ifndef _WIN32 // POSIX zone rules, which the Windows C runtime does not read
TEST(BreakDownTime, LocalTimeFollowsTheZoneAndPasses2038) {
    // 2040-07-01 12:00:00 UTC: beyond a 32-bit time, and in summer time where the zone has one.
    constexpr int64_t kSummer2040 = 2224756800;
    struct Row {
        const char* zone;
        int hour, isDst;
    } rows[] = {{"UTC0", 12, 0}, {"CET-1CEST,M3.5.0,M10.5.0/3", 14, 1}, {"EST5EDT,M3.2.0,M11.1.0", 8, 1}};
    for (const Row& row : rows) {
        ScopedTimeZone zone(row.zone);
        std::tm local{};
        ASSERT_TRUE(platform::BreakDownTime(kSummer2040, false, local)) << row.zone;
        EXPECT_EQ(local.tm_year, 140) << row.zone;
        EXPECT_EQ(local.tm_mon, 6) << row.zone;
        EXPECT_EQ(local.tm_mday, 1) << row.zone;
        EXPECT_EQ(local.tm_hour, row.hour) << row.zone;
        EXPECT_EQ(local.tm_isdst, row.isDst) << row.zone;
    }
    // UTC ignores the zone; the day before the epoch is still a day.
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    std::tm utc{};
    ASSERT_TRUE(platform::BreakDownTime(kSummer2040 - 86400, true, utc));
    EXPECT_EQ(utc.tm_mday, 30);
    EXPECT_EQ(utc.tm_hour, 12);
    ASSERT_TRUE(platform::BreakDownTime(-1, true, utc));
    EXPECT_EQ(utc.tm_year, 69);
    EXPECT_EQ(utc.tm_hour, 23);
}
#endif

#ifndef _WIN32 // narrow text is UTF-8 on Linux, the ANSI code page on Windows
TEST(NarrowText, Utf16BecomesUtf8AndLoneSurrogatesTheReplacementCharacter) {
    struct Row {
        std::u16string text;
        std::string expected;
    } rows[] = {
        {u"plain", "plain"},                                       // ASCII as it is
        {u"\u00e9t\u00e9", "\xC3\xA9t\xC3\xA9"},                   // two-byte forms
        {u"\u20ac", "\xE2\x82\xAC"},                               // three-byte form
        {u"\U0001F600", "\xF0\x9F\x98\x80"},                       // a surrogate pair, four bytes
        {std::u16string{char16_t(0xD800), u'x'}, "\xEF\xBF\xBDx"}, // a high surrogate alone
        {std::u16string{u'x', char16_t(0xDC00)}, "x\xEF\xBF\xBD"}, // a low surrogate alone
        {std::u16string{char16_t(0xD83D)}, "\xEF\xBF\xBD"},        // a high surrogate at the end
    };
    for (const Row& row : rows)
        EXPECT_EQ(platform::NarrowFromUtf16(row.text), row.expected) << row.expected;
}
#endif

#ifndef _WIN32 // narrow text is UTF-8 on Linux, the ANSI code page on Windows
TEST(NarrowText, AnsiBytesAreKeptAsUtf8OrReadAsWindows1252) {
    struct Row {
        std::string bytes;
        std::string expected;
    } rows[] = {
        {"plain", "plain"},                         // ASCII as it is
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, // valid UTF-8 is kept
        {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},         // Latin letters of the code page
        {"\x80", "\xE2\x82\xAC"},                   // the euro sign of 0x80-0x9F
        {"\x81", "\xC2\x81"},                       // a hole maps to its C1 control
        {"\xC0\x80", "\xC3\x80\xE2\x82\xAC"},       // an overlong form is not UTF-8
    };
    for (const Row& row : rows)
        EXPECT_EQ(platform::NarrowFromWindowsAnsi(row.bytes), row.expected) << row.expected;
}
#endif

#ifdef _WIN32 // the ANSI code page is the narrow text already
TEST(NarrowText, AnsiBytesAreKeptAsTheyAreAndAsciiCrossesUnchanged) {
    for (const std::string bytes : {"plain", "\xE9t\xE9", "\x80", "\x81", "\xC0\x80", "\xC3\xA9t\xC3\xA9"})
        EXPECT_EQ(platform::NarrowFromWindowsAnsi(bytes), bytes) << bytes;
    EXPECT_EQ(platform::NarrowFromUtf16(u"plain"), "plain");
    EXPECT_EQ(platform::NarrowFromUtf16(u""), "");
    // A character no single-byte code page has still leaves a mark, not nothing.
    EXPECT_FALSE(platform::NarrowFromUtf16(u"\U0001F600").empty());
}
#endif
