#include "platform/narrow_text.h"
#include "platform/shell_link.h"
#include "tests/platform/shell_link_writer.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_temp_folder.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using testing_lnk::LinkSpec;
using testing_lnk::ShellLinkBytes;

// UTF-8 text (the tests' literals, lnkinfo's output) as the system's narrow text: as it is on Linux,
// in the ANSI code page on Windows, as the reader gives its texts.
std::string Native(std::string_view utf8) {
    std::u16string units;
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? byte : byte & (0x7F >> length);
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (code >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return platform::NarrowFromUtf16(units);
}

std::optional<std::string> NativeIfAny(const std::optional<std::string>& utf8) {
    return utf8 ? std::optional<std::string>(Native(*utf8)) : std::nullopt;
}

std::optional<platform::ShellLink> Parse(const std::vector<uint8_t>& bytes) {
    return platform::ParseShellLink(bytes);
}

LinkSpec FullSpec() {
    LinkSpec spec;
    spec.withIdList = true;
    spec.localBasePath = "C:\\pics\\a.jpg";
    spec.localBasePathUnicode = "C:\\pics\\\xC3\xA4.jpg";
    spec.netName = "\\\\srv\\share";
    spec.commonPathSuffix = "sub\\b.jpg";
    spec.name = "Picture";
    spec.relativePath = "..\\pics\\a.jpg";
    spec.workingDir = "C:\\pics";
    spec.arguments = "-x";
    return spec;
}

} // namespace

TEST(ShellLinkParse, ReadsThePartsOfWellFormedLinks) {
    struct Case {
        const char* what;
        LinkSpec spec;
        std::string localPath, networkPath;
        std::optional<std::string> relativePath, name, workingDir;
    };
    auto with = [](auto change) {
        LinkSpec spec;
        change(spec);
        return spec;
    };
    Case cases[] = {
        // The ID list before the link information is stepped over by its size.
        {"id list, ANSI base", with([](LinkSpec& s) {
             s.withIdList = true;
             s.localBasePath = "C:\\a.jpg";
         }),
         "C:\\a.jpg", "", std::nullopt, std::nullopt, std::nullopt},
        // The Unicode base path, present when the header is 0x24 long, wins over the ANSI one.
        {"Unicode base", with([](LinkSpec& s) {
             s.localBasePath = "C:\\x.jpg";
             s.localBasePathUnicode = "C:\\\xE6\x97\xA5\xE6\x9C\xAC.jpg";
         }),
         "C:\\\xE6\x97\xA5\xE6\x9C\xAC.jpg", "", std::nullopt, std::nullopt, std::nullopt},
        // The common path suffix follows the base with one separator.
        {"suffix", with([](LinkSpec& s) {
             s.localBasePath = "C:\\pics";
             s.commonPathSuffix = "a.jpg";
         }),
         "C:\\pics\\a.jpg", "", std::nullopt, std::nullopt, std::nullopt},
        // A network target: the share and the suffix.
        {"network", with([](LinkSpec& s) {
             s.netName = "\\\\srv\\share";
             s.commonPathSuffix = "dir\\a.jpg";
         }),
         "", "\\\\srv\\share\\dir\\a.jpg", std::nullopt, std::nullopt, std::nullopt},
        // ANSI string data (IsUnicode clear), in order: name, relative path, working folder.
        {"ANSI strings", with([](LinkSpec& s) {
             s.unicodeStrings = false;
             s.name = "Pic";
             s.relativePath = "sub\\a.jpg";
             s.workingDir = "C:\\w";
         }),
         "", "", "sub\\a.jpg", "Pic", "C:\\w"},
        // Unicode string data beyond the basic plane comes through surrogate pairs.
        {"Unicode strings", with([](LinkSpec& s) {
             s.name = "\xF0\x9F\x98\x80";
             s.relativePath = "B\xC3\xA4ume\\a.jpg";
         }),
         "", "", "B\xC3\xA4ume\\a.jpg", "\xF0\x9F\x98\x80", std::nullopt},
        // ANSI bytes that are not UTF-8 are Windows-1252 ("\xE4" a-umlaut, "\x80" the euro sign).
        {"Windows-1252", with([](LinkSpec& s) {
             s.unicodeStrings = false;
             s.localBasePath = "C:\\B\xE4ume\x80.jpg";
             s.relativePath = "B\xE4ume.jpg";
         }),
         "C:\\B\xC3\xA4ume\xE2\x82\xAC.jpg", "", "B\xC3\xA4ume.jpg", std::nullopt, std::nullopt},
        // ForceNoLinkInfo: the link information is stepped over and ignored, the strings still read.
        {"ForceNoLinkInfo", with([](LinkSpec& s) {
             s.forceNoLinkInfo = true;
             s.localBasePath = "C:\\a.jpg";
             s.relativePath = "a.jpg";
         }),
         "", "", "a.jpg", std::nullopt, std::nullopt},
        // A text ends at its first NUL, as the system hands it on as a C string.
        {"embedded NUL", with([](LinkSpec& s) { s.relativePath = std::string("a.jpg\0junk", 10); }), "", "",
         "a.jpg", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto link = Parse(ShellLinkBytes(c.spec));
        ASSERT_TRUE(link.has_value());
        EXPECT_EQ(link->GetLocalPath(), Native(c.localPath));
        EXPECT_EQ(link->GetNetworkPath(), Native(c.networkPath));
        EXPECT_EQ(link->relativePath, NativeIfAny(c.relativePath));
        EXPECT_EQ(link->name, NativeIfAny(c.name));
        EXPECT_EQ(link->workingDir, NativeIfAny(c.workingDir));
    }
}

TEST(ShellLinkParse, LoneSurrogateBecomesReplacementCharacter) {
    LinkSpec spec;
    spec.relativePath = "ab";
    auto bytes = ShellLinkBytes(spec);
    // The text's units sit just before the four-byte terminal block: "a" is the first.
    size_t a = bytes.size() - 4 - 4;
    bytes[a] = 0x00;
    bytes[a + 1] = 0xD8;
    auto link = Parse(bytes);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->relativePath, Native("\xEF\xBF\xBD"
                                         "b"));
}

