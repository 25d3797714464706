// The system's own patterns (HTTP status and header lines, URIs and authorities, the three date forms,
// authentication challenges, the JPEG file name) compile and give the groups their users read.
#include "foundation/reg_exp.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char* kNone = "<none>";

// The groups 1.. of the match as texts, kNone for a group that took no part; {"no match"} without one.
std::vector<std::string> Groups(const CRegExp& pattern, const std::string& text) {
    CRegExp re(pattern); // users work on a copy of the static object
    if (!re.Match(text))
        return {"no match"};
    std::vector<std::string> out;
    for (int i = 1; i < re.GetGroupCount(); ++i)
        out.push_back(re.GetGroupStart(i) < 0 ? kNone
                                              : text.substr(re.GetGroupStart(i), re.GetGroupLength(i)));
    return out;
}

using G = std::vector<std::string>;
const G kNoMatch{"no match"};

const CRegExp kStatus("^HTTP/(\\d+)\\.(\\d+) ([12345]\\d\\d) (.*)\\s*$");
const CRegExp
    kHeader("([!#\\\\$%&'*+-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ^_`abcdefghijklmnopqrstuvwxyz|~]+):"
            "\\s*([\t -~]*)\\s*$");
const CRegExp kContinuation("^\\s+");
const CRegExp kPartRange("content-range:\\s*bytes\\s+(\\d+)-(\\d+)", CRegExp::kIgnoreCase);
const CRegExp kMultipart("multipart/byteranges;.*boundary=<\"([^\"]+)\"|([0-9a-z'+_.-]+)>",
                         CRegExp::kIgnoreCase);

const CRegExp kUri("<([^:/?#]+):>?<//([^/?#]*)>?([^?#]*)<\\?([^#]*)>?<#(.*)>?");
const CRegExp
    kAuthority("<<((<[-A-Za-z0-9_.!~*'();:&=+$,]|%[0-9A-Fa-f][0-9A-Fa-f]>)*)@>?"
               "(<<<[A-Za-z0-9]|[A-Za-z0-9][-A-Za-z0-9]*[A-Za-z0-9]>\\.>*"
               "<[A-Za-z]|[A-Za-z][-A-Za-z0-9]*[A-Za-z0-9]>|\\d+\\.\\d+\\.\\d+\\.\\d+>)<:(\\d*)>?>?");

const CRegExp
    kRfc1123("<(mon|tue|wed|thu|fri|sat|sun),\\s+>?(\\d\\d)\\s+(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|"
             "nov|dec)\\s+(\\d\\d\\d\\d|\\d\\d)\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|->"
             "<\\d\\d\\d\\d>|[a-ik-z]\\b)",
             CRegExp::kIgnoreCase);
const CRegExp
    kRfc850("<(mon|monday|tue|tuesday|wed|wednesday|thu|thursday|fri|friday|sat|saturday|sun|sunday),"
            "\\s+>?(\\d\\d)<\\s+|->(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)<\\s+|->(\\d\\d)\\s+"
            "(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><\\d\\d\\d\\d>|[a-ik-z]\\b)",
            CRegExp::kIgnoreCase);
const CRegExp
    kAsctime("<(mon|tue|wed|thu|fri|sat|sun)\\s+>?(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)\\s+"
             "(\\d{1,2})\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+(\\d\\d\\d\\d)\\b",
             CRegExp::kIgnoreCase);

// Token characters: anything but separators, controls and DEL (\t, \x01-\x1f and \x7f are bytes).
const std::string kToken = std::string("[^][()<>{}@,;:/\\\\\"?= \t\x01-\x1f\x7f]+");
const CRegExp kChallenge("^(" + kToken + ")\\s*(.*)");
const CRegExp kParameterName("^(" + kToken + ")=(.*)");
const CRegExp kTokenValue("^(" + kToken + ")(.*)");
const CRegExp kQuotedValue(std::string("^\"(<[^\\\\\"\x01-\x1f\x7f]+|<\\\\\\\\>*\\\\.>*)\"(.*)"));
const CRegExp kSeparator("^\\s*,\\s*(.*)");

const CRegExp kJpegName("\\.[jJ][pP]<[eE]?[gG]|[eE]>$");

} // namespace

