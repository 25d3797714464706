#include "net/http_date.h"
#include "net/network_exception.h"
#include "tests/support/catalogues.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/support/scoped_time_zone.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int64_t kExample = 784111777;     // Sun, 06 Nov 1994 08:49:37 GMT
constexpr int64_t kMid2026 = 1780272000;    // 2026-06-01, the "now" of two-digit years
constexpr int64_t kLastOf2037 = 2145916799; // 2037-12-31 23:59:59

// Every test runs in several local time zones, IANA names and one POSIX rule that needs no
// database, including half- and quarter-hour offsets and a half-hour daylight-saving shift. None
// of them may change a result.
struct LocalZone {
    const char* tz;
    long januaryOffset; // seconds east of universal time on 2026-01-01, to prove the zone took effect
};
#ifndef _WIN32
const LocalZone kLocalZones[] = {
    {"UTC", 0},
    {"America/New_York", -5 * 3600},
    {"Asia/Kolkata", 5 * 3600 + 1800},
    {"Australia/Lord_Howe", 11 * 3600},
    {"Pacific/Chatham", 13 * 3600 + 2700},
    {"LHST-10:30LHDT-11,M10.1.0,M4.1.0", 11 * 3600},
};
#else
// The C runtime reads no zone database: its own zone texts, "XXX[+|-]hh[:mm]" with a name of three
// letters, with half- and quarter-hour offsets.
const LocalZone kLocalZones[] = {
    {"UTC0", 0},
    {"EST5", -5 * 3600},
    {"IST-5:30", 5 * 3600 + 1800},
    {"CHA-12:45", 12 * 3600 + 2700},
};
#endif

// The C library's own calendar for a time, to check ours against.
bool BreakDownUtc(int64_t time, std::tm& utc) {
#ifndef _WIN32
    const int64_t value = static_cast<int64_t>(time);
    return gmtime_r(&value, &utc) != nullptr;
#else
    const __time64_t value = time; // the runtime's own time_t is 32 bits wide
    return _gmtime64_s(&utc, &value) == 0;
#endif
}

class HTTPDate : public CataloguesInstalled, public ::testing::WithParamInterface<LocalZone> {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_zone = std::make_unique<ScopedTimeZone>(GetParam().tz);
#ifndef _WIN32
        int64_t january = 1767225600; // 2026-01-01 00:00:00 UTC
        std::tm local{};
        ASSERT_NE(localtime_r(&january, &local), nullptr);
        ASSERT_EQ(local.tm_gmtoff, GetParam().januaryOffset) << "time zone not in effect";
#else
        ASSERT_EQ(-_timezone, GetParam().januaryOffset) << "time zone not in effect"; // seconds west
#endif
    }
    void TearDown() override {
        m_zone.reset();
        CataloguesInstalled::TearDown();
    }

    std::unique_ptr<ScopedTimeZone> m_zone;
};

