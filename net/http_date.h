// HTTP dates: formatting in the RFC 1123 form and parsing of the RFC 1123, RFC 850 and asctime forms
// with numeric and named zones. Time values are seconds since 1970-01-01 00:00:00 UTC; the
// conversion is pure calendar arithmetic in universal time, so the local time zone of the process
// never enters.
//
// Threads: any; the three date patterns are compiled once and each call matches with its own copies.
#pragma once

#include <ctime>
#include <string>

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHTTPDate(int64_t time);
// The current time.
std::string FormatHTTPDate();

// The universal time that the first date in `text` denotes. Two-digit years are placed in the
// current century unless that is more than 50 years after the current year, else in the previous one.
// Raises CInternetBadDateException, with the whole text, when no form matches, the month is unknown,
// or the calendar time lies before 1970.
int64_t ParseHTTPDate(const std::string& text);
// The same with two-digit years placed relative to the year of `now` instead of the current time.
int64_t ParseHTTPDate(const std::string& text, int64_t now);