TEST(ShellLinkParse, RejectsBrokenStructures) {
    const auto full = ShellLinkBytes(FullSpec());
    LinkSpec ansiSpec = FullSpec();
    ansiSpec.localBasePathUnicode.reset();
    const auto ansi = ShellLinkBytes(ansiSpec);
    ASSERT_TRUE(Parse(full).has_value());
    ASSERT_TRUE(Parse(ansi).has_value());
    // Offsets into both: header 0x4C, ID list (2 + 22 bytes), then the link information.
    constexpr size_t kLinkInfo = 0x4C + 2 + 22;
    struct Case {
        const char* what;
        const std::vector<uint8_t>& good;
        size_t at;
        std::vector<uint8_t> bytes;
    } cases[] = {
        // A header size other than 0x4C.
        {"header size", full, 0, {0x4D}},
        // Another class identifier.
        {"class", full, 4, {0x02}},
        // An ID list said to run past the end of the file.
        {"id list size", full, 0x4C, {0xFF, 0xFF}},
        // A link information said to run past the end of the file.
        {"link info size", full, kLinkInfo, {0xFF, 0xFF, 0xFF, 0x7F}},
        // A link information too small for its own header.
        {"link info too small", full, kLinkInfo, {0x10, 0, 0, 0}},
        // A header size past the structure.
        {"link info header", full, kLinkInfo + 4, {0xFF, 0xFF, 0, 0}},
        // The Unicode base path's and suffix's offsets outside the structure.
        {"unicode base offset", full, kLinkInfo + 28, {0xFF, 0xFF, 0, 0}},
        {"unicode suffix offset", full, kLinkInfo + 32, {0xFF, 0xFF, 0, 0}},
        // The network link's offset outside the structure.
        {"network offset", full, kLinkInfo + 20, {0xFF, 0xFF, 0xFF, 0xFF}},
        // Without Unicode variants: the ANSI base path's and suffix's offsets outside the structure.
        {"ANSI base offset", ansi, kLinkInfo + 16, {0xFF, 0xFF, 0, 0}},
        {"ANSI suffix offset", ansi, kLinkInfo + 24, {0xFF, 0xFF, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto bytes = c.good;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.at));
        EXPECT_FALSE(Parse(bytes).has_value());
    }
}

