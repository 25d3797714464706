#include "net/http_date.h"

#include "foundation/reg_exp.h"
#include "foundation/string_format.h"
#include "net/network_exception.h"
#include "platform/file_system.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace {

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

struct ZoneName {
    const char* name;
    int hours; // offset from universal time
};
constexpr ZoneName kZoneNames[] = {{"UT", 0},   {"GMT", 0},  {"Z", 0},    {"EST", -5},
                                   {"CST", -6}, {"MST", -7}, {"PST", -8}, {"EDT", -4},
                                   {"CDT", -5}, {"MDT", -6}, {"PDT", -7}};

constexpr int64_t kSecondsPerDay = 86400;
constexpr int kEpochYear = 1970;        // the first year a time value can denote
constexpr int kTwoDigitYearLimit = 100; // below this a year is written with two digits
constexpr int kMaxYearsAhead = 50;      // how far into the future a two-digit year may point

constexpr const char* kRFC1123Pattern =
    "<(mon|tue|wed|thu|fri|sat|sun),\\s+>?(\\d\\d)\\s+(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)\\s+"
    "(\\d\\d\\d\\d|\\d\\d)\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><\\d\\d\\d\\d>|[a-ik-z]"
    "\\b)";
constexpr const char* kRFC850Pattern =
    "<(mon|monday|tue|tuesday|wed|wednesday|thu|thursday|fri|friday|sat|saturday|sun|sunday),\\s+>?"
    "(\\d\\d)<\\s+|->(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)<\\s+|->(\\d\\d)\\s+(\\d\\d):(\\d\\d)"
    "<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><\\d\\d\\d\\d>|[a-ik-z]\\b)";
constexpr const char* kAsctimePattern =
    "<(mon|tue|wed|thu|fri|sat|sun)\\s+>?(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)\\s+(\\d{1,2})\\s+"
    "(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+(\\d\\d\\d\\d)\\b";

// Group numbers of the fields in one date pattern; 0 for a field the form lacks.
struct DateForm {
    CRegExp& pattern; // this call's copy of a shared pattern
    int day, month, year, hour, minute, second, zone;
};

const CRegExp& RFC1123Pattern() {
    static const CRegExp pattern(kRFC1123Pattern, CRegExp::kIgnoreCase);
    return pattern;
}
const CRegExp& RFC850Pattern() {
    static const CRegExp pattern(kRFC850Pattern, CRegExp::kIgnoreCase);
    return pattern;
}
const CRegExp& AsctimePattern() {
    static const CRegExp pattern(kAsctimePattern, CRegExp::kIgnoreCase);
    return pattern;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

// The days from 1970-01-01 to the given date of the proleptic Gregorian calendar. Days beyond the end
// of the month (or 0) count on (or back) linearly.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    int64_t year;
    int month; // 1 to 12
    int day;   // 1 to 31
};

CivilDate CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153; // months from March
    const int day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    const int month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int64_t FloorDivide(int64_t value, int64_t divisor) {
    int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

int YearOf(int64_t time) {
    return static_cast<int>(CivilFromDays(FloorDivide(time, kSecondsPerDay)).year);
}

// The decimal value of a group of digits (the patterns allow at most four), 0 when it took no part.
int GroupNumber(const CRegExp& match, const std::string& text, int group) {
    int start = match.GetGroupStart(group);
    int value = 0;
    for (int i = 0; start >= 0 && i < match.GetGroupLength(group); ++i)
        value = value * 10 + (text[static_cast<size_t>(start + i)] - '0');
    return value;
}

std::string_view GroupText(const CRegExp& match, const std::string& text, int group) {
    int start = match.GetGroupStart(group);
    if (start < 0)
        return {};
    return std::string_view(text).substr(static_cast<size_t>(start),
                                         static_cast<size_t>(match.GetGroupLength(group)));
}

// The zone's offset from universal time in seconds: "+hhmm"/"-hhmm", or a name of the table; any
// other name (military letters but "Z" included) counts as universal time.
int64_t ZoneOffset(std::string_view zone) {
    if (!zone.empty() && (zone[0] == '+' || zone[0] == '-')) {
        int value = 0;
        for (char c : zone.substr(1))
            value = value * 10 + (c - '0');
        int64_t offset = (value / 100) * 3600 + (value % 100) * 60;
        return zone[0] == '-' ? -offset : offset;
    }
    for (const ZoneName& entry : kZoneNames) {
        if (EqualsIgnoringCase(zone, entry.name))
            return int64_t(entry.hours) * 3600;
    }
    return 0;
}

} // namespace

std::string FormatHTTPDate(int64_t time) {
    const int64_t days = FloorDivide(time, kSecondsPerDay);
    const int64_t secondOfDay = time - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);
    const int64_t weekday = ((days % 7) + 7 + 4) % 7; // 1970-01-01 was a Thursday
    return FormatString("%.3s, %02d %.3s %04lld %02d:%02d:%02d GMT", kWeekdayNames[weekday], date.day,
                        kMonthNames[date.month - 1], static_cast<long long>(date.year),
                        static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                        static_cast<int>(secondOfDay % 60));
}

std::string FormatHTTPDate() {
    return FormatHTTPDate(platform::CurrentTimeSeconds());
}

int64_t ParseHTTPDate(const std::string& text) {
    return ParseHTTPDate(text, platform::CurrentTimeSeconds());
}

int64_t ParseHTTPDate(const std::string& text, int64_t now) {
    // Copies of the shared patterns, whose group arrays are this call's own.
    CRegExp rfc1123 = RFC1123Pattern();
    CRegExp rfc850 = RFC850Pattern();
    CRegExp asctime = AsctimePattern();
    const DateForm forms[] = {
        {rfc1123, 2, 3, 4, 5, 6, 7, 8},
        {rfc850, 2, 3, 4, 5, 6, 7, 8},
        {asctime, 3, 2, 7, 4, 5, 6, 0},
    };
    const DateForm* found = nullptr;
    for (const DateForm& form : forms) {
        if (form.pattern.Match(text)) {
            found = &form;
            break;
        }
    }
    if (found == nullptr)
        throw CInternetBadDateException(text);
    const CRegExp& match = found->pattern;

    const int day = GroupNumber(match, text, found->day);
    const int hour = GroupNumber(match, text, found->hour);
    const int minute = GroupNumber(match, text, found->minute);
    const int second = GroupNumber(match, text, found->second);

    std::string_view monthName = GroupText(match, text, found->month);
    int month = 0;
    while (month < 12 && !EqualsIgnoringCase(monthName, kMonthNames[month]))
        ++month;
    if (month == 12)
        throw CInternetBadDateException(text);

    int year = GroupNumber(match, text, found->year);
    if (year < kTwoDigitYearLimit) {
        const int currentYear = YearOf(now);
        year += currentYear - currentYear % 100;
        if (year > currentYear + kMaxYearsAhead)
            year -= 100;
    }
    if (year < kEpochYear)
        throw CInternetBadDateException(text);

    int64_t offset = 0;
    if (found->zone != 0)
        offset = ZoneOffset(GroupText(match, text, found->zone));

    const int64_t days = DaysFromCivil(year, month + 1, day);
    return static_cast<int64_t>(days * kSecondsPerDay + hour * 3600 + minute * 60 + second - offset);
}
