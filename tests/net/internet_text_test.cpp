#include "net/base64.h"
#include "net/network_exception.h"
#include "net/percent_encoding.h"
#include "net/uri_patterns.h"
#include "tests/support/catalogues.h"

#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// --- URI and authority patterns ------------------------------------------------------------------

struct URICase {
    const char* uri;
    const char* scheme;
    const char* authority;
    const char* path;
    const char* query;
    const char* fragment;
};

TEST(URIPattern, SplitsIntoFiveParts) {
    const URICase cases[] = {
        // every part present
        {"http://user@host:80/a/b?x=1&y#top", "http", "user@host:80", "/a/b", "x=1&y", "top"},
        // no authority: the path follows the scheme
        {"mailto:someone", "mailto", "", "someone", "", ""},
        // a bare path with a query, as a request line's target
        {"/servlet/GetImageID?a=b", "", "", "/servlet/GetImageID", "a=b", ""},
        // an authority without a path
        {"http://h:8080", "http", "h:8080", "", "", ""},
        // "?" inside the fragment belongs to it; "#" ends the query
        {"x://a?q#f?g#h", "x", "a", "", "q", "f?g#h"},
        // the empty text matches with every group empty
        {"", "", "", "", "", ""},
        // a "/" before the first ":" means there is no scheme
        {"/a:b", "", "", "/a:b", "", ""},
    };
    for (const URICase& c : cases) {
        SCOPED_TRACE(c.uri);
        CRegExp match = GetURIPattern();
        ASSERT_TRUE(match.Match(std::string(c.uri)));
        std::string uri = c.uri;
        EXPECT_EQ(match.GetGroupStart(0), 0);
        EXPECT_EQ(GetMatchGroup(match, uri, kURIScheme), c.scheme);
        EXPECT_EQ(GetMatchGroup(match, uri, kURIAuthority), c.authority);
        EXPECT_EQ(GetMatchGroup(match, uri, kURIPath), c.path);
        EXPECT_EQ(GetMatchGroup(match, uri, kURIQuery), c.query);
        EXPECT_EQ(GetMatchGroup(match, uri, kURIFragment), c.fragment);
    }
}

TEST(URIPattern, AbsentGroupReadsAsEmptyButEmptyGroupTakesPart) {
    CRegExp match = GetURIPattern();
    std::string uri = "http://h/p?";
    ASSERT_TRUE(match.Match(uri));
    EXPECT_EQ(match.GetGroupStart(kURIFragment), -1); // no "#"
    EXPECT_EQ(match.GetGroupStart(kURIQuery), 11);    // "?" with nothing after it
    EXPECT_EQ(GetMatchGroup(match, uri, kURIQuery), "");
}

struct AuthorityCase {
    const char* authority;
    const char* userInfo;
    const char* host;
    const char* port;
    bool portPresent; // the port group took part (a ":" followed the host)
};

TEST(AuthorityPattern, HostFormsAndPorts) {
    const AuthorityCase cases[] = {
        // labels with inner hyphens and digits, and a port
        {"a1.b-2.c:8080", "", "a1.b-2.c", "8080", true},
        // a colon without digits: the port group takes part, empty
        {"10.0.0.1:", "", "10.0.0.1", "", true},
        // a leading hyphen is no host at all
        {"-b.c", "", "", "", false},
        // a single label
        {"localhost", "", "localhost", "", false},
        // user information with every allowed punctuation and an escape
        {"u-_.!~*'();:&=+$,%41@h:1", "u-_.!~*'();:&=+$,%41", "h", "1", true},
        // user information without a host after it is read as the host
        {"u@", "", "u", "", false},
        // a broken escape ends the user information: the host is then read from the start
        {"a%zz@h", "", "a", "", false},
        // the last label must begin with a letter: four runs of digits, or nothing
        {"1.2.3", "", "", "", false},
        {"1.2.3.4.5", "", "1.2.3.4", "", false},
        {"999.1.1.1:80", "", "999.1.1.1", "80", true},
        // a label may begin with a digit when it is not the last
        {"3com.example", "", "3com.example", "", false},
        // a trailing dot or hyphen is not part of the host
        {"host.", "", "host", "", false},
        {"a-.b", "", "a", "", false},
        // an underscore ends the host
        {"x_y.com", "", "x", "", false},
        // a bracketed address is not in the grammar
        {"[::1]:80", "", "", "", false},
        // digits after the colon only
        {"h:80x", "", "h", "80", true},
        {"h:abc", "", "h", "", true},
        // the grammar does not bound the port's value
        {"h:99999", "", "h", "99999", true},
        // the empty authority
        {"", "", "", "", false},
    };
    for (const AuthorityCase& c : cases) {
        SCOPED_TRACE(c.authority);
        CRegExp match = GetAuthorityPattern();
        std::string authority = c.authority;
        ASSERT_TRUE(match.Match(authority));
        EXPECT_EQ(match.GetGroupStart(0), 0);
        EXPECT_EQ(GetMatchGroup(match, authority, kAuthorityUserInfo), c.userInfo);
        EXPECT_EQ(GetMatchGroup(match, authority, kAuthorityHost), c.host);
        EXPECT_EQ(GetMatchGroup(match, authority, kAuthorityPort), c.port);
        EXPECT_EQ(match.GetGroupStart(kAuthorityPort) >= 0, c.portPresent);
    }
}