TEST(ShellLinkParse, UnterminatedTextsInLinkInfoAreRejected) {
    LinkSpec spec;
    spec.localBasePath = "C:\\a.jpg";
    auto bytes = ShellLinkBytes(spec);
    // Drop the NUL that ends the suffix (the last byte of the link information) and shrink the structure.
    size_t linkInfo = 0x4C;
    uint32_t size = bytes[linkInfo] | (bytes[linkInfo + 1] << 8);
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(linkInfo + size - 1));
    bytes[linkInfo] = static_cast<uint8_t>(size - 1);
    EXPECT_FALSE(Parse(bytes).has_value());
}

TEST(ShellLinkParse, EveryTruncationIsRejectedUntilTheStringsAreComplete) {
    const auto good = ShellLinkBytes(FullSpec());
    // Everything up to the last string is needed; the terminal block of extra data is not.
    const size_t needed = good.size() - 4;
    for (size_t length = 0; length < good.size(); ++length) {
        std::vector<uint8_t> prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(Parse(prefix).has_value(), length >= needed) << "length " << length;
    }
}

namespace {

// A link with a local target, a relative path or both, and where the link's folder maps it.
struct TargetCase {
    const char* what;
    std::optional<std::string> local, relative;
    std::optional<std::string> target;
};

void ExpectTargets(std::span<const TargetCase> cases, const std::string& links) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::ShellLink link;
        if (c.local) {
            link.linkInfoFlags = platform::kVolumeIDAndLocalBasePath;
            link.localBasePath = *c.local;
        }
        link.relativePath = c.relative;
        EXPECT_EQ(platform::MapShellLinkTarget(link, links), c.target);
    }
}

} // namespace

#ifndef _WIN32
TEST(ShellLinkTarget, MapsWindowsTargetsToThisFileSystem) {
    testsupport::ScopedTempFolder folder;
    std::string picture = folder.Put("pics/a.jpg", "x");
    std::string links = folder / "links";
    std::filesystem::create_directories(links);
    std::string windowsPicture = picture;
    std::replace(windowsPicture.begin(), windowsPicture.end(), '/', '\\');

    const TargetCase cases[] = {
        // Drive Z: is the root here; backslashes become slashes.
        {"Z: drive", "Z:" + windowsPicture, std::nullopt, picture},
        // In any letter case.
        {"z: drive", "z:" + windowsPicture, std::nullopt, picture},
        // A POSIX path is taken as it is.
        {"POSIX path", picture, std::nullopt, picture},
        // Other drives have no counterpart here.
        {"C: drive", "C:" + windowsPicture, std::nullopt, std::nullopt},
        // Nor has a rooted path without a drive.
        {"rooted", windowsPicture, std::nullopt, std::nullopt},
        // A relative path resolves against the link's folder and is normalised.
        {"relative", std::nullopt, "..\\pics\\a.jpg", picture},
        {"relative with dot", std::nullopt, ".\\..\\pics\\.\\a.jpg", picture},
        // The local target is preferred while it exists...
        {"local first", "Z:" + windowsPicture, "..\\missing.jpg", picture},
        // ...and the relative path stands in when it does not.
        {"relative when local is missing", "Z:\\nowhere\\a.jpg", "..\\pics\\a.jpg", picture},
        // A relative path with a drive or a root is not relative.
        {"relative with drive", std::nullopt, "C:..\\pics\\a.jpg", std::nullopt},
        {"relative rooted", std::nullopt, "\\pics\\a.jpg", std::nullopt},
        // A target that does not exist does not resolve.
        {"missing", "Z:\\nowhere\\a.jpg", "..\\nowhere.jpg", std::nullopt},
    };
    ExpectTargets(cases, links);

    // A network share has no counterpart either.
    platform::ShellLink network;
    network.linkInfoFlags = platform::kCommonNetworkRelativeLinkAndPathSuffix;
    network.netName = "\\\\srv\\share";
    network.commonPathSuffix = "a.jpg";
    EXPECT_EQ(platform::MapShellLinkTarget(network, links), std::nullopt);
}

