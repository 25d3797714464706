#include "tests/support/scoped_env.h"
#include "upload/plugin_parameters.h"
#include "upload/user_agent.h"

#include <cstdlib>

#include <gtest/gtest.h>

using platform::OsPlatform;
using platform::OsVersionRecord;

namespace {

OsVersionRecord Windows(OsPlatform platform, uint32_t major, uint32_t minor, uint32_t build, std::string sp) {
    OsVersionRecord v;
    v.platform = platform;
    v.major = major;
    v.minor = minor;
    v.build = build;
    v.servicePack = std::move(sp);
    return v;
}

} // namespace

TEST(UserAgent, WindowsSystemTexts) {
    struct Case {
        OsVersionRecord version;
        const char* text;
    } cases[] = {
        // Windows 95 keeps major/minor in the build number's high word: only its low 16 bits count.
        {Windows(OsPlatform::Windows9x, 4, 0, 0x040003b6, " B"), "win32 Windows95 4.0 build 950 \" B\""},
        {Windows(OsPlatform::Windows9x, 4, 10, 0x040a08ae, " A"),
         "win32 Windows98 4.10 build 67766446 \" A\""},
        {Windows(OsPlatform::Windows9x, 4, 90, 3000, ""), "win32 Windows98 4.90 build 3000 \"\""}, // Me
        {Windows(OsPlatform::WindowsNT, 4, 0, 1381, "Service Pack 6"),
         "win32 WindowsNT 4.0 build 1381 \"Service Pack 6\""},
        {Windows(OsPlatform::WindowsNT, 5, 0, 2195, "Service Pack 4"),
         "win32 Windows2000 5.0 build 2195 \"Service Pack 4\""},
        {Windows(OsPlatform::WindowsNT, 5, 1, 2600, "Service Pack 2"),
         "win32 WindowsXP 5.1 build 2600 \"Service Pack 2\""},
        {Windows(OsPlatform::WindowsNT, 5, 2, 3790, ""), "win32 WindowsNT 5.2 build 3790 \"\""},
        {Windows(OsPlatform::WindowsNT, 6, 1, 7601, "Service Pack 1"),
         "win32 WindowsNT 6.1 build 7601 \"Service Pack 1\""},
        {Windows(OsPlatform::Win32s, 1, 30, 159, ""), "win32 1.30 build 159 \"\""}, // no system name
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatSystemText(c.version), c.text);
}

#ifndef _WIN32 // the running system's own text is Linux's only there
TEST(UserAgent, LinuxSystemText) {
    OsVersionRecord v;
    v.platform = OsPlatform::Linux;
    v.systemName = "Linux";
    v.major = 6;
    v.minor = 1;
    v.build = 0;
    v.servicePack = "6.1.0-18-amd64";
    EXPECT_EQ(FormatSystemText(v), "linux Linux 6.1 build 0 \"6.1.0-18-amd64\"");

    std::string running = FormatSystemText(platform::GetOsVersion());
#ifdef _WIN32
    EXPECT_EQ(running.rfind("win32 Windows", 0), 0u) << running; // the real version record's form
#else
    EXPECT_EQ(running.rfind("linux ", 0), 0u) << running;
#endif
}
#endif

TEST(UserAgent, LocaleNames) {
    EXPECT_EQ(FormatLocale({"en", "ENU", "US", "USA"}), "en_US");
    EXPECT_EQ(FormatLocale({"", "DEU", "", "DEU"}), "DE_DE"); // abbreviated names stand in, two characters
    EXPECT_EQ(FormatLocale({"", "", "", ""}), "_");
}

TEST(UserAgent, WholeText) {
    PluginParameters p;
    p.d_partnerID = "partner%1"; // substituted values are never read as placeholders again
    p.d_partnerSubID = "sub";
    p.d_browserVersion = "MSIE 6.0";
    EXPECT_EQ(
        BuildUserAgent({"en", "", "GB", ""}, p, Windows(OsPlatform::WindowsNT, 5, 1, 2600, "Service Pack 2")),
        "Pixolane Plugin/2.40 [en_GB] (partner%1; sub; win32 WindowsXP 5.1 build 2600 \"Service Pack 2\") "
        "[Browser: MSIE 6.0]");
}

#ifndef _WIN32 // the locale variables are Linux's; Windows has its user locale setting
TEST(UserAgent, LocaleFromTheEnvironment) {
    struct Case {
        const char* lcAll;
        const char* lang;
        const char* locale;
    } cases[] = {
        {nullptr, "de_AT.UTF-8", "de_AT"},
        {"fr_CA.ISO-8859-1@euro", "de_AT.UTF-8", "fr_CA"}, // LC_ALL wins
        {nullptr, "C", "en_US"},
        {nullptr, nullptr, "en_US"},
        {nullptr, "pt", "pt_"},
    };
    testsupport::ScopedEnv env;
    for (const Case& c : cases) {
        env.Set("LC_ALL", c.lcAll);
        env.Unset("LC_MESSAGES");
        env.Set("LANG", c.lang);
        EXPECT_EQ(FormatLocale(platform::GetUserLocale()), c.locale);
    }
}
#endif