TEST(RegExpSystemPatterns, StatusLine) {
    EXPECT_EQ(Groups(kStatus, "HTTP/1.1 200 OK"), (G{"1", "1", "200", "OK"}));
    EXPECT_EQ(Groups(kStatus, "HTTP/1.0 404 Not Found"), (G{"1", "0", "404", "Not Found"}));
    EXPECT_EQ(Groups(kStatus, "HTTP/1.1 100 Continue"), (G{"1", "1", "100", "Continue"}));
    EXPECT_EQ(Groups(kStatus, "HTTP/12.34 503 "), (G{"12", "34", "503", ""}));
    EXPECT_EQ(Groups(kStatus, "HTTP/1.0 200"), kNoMatch); // no space after the code
    EXPECT_EQ(Groups(kStatus, "HTTP/1.1 600 X"), kNoMatch);
    EXPECT_EQ(Groups(kStatus, "XHTTP/1.1 200 OK"), kNoMatch);
}

TEST(RegExpSystemPatterns, HeaderAndContinuationLines) {
    EXPECT_EQ(Groups(kHeader, "Content-Length: 42"), (G{"Content-Length", "42"}));
    EXPECT_EQ(Groups(kHeader, "X-A:b"), (G{"X-A", "b"}));
    EXPECT_EQ(Groups(kHeader, "Set-Cookie: a=1; path=/"), (G{"Set-Cookie", "a=1; path=/"}));
    EXPECT_EQ(Groups(kHeader, "X:\tv\tw"), (G{"X", "v\tw"}));
    EXPECT_EQ(Groups(kHeader, "Empty:"), (G{"Empty", ""}));
    EXPECT_EQ(Groups(kHeader, "X: caf\xe9"), kNoMatch); // a byte above 0x7e in the value
    EXPECT_EQ(Groups(kHeader, "no colon here"), kNoMatch);
    EXPECT_EQ(Groups(kContinuation, " more"), G{});
    EXPECT_EQ(Groups(kContinuation, "X-A: b"), kNoMatch);
}

TEST(RegExpSystemPatterns, PartRangeAndMultipartBoundary) {
    EXPECT_EQ(Groups(kPartRange, "Content-Type: text/plain\r\nContent-Range: bytes 500-999/8000"),
              (G{"500", "999"}));
    EXPECT_EQ(Groups(kPartRange, "CONTENT-RANGE:bytes\t0-0"), (G{"0", "0"}));
    EXPECT_EQ(Groups(kPartRange, "Content-Range: bytes */8000"), kNoMatch);
    EXPECT_EQ(Groups(kMultipart, "multipart/byteranges; boundary=THIS_STRING_SEPARATES"),
              (G{kNone, "THIS_STRING_SEPARATES"}));
    EXPECT_EQ(Groups(kMultipart, "Multipart/ByteRanges; charset=x; boundary=\"a b:c\""), (G{"a b:c", kNone}));
    EXPECT_EQ(Groups(kMultipart, "multipart/byteranges; boundary=\"\""), kNoMatch);
    EXPECT_EQ(Groups(kMultipart, "text/html; boundary=x"), kNoMatch);
}

TEST(RegExpSystemPatterns, UriAndAuthority) {
    EXPECT_EQ(Groups(kUri, "http://user@host:8080/path/x?q=1&r#frag"),
              (G{"http", "user@host:8080", "/path/x", "q=1&r", "frag"}));
    EXPECT_EQ(Groups(kUri, "/just/a/path"), (G{kNone, kNone, "/just/a/path", kNone, kNone}));
    EXPECT_EQ(Groups(kUri, "//host"), (G{kNone, "host", "", kNone, kNone}));
    EXPECT_EQ(Groups(kUri, "?q"), (G{kNone, kNone, "", "q", kNone}));
    EXPECT_EQ(Groups(kUri, ""), (G{kNone, kNone, "", kNone, kNone})); // every part is optional

    EXPECT_EQ(Groups(kAuthority, "a1.b-2.c:8080"), (G{kNone, kNone, "a1.b-2.c", "8080"}));
    EXPECT_EQ(Groups(kAuthority, "10.0.0.1:"), (G{kNone, kNone, "10.0.0.1", ""}));
    EXPECT_EQ(Groups(kAuthority, "user:pw%41@www.example.com"),
              (G{"user:pw%41", "%41", "www.example.com", kNone}));
    EXPECT_EQ(Groups(kAuthority, "-b.c"), (G{kNone, kNone, kNone, kNone})); // an empty host
    EXPECT_EQ(Groups(kAuthority, "host"), (G{kNone, kNone, "host", kNone}));
}