TEST(ShellLinkTarget, RelativeTargetIsTakenFromWhereTheLinkReallyLies) {
    testsupport::ScopedTempFolder folder;
    std::string picture = folder.Put("real/a.jpg", "x");
    LinkSpec spec;
    spec.relativePath = "a.jpg";
    testing_lnk::WriteShellLink(folder / "real/a.lnk", spec);
    std::filesystem::create_directories(folder / "elsewhere");
    std::filesystem::create_symlink(folder / "real/a.lnk", folder / "elsewhere/a.lnk");

    EXPECT_EQ(platform::GetShellLinkTarget(folder / "elsewhere/a.lnk"), picture);
    EXPECT_EQ(platform::GetShellLinkTarget(folder / "real/missing.lnk"), std::nullopt);
}

#else
TEST(ShellLinkTarget, WindowsTargetsAreTakenAsTheyAre) {
    testsupport::ScopedTempFolder folder;
    std::string picture = folder.Put("pics/a.jpg", "x");
    std::replace(picture.begin(), picture.end(), '/', '\\');
    std::string links = folder / "links";
    std::filesystem::create_directories(links);
    // The picture as the system names it, whatever the temporary folder's spelling.
    std::string full = std::filesystem::absolute(picture).string();

    const TargetCase cases[] = {
        // A full local path is taken as it is.
        {"local", full, std::nullopt, full},
        // A rooted path without a drive depends on the current drive: not a target.
        {"rooted", full.substr(2), std::nullopt, std::nullopt},
        // A relative path resolves against the link's folder and is normalised.
        {"relative", std::nullopt, "..\\pics\\a.jpg", full},
        {"relative with dot and slash", std::nullopt, ".\\..\\pics/./a.jpg", full},
        // The local target is preferred while it exists...
        {"local first", full, "..\\missing.jpg", full},
        // ...and the relative path stands in when it does not.
        {"relative when local is missing", full + ".gone", "..\\pics\\a.jpg", full},
        // A relative path with a drive or a root is not relative.
        {"relative with drive", std::nullopt, full.substr(0, 2) + "..\\pics\\a.jpg", std::nullopt},
        {"relative rooted", std::nullopt, "\\pics\\a.jpg", std::nullopt},
        // A target that does not exist does not resolve.
        {"missing", full + ".gone", "..\\nowhere.jpg", std::nullopt},
    };
    ExpectTargets(cases, links);

    // A network target that cannot be reached does not resolve.
    platform::ShellLink network;
    network.linkInfoFlags = platform::kCommonNetworkRelativeLinkAndPathSuffix;
    network.netName = "\\\\pixolane-nowhere.invalid\\share";
    network.commonPathSuffix = "a.jpg";
    EXPECT_EQ(platform::MapShellLinkTarget(network, links), std::nullopt);
}

TEST(ShellLinkTarget, RelativeTargetIsTakenFromTheLinksFolder) {
    testsupport::ScopedTempFolder folder;
    std::string picture = folder.Put("real/a.jpg", "x");
    LinkSpec spec;
    spec.relativePath = "a.jpg";
    testing_lnk::WriteShellLink(folder / "real/a.lnk", spec);
    std::string full = std::filesystem::absolute(picture).string();

    EXPECT_EQ(platform::GetShellLinkTarget(folder / "real/a.lnk"), full);
    EXPECT_EQ(platform::GetShellLinkTarget(folder / "real/missing.lnk"), std::nullopt);
}

#endif