INSTANTIATE_TEST_SUITE_P(LocalZones, HTTPDate, ::testing::ValuesIn(kLocalZones),
                         [](const ::testing::TestParamInfo<LocalZone>& info) {
                             std::string name;
                             for (const char* p = info.param.tz; *p != '\0'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST_P(HTTPDate, ThreeFormsGiveOneValue) {
    const char* texts[] = {
        "Sun, 06 Nov 1994 08:49:37 GMT",
        "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun Nov  6 08:49:37 1994",
        // any case, more spaces, no weekday
        "sUN,   06   nOV   1994   08:49:37   gmt",
        "06 NOV 1994 08:49:37 UT",
        "Nov 6 08:49:37 1994",
        "06-Nov-94 08:49:37 Z",
        "06 Nov 94 08:49:37 GMT",
        // the first date anywhere in the text
        "Date: Sun, 06 Nov 1994 08:49:37 GMT; comment",
    };
    for (const char* text : texts)
        EXPECT_EQ(ParseHTTPDate(text, kMid2026), kExample) << text;
    EXPECT_EQ(FormatHTTPDate(kExample), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST_P(HTTPDate, SecondsAndWeekdayAreOptional) {
    EXPECT_EQ(ParseHTTPDate("06 Nov 1994 08:49 +0100"), kExample - 37 - 3600);
    EXPECT_EQ(ParseHTTPDate("Sunday, 06-Nov-94 08:49 GMT", kMid2026), kExample - 37);
    EXPECT_EQ(ParseHTTPDate("Nov  6 08:49 1994"), kExample - 37);
    // The weekday is not checked against the date.
    EXPECT_EQ(ParseHTTPDate("Fri, 06 Nov 1994 08:49:37 GMT"), kExample);
}

TEST_P(HTTPDate, ZonesByNameAndNumber) {
    const struct {
        const char* zone;
        long offset; // seconds east of universal time
    } cases[] = {
        {"UT", 0},
        {"GMT", 0},
        {"Z", 0},
        {"EST", -5 * 3600},
        {"CST", -6 * 3600},
        {"MST", -7 * 3600},
        {"PST", -8 * 3600},
        {"EDT", -4 * 3600},
        {"CDT", -5 * 3600},
        {"MDT", -6 * 3600},
        {"PDT", -7 * 3600},
        // names in any case
        {"est", -5 * 3600},
        {"Pdt", -7 * 3600},
        {"z", 0},
        // unknown names and military letters other than "Z" count as universal time
        {"CET", 0},
        {"UTC", 0},
        {"A", 0},
        {"y", 0},
        // hhmm, either sign, with half and quarter hours
        {"+0100", 3600},
        {"-0500", -5 * 3600},
        {"+0530", 5 * 3600 + 1800},
        {"-0930", -(9 * 3600 + 1800)},
        {"+1345", 13 * 3600 + 2700},
        {"+0000", 0},
        {"-0000", 0},
        // minutes are not checked: 99 minutes are 99 minutes
        {"+0099", 99 * 60},
    };
    for (const auto& c : cases) {
        std::string rfc1123 = std::string("Sun, 06 Nov 1994 08:49:37 ") + c.zone;
        std::string rfc850 = std::string("Sunday, 06-Nov-94 08:49:37 ") + c.zone;
        EXPECT_EQ(ParseHTTPDate(rfc1123, kMid2026), kExample - c.offset) << rfc1123;
        EXPECT_EQ(ParseHTTPDate(rfc850, kMid2026), kExample - c.offset) << rfc850;
    }
    // 08:49:37 EST is 13:49:37 universal time.
    EXPECT_EQ(FormatHTTPDate(ParseHTTPDate("Sun, 06 Nov 1994 08:49:37 EST")),
              "Sun, 06 Nov 1994 13:49:37 GMT");
}

TEST_P(HTTPDate, TwoDigitYearsStayWithinFiftyYearsAhead) {
    const struct {
        const char* year;
        int64_t now;
        int expected;
    } cases[] = {
        {"94", kMid2026, 1994}, // more than 50 years ahead in this century: the previous one
        {"26", kMid2026, 2026}, // this year
        {"00", kMid2026, 2000},   {"69", kMid2026, 2069},
        {"76", kMid2026, 2076},   // exactly 50 years ahead stays
        {"77", kMid2026, 1977},   // 51 years ahead does not
        {"99", 2474582400, 1999}, // in 2048, 2099 is 51 years ahead
        {"99", 2506118400, 2099}, // in 2049, 50
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.year);
        std::string rfc1123 = std::string("Tue, 01 Mar ") + c.year + " 12:00:00 GMT";
        std::string rfc850 = std::string("Tuesday, 01-Mar-") + c.year + " 12:00:00 GMT";
        std::string expected = std::to_string(c.expected) + " 12:00:00 GMT";
        EXPECT_EQ(FormatHTTPDate(ParseHTTPDate(rfc1123, c.now)).substr(12), expected);
        EXPECT_EQ(FormatHTTPDate(ParseHTTPDate(rfc850, c.now)).substr(12), expected);
    }
    // Four digits below 100 are a two-digit year too.
    EXPECT_EQ(ParseHTTPDate("Sun, 06 Nov 0094 08:49:37 GMT", kMid2026), kExample);
    // Without `now`, the current year decides: "00" is this century's.
    EXPECT_EQ(FormatHTTPDate(ParseHTTPDate("Sat, 01 Jan 00 00:00:00 GMT")), "Sat, 01 Jan 2000 00:00:00 GMT");
}

TEST_P(HTTPDate, TimesPastTheEndOf32BitValues) {
    const struct {
        const char* text;
        int64_t time;
    } cases[] = {
        {"Tue, 19 Jan 2038 03:14:07 GMT", 2147483647},   // the last second a 32-bit value holds
        {"Tue, 19 Jan 2038 03:14:08 GMT", 2147483648},   // the first it does not
        {"Sun, 07 Feb 2106 06:28:16 GMT", 4294967296},   // past unsigned 32 bits too
        {"Fri, 01 Jan 2100 00:00:00 GMT", 4102444800},   // 2100 is no leap year...
        {"Mon, 01 Mar 2100 00:00:00 GMT", 4107542400},   // ...so March follows 28 February
        {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799}, // the largest four-digit year
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseHTTPDate(c.text, kMid2026), c.time) << c.text;
        EXPECT_EQ(FormatHTTPDate(c.time), c.text);
    }
    // The other forms, and a zone that moves the time across the boundary.
    EXPECT_EQ(ParseHTTPDate("Tuesday, 19-Jan-38 03:14:08 GMT", kMid2026), 2147483648);
    EXPECT_EQ(ParseHTTPDate("Tue Jan 19 03:14:08 2038", kMid2026), 2147483648);
    EXPECT_EQ(ParseHTTPDate("Mon, 18 Jan 2038 22:14:08 EST", kMid2026), 2147483648);
    EXPECT_EQ(ParseHTTPDate("Tue, 19 Jan 2038 04:14:08 +0100", kMid2026), 2147483648);
}

TEST_P(HTTPDate, RejectionsCarryTheWholeText) {
    const char* texts[] = {
        "",
        "yesterday",
        "Sun, 06 Foo 1994 08:49:37 GMT",    // no such month
        "Sun, 6 Nov 1994 08:49:37 GMT",     // the RFC 1123 day has two digits
        "Sun, 06 Nov 1994 08:49:37",        // no zone
        "Sun, 06 Nov 1994 08:49:37 J",      // "J" is not a zone letter
        "Sun, 06 Nov 1994 8:49:37 GMT",     // one-digit hour
        "Sun, 06 Nov 1994 08:49:37 +100",   // three-digit offset
        "Sun, 06 Nov 994 08:49:37 GMT",     // three-digit year
        "Sunday, 06-Nov-1994 08:49:37 GMT", // the RFC 850 year has two digits
        "Sun Nov 6 08:49:37 94",            // the asctime year has four
        "Sun Nov 6 08:49:37 19945",         // ... and ends at a word boundary
        "Sun, 06 Nov 1969 23:59:59 GMT",    // before the first year a time value can denote
        "Sun, 06 Nov 0100 08:49:37 GMT",    // a full year before 1970
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        try {
            ParseHTTPDate(text, kMid2026);
            ADD_FAILURE() << "accepted";
        } catch (const CInternetBadDateException& e) {
            EXPECT_STREQ(e.GetCode(), "EINETBADDATE");
            EXPECT_EQ(e.GetInput(), text);
            EXPECT_EQ(e.GetText(), std::string("Invalid date: ") + text);
        }
    }
}

TEST_P(HTTPDate, FieldsBeyondTheirRangeCountOn) {
    // As calendar arithmetic does: 31 November is 1 December, 24:00 the next midnight.
    EXPECT_EQ(FormatHTTPDate(ParseHTTPDate("31 Nov 1994 24:00:60 GMT")), "Fri, 02 Dec 1994 00:01:00 GMT");
    // A zone may take the first moments of 1970 just before the epoch.
    EXPECT_EQ(ParseHTTPDate("Thu, 01 Jan 1970 00:00:00 +0100"), -3600);
}

// Every day from 1970 to 2037, at a time of day that moves with the day, formatted against the C
// library's universal-time breakdown; parsed back (RFC 1123 and asctime) on the first and last day of
// every month and on every 13th day, which keeps the run short without skipping a month.
TEST_P(HTTPDate, EveryDayOfTheRangeRoundTrips) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    int failures = 0;
    int parsedDays = 0;
    for (int64_t day = 0; day * 86400 <= kLastOf2037 && failures < 10; ++day) {
        int64_t time = day * 86400 + (day * 7919) % 86400;
        std::tm utc{};
        ASSERT_TRUE(BreakDownUtc(time, utc));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                      utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                      utc.tm_sec);
        std::string text = FormatHTTPDate(time);
        if (text != expected) {
            ADD_FAILURE() << time << ": " << text << " != " << expected;
            ++failures;
        }
        int64_t tomorrow = time + 86400;
        std::tm next{};
        ASSERT_TRUE(BreakDownUtc(tomorrow, next));
        if (day % 13 != 0 && utc.tm_mday != 1 && next.tm_mday != 1)
            continue;
        ++parsedDays;
        char asctime[64];
        std::snprintf(asctime, sizeof asctime, "%s %s %2d %02d:%02d:%02d %04d", kDays[utc.tm_wday],
                      kMonths[utc.tm_mon], utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                      utc.tm_year + 1900);
        if (ParseHTTPDate(text, kMid2026) != time || ParseHTTPDate(asctime, kMid2026) != time) {
            ADD_FAILURE() << time << ": " << text << " / " << asctime;
            ++failures;
        }
    }
    EXPECT_GT(parsedDays, 816 + 1700); // two per month of 68 years, and every 13th day
    EXPECT_EQ(FormatHTTPDate(kLastOf2037), "Thu, 31 Dec 2037 23:59:59 GMT");
    EXPECT_EQ(FormatHTTPDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST_P(HTTPDate, CurrentTimeRoundTrips) {
    int64_t before = static_cast<int64_t>(std::time(nullptr));
    int64_t parsed = ParseHTTPDate(FormatHTTPDate());
    int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_GE(parsed, before);
    EXPECT_LE(parsed, after);
}

// --- Cross-check with Python's mail-date parser and formatter ------------------------------------

struct ReferenceLine {
    std::string kind; // "parse" or "format"
    std::string first, second;
};

// The reference script's output, produced once per run with a fixed seed.
const std::vector<ReferenceLine>& ReferenceDates() {
    static const std::vector<ReferenceLine> lines = [] {
        std::vector<ReferenceLine> result;
        // A child process rather than a shell pipe: on Windows Python runs on the Linux side.
        testsupport::ScopedTempFolder folder("px-http-dates");
        testsupport::ChildProcess python(
            {"python3", PX_SOURCE_DIR "/tests/net/http_dates.py", "20261208", "3000"},
            testsupport::ChildProcess::Options{.environment = {}, .outputPath = folder / "dates", .errorPath = ""});
        if (!python.Wait(120) || python.ExitCode() != 0)
            return result;
        std::istringstream stream(folder.Read("dates"));
        for (std::string line; std::getline(stream, line);) {
            size_t tab1 = line.find('\t');
            size_t tab2 = line.find('\t', tab1 + 1);
            if (tab1 == std::string::npos || tab2 == std::string::npos)
                continue;
            result.push_back(
                {line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
        }
        return result;
    }();
    return lines;
}

TEST_P(HTTPDate, AgreesWithPythonEmailUtils) {
    const std::vector<ReferenceLine>& lines = ReferenceDates();
    ASSERT_EQ(lines.size(), 6003u) << "python3 tests/net/http_dates.py did not run";
    int parsed = 0, formatted = 0, failures = 0;
    for (const ReferenceLine& line : lines) {
        if (failures >= 10)
            break;
        if (line.kind == "parse") {
            ++parsed;
            int64_t expected = std::stoll(line.second);
            try {
                int64_t got = ParseHTTPDate(line.first, kMid2026);
                if (got != expected) {
                    ADD_FAILURE() << line.first << ": " << got << " != " << expected;
                    ++failures;
                }
            } catch (const CException& e) {
                ADD_FAILURE() << line.first << ": " << e.GetText();
                ++failures;
            }
        } else if (line.kind == "format") {
            ++formatted;
            int64_t value = std::stoll(line.first);
            if (FormatHTTPDate(value) != line.second) {
                ADD_FAILURE() << value << ": " << FormatHTTPDate(value) << " != " << line.second;
                ++failures;
            }
        }
    }
    EXPECT_EQ(parsed, 3000);
    EXPECT_EQ(formatted, 3003);
}

} // namespace