TEST(AuthorityPattern, UpperCaseLettersAndEmptyLabels) {
    // Upper-case letters are letters; two dots in a row are not a label.
    CRegExp match = GetAuthorityPattern();
    std::string authority = "WWW.Example..com";
    ASSERT_TRUE(match.Match(authority));
    EXPECT_EQ(GetMatchGroup(match, authority, kAuthorityHost), "WWW.Example");
}

// Copies of the shared patterns match concurrently, each with its own groups.
TEST(URIPattern, CopiesMatchConcurrently) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kRounds; ++i) {
                std::string host = std::string("h").append(std::to_string(t)).append(".example");
                std::string uri = "http://" + host + ":" + std::to_string(1000 + i) + "/p";
                CRegExp uriMatch = GetURIPattern();
                CRegExp authorityMatch = GetAuthorityPattern();
                std::string authority;
                if (uriMatch.Match(uri))
                    authority = GetMatchGroup(uriMatch, uri, kURIAuthority);
                if (!authorityMatch.Match(authority) ||
                    GetMatchGroup(authorityMatch, authority, kAuthorityHost) != host ||
                    GetMatchGroup(authorityMatch, authority, kAuthorityPort) != std::to_string(1000 + i))
                    ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// --- Percent-encoding ----------------------------------------------------------------------------

TEST(PercentEncode, EscapesEverythingButLettersAndDigits) {
    const struct {
        std::string text;
        SpaceAsPlus spaceAsPlus;
        const char* expected;
    } cases[] = {
        // the empty text
        {"", SpaceAsPlus::No, ""},
        // a space and an ampersand, both ways
        {"a b&c", SpaceAsPlus::No, "a%20b%26c"},
        {"a b&c", SpaceAsPlus::Yes, "a+b%26c"},
        // the unreserved punctuation is escaped too
        {"~-._", SpaceAsPlus::No, "%7E%2D%2E%5F"},
        // bytes above 127 are unsigned, in upper-case hexadecimal
        {"\xE9\xFF\x80", SpaceAsPlus::No, "%E9%FF%80"},
        // a NUL byte and a literal plus
        {"\0+"s, SpaceAsPlus::Yes, "%00%2B"},
        // letters and digits of both cases are copied
        {"AZaz09", SpaceAsPlus::No, "AZaz09"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(PercentEncode(c.text, c.spaceAsPlus), c.expected);
    }
}

TEST(PercentDecode, EscapesPlusAndStrayPercents) {
    const struct {
        const char* text;
        PlusAsSpace plusAsSpace;
        std::string expected;
    } cases[] = {
        // a lower-case escape
        {"a%2fb", PlusAsSpace::No, "a/b"},
        // a "%" with fewer than two bytes after it stays
        {"100%", PlusAsSpace::No, "100%"},
        {"%4", PlusAsSpace::No, "%4"},
        // an escape at the very end
        {"x%41", PlusAsSpace::No, "xA"},
        // "+" only becomes a space when asked; "%2B" is always a plus
        {"a+b%2B", PlusAsSpace::Yes, "a b+"},
        {"a+b", PlusAsSpace::No, "a+b"},
        // a "%" not followed by two hexadecimal digits stays, and what follows is read on
        {"%zz%41", PlusAsSpace::No, "%zzA"},
        {"%%41", PlusAsSpace::No, "%A"},
        {"%4+", PlusAsSpace::Yes, "%4 "},
        // the escape of a NUL byte and of a byte above 127
        {"%00%e9", PlusAsSpace::No, "\0\xE9"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PercentDecode(c.text, c.plusAsSpace), c.expected);
    }
}

TEST(PercentEncoding, EveryByteRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (SpaceAsPlus mode : {SpaceAsPlus::No, SpaceAsPlus::Yes}) {
        std::string encoded = PercentEncode(all, mode);
        EXPECT_EQ(encoded.size(), 62 + 3 * (256 - 62) - (mode == SpaceAsPlus::Yes ? 2 : 0));
        EXPECT_EQ(PercentDecode(encoded, mode == SpaceAsPlus::Yes ? PlusAsSpace::Yes : PlusAsSpace::No), all);
    }
}

// --- Base64 --------------------------------------------------------------------------------------

TEST(Base64Encode, PadsTheLastGroup) {
    const struct {
        std::string bytes;
        const char* expected;
    } cases[] = {
        {"", ""},        // nothing
        {"a", "YQ=="},   // one byte left: two characters and "=="
        {"ab", "YWI="},  // two bytes left: three characters and "="
        {"abc", "YWJj"}, // a full group
        {"abcd", "YWJjZA=="},
        // all bits set, and the two characters above "z" in the alphabet
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xEF\xBE", "++++"},
        {"\0\0\0"s, "AAAA"},
        // the credentials of a Basic header
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(Base64Encode(c.bytes), c.expected);
    }
}

TEST(Base64Decode, DecodesPaddedQuartets) {
    const struct {
        const char* text;
        std::string expected;
    } cases[] = {
        {"", ""},
        {"YQ==", "a"},
        {"YWI=", "ab"},
        {"YWJj", "abc"},
        {"YWJjZA==", "abcd"},
        {"////", "\xFF\xFF\xFF"},
        {"AAAA", "\0\0\0"s},
        // the bits under the padding are ignored, not checked
        {"YR==", "a"},
        {"YWJ=", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Base64Decode(c.text), c.expected);
    }
}

class Base64Rejection : public CataloguesInstalled {};

TEST_F(Base64Rejection, EveryRuleRejectsTheWholeInput) {
    const std::string cases[] = {
        "YQ=",       // length not a multiple of 4
        "Y",         // the shortest bad length
        "YWJjZ",     // five characters
        "Y=Q=",      // padding in the second place
        "=QQQ",      // padding in the first place
        "YQ=A",      // a third "=" without a fourth
        "YQ==YWJj",  // padding before the last quartet
        "YW=jYWJj",  // padding inside an earlier quartet
        "YWJ{",      // "{" is just past the table's end
        "{WJj",      // ... also in the first place
        "YWJjYW{j",  // ... and in a later quartet
        "YW J",      // a space
        "YWJ\nYQ==", // a line break in an earlier quartet
        "YWJ\n",     // a line break in place
        "YWJ\x80",   // a byte above 127
        "YWJ\xFF",   // the highest byte
        "YW-_",      // the URL-safe alphabet is not this one
        "\0\0\0\0"s, // NUL bytes
        "====",      // padding only
        "Y===",      // three padding characters
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        try {
            Base64Decode(text);
            ADD_FAILURE() << "accepted";
        } catch (const CInternetBadEncodingException& e) {
            EXPECT_STREQ(e.GetCode(), "EINETBADENCODING");
            EXPECT_EQ(e.GetInput(), text);
            EXPECT_EQ(e.GetText(), "Improperly encoded string: " + text);
        }
    }
}

TEST(Base64, RandomBytesRoundTrip) {
    std::mt19937 random(20261208);
    for (size_t length = 0; length < 200; ++length) {
        std::string bytes(length, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() & 0xFF);
        std::string encoded = Base64Encode(bytes);
        EXPECT_EQ(encoded.size(), 4 * ((length + 2) / 3));
        EXPECT_EQ(
            encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
        EXPECT_EQ(Base64Decode(encoded), bytes) << "length " << length;
    }
}

} // namespace