namespace {

// lnkinfo's "Name : value" lines for the fields both readers give; its complaints go to a file of
// their own in `folder`, so that they cannot pass for fields.
std::map<std::string, std::string> RunLnkinfo(const testsupport::ScopedTempFolder& folder,
                                              const std::string& path) {
    std::map<std::string, std::string> fields;
    testsupport::ChildProcess lnkinfo(
        {"lnkinfo", path},
        {.environment = {}, .outputPath = folder / "lnkinfo.out", .errorPath = folder / "lnkinfo.err"});
    if (!lnkinfo.Wait(60) || lnkinfo.ExitCode() != 0) {
        ADD_FAILURE() << "lnkinfo failed on " << path << ": " << folder.Read("lnkinfo.err");
        return fields;
    }
    std::istringstream lines(folder.Read("lnkinfo.out"));
    for (std::string text; std::getline(lines, text);) {
        size_t colon = text.find(": ");
        if (colon == std::string::npos)
            continue;
        std::string name = text.substr(0, colon);
        name.erase(0, name.find_first_not_of("\t "));
        name.erase(name.find_last_not_of("\t ") + 1);
        fields[name] = text.substr(colon + 2);
    }
    return fields;
}

bool HaveLnkinfo() {
    return !testsupport::FindProgram("lnkinfo").empty();
}

} // namespace

// Our files read the same way by an independent reader of the format, and by ours.
TEST(ShellLinkLnkinfo, ReadsOurFilesAsWeDo) {
    if (!HaveLnkinfo())
        GTEST_SKIP() << "lnkinfo (Debian package liblnk-utils) is not installed";
    testsupport::ScopedTempFolder folder;
    LinkSpec ansi;
    ansi.unicodeStrings = false;
    ansi.localBasePath = "C:\\B\xE4ume\\a.jpg"; // Windows-1252, lnkinfo's default code page
    ansi.relativePath = "..\\B\xE4ume\\a.jpg";
    ansi.workingDir = "C:\\B\xE4ume";
    LinkSpec unicode = FullSpec();
    unicode.name = "Bild \xE6\x97\xA5"; // lnkinfo's output mangles pairs; stay in the basic plane
    LinkSpec network;
    network.netName = "\\\\srv\\share";
    network.commonPathSuffix = "dir\\a.jpg";
    network.relativePath = "a.jpg";

    int index = 0;
    for (const LinkSpec& spec : {ansi, unicode, network}) {
        SCOPED_TRACE(index);
        std::string path = folder / ("link" + std::to_string(index++) + ".lnk");
        testing_lnk::WriteShellLink(path, spec);
        auto ours = platform::ReadShellLink(path);
        ASSERT_TRUE(ours.has_value());
        auto theirs = RunLnkinfo(folder, path);
        ASSERT_FALSE(theirs.empty()) << "lnkinfo printed nothing for " << path;
        // lnkinfo writes UTF-8; ours is the system's narrow text.
        auto field = [&](const char* name) {
            return Native(theirs.count(name) ? theirs[name] : std::string());
        };
        EXPECT_EQ(field("Local path"), ours->GetLocalPath());
        EXPECT_EQ(field("Network path"), ours->GetNetworkPath());
        EXPECT_EQ(field("Relative path"), ours->relativePath.value_or(""));
        EXPECT_EQ(field("Description"), ours->name.value_or(""));
        EXPECT_EQ(field("Working directory"), ours->workingDir.value_or(""));
    }
}

// Extra data may make a link large; the parts that make the path come first and are read.
TEST(ShellLinkRead, LargeLinkFilesAreReadUpToTheBound) {
    testsupport::ScopedTempFolder folder;
    LinkSpec spec;
    spec.relativePath = "a.jpg";
    spec.extraData.assign(2 * platform::kMaxShellLinkFile, 0x41);
    testing_lnk::WriteShellLink(folder / "big.lnk", spec);
    auto link = platform::ReadShellLink(folder / "big.lnk");
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->relativePath, "a.jpg");
    EXPECT_EQ(platform::ReadShellLink(folder / "missing.lnk"), std::nullopt);
    EXPECT_EQ(platform::ReadShellLink(folder.Path()), std::nullopt);
}