TEST(RegExpSystemPatterns, TheThreeDateForms) {
    EXPECT_EQ(Groups(kRfc1123, "Sun, 06 Nov 1994 08:49:37 GMT"),
              (G{"Sun", "06", "Nov", "1994", "08", "49", "37", "GMT"}));
    EXPECT_EQ(Groups(kRfc1123, "06 Nov 1994 08:49 +0100"),
              (G{kNone, "06", "Nov", "1994", "08", "49", kNone, "+0100"}));
    EXPECT_EQ(Groups(kRfc1123, "sun, 06 NOV 94 08:49:37 z"),
              (G{"sun", "06", "NOV", "94", "08", "49", "37", "z"}));
    EXPECT_EQ(Groups(kRfc1123, "Sun, 06 Foo 1994 08:49:37 GMT"), kNoMatch);
    EXPECT_EQ(Groups(kRfc1123, "Sunday, 06-Nov-94 08:49:37 GMT"), kNoMatch);

    EXPECT_EQ(Groups(kRfc850, "Sunday, 06-Nov-94 08:49:37 GMT"),
              (G{"Sunday", "06", "Nov", "94", "08", "49", "37", "GMT"}));
    EXPECT_EQ(Groups(kRfc850, "Wed, 09 Jun 21 10:18:14 -0500"),
              (G{"Wed", "09", "Jun", "21", "10", "18", "14", "-0500"}));

    EXPECT_EQ(Groups(kAsctime, "Sun Nov  6 08:49:37 1994"), (G{"Sun", "Nov", "6", "08", "49", "37", "1994"}));
    EXPECT_EQ(Groups(kAsctime, "Nov 16 08:49 1994"), (G{kNone, "Nov", "16", "08", "49", kNone, "1994"}));
    EXPECT_EQ(Groups(kAsctime, "Sun Nov  6 08:49:37 19945"), kNoMatch); // \b after the year
}

TEST(RegExpSystemPatterns, AuthenticationChallenges) {
    EXPECT_EQ(Groups(kChallenge, "Basic realm=\"Pixolane\""), (G{"Basic", "realm=\"Pixolane\""}));
    EXPECT_EQ(Groups(kChallenge, "NTLM"), (G{"NTLM", ""}));
    EXPECT_EQ(Groups(kChallenge, " Basic"), kNoMatch);
    EXPECT_EQ(Groups(kParameterName, "realm=\"a\", charset=x"), (G{"realm", "\"a\", charset=x"}));
    EXPECT_EQ(Groups(kParameterName, "realm"), kNoMatch);
    EXPECT_EQ(Groups(kTokenValue, "abc, d=e"), (G{"abc", ", d=e"}));
    EXPECT_EQ(Groups(kQuotedValue, "\"a\\\"b\\\\\", c=d"), (G{"a\\\"b\\\\", ", c=d"})); // escapes kept
    EXPECT_EQ(Groups(kQuotedValue, "\"\", x"), (G{"", ", x"}));
    EXPECT_EQ(Groups(kQuotedValue, "\"open"), kNoMatch);
    EXPECT_EQ(Groups(kQuotedValue, "\"a\x01\""), kNoMatch); // controls are not quoted text
    EXPECT_EQ(Groups(kSeparator, " , d=e"), (G{"d=e"}));
    EXPECT_EQ(Groups(kSeparator, "d=e"), kNoMatch);
}

TEST(RegExpSystemPatterns, JpegFileNames) {
    EXPECT_EQ(kJpegName.GetGroupCount(), 1);
    // $ holds before a line feed in the default mode, so a trailing one still matches.
    for (const char* name : {"a.jpg", "b.JPEG", "c.jpe", "d.JpE", "/x/y.Jpeg", ".jpg", "i.jpeg\n"})
        EXPECT_EQ(Groups(kJpegName, name), G{}) << name;
    for (const char* name : {"e.jpgx", "f.jp", "g.jpeg.txt", "jpg", "h.png"})
        EXPECT_EQ(Groups(kJpegName, name), kNoMatch) << name;
}
