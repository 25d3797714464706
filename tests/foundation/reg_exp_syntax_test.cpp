// The pattern syntax as the compiler reads it: every error number with the edge that raises it, and
// what the accepted constructs match.
#include "foundation/exception.h"
#include "foundation/reg_exp.h"
#include "tests/foundation/reg_exp_test_support.h"

#include <string>

#include <gtest/gtest.h>

namespace {

int CompileError(const std::string& pattern, int flags = 0) {
    try {
        CRegExp re(pattern, flags);
        return regexp_error::kOkay;
    } catch (const CRegExpException& e) {
        return e.GetError();
    }
}

} // namespace

TEST(RegExpSyntax, ErrorsNameTheFirstFaultFromTheLeft) {
    struct Case {
        const char* pattern;
        int error;
    } cases[] = {
        {"a**", regexp_error::kBadRpt}, // a second operator right after the first
        {"a*?", regexp_error::kBadRpt},
        {"a{2}{3}", regexp_error::kBadRpt},
        {"a+{1}", regexp_error::kBadRpt},
        {"*a", regexp_error::kBadRpt},   // nothing to repeat at the start of the pattern...
        {"a|*b", regexp_error::kBadRpt}, // ...of a branch...
        {"(+a)", regexp_error::kBadRpt}, // ...or of a group
        {"<?a>", regexp_error::kBadRpt},
        {"{1}a", regexp_error::kBadRpt}, // "{" with a digit is an operator there too
        {"^*", regexp_error::kBadRpt},   // an operator right after ^
        {"^{2}", regexp_error::kBadRpt},
        {"a{2,1}", regexp_error::kBadBr}, // m below n
        {"a{256}", regexp_error::kBadBr}, // counts stop at 255
        {"a{1,256}", regexp_error::kBadBr},
        {"a{99999999999}", regexp_error::kBadBr},
        {"a{2x}", regexp_error::kBadBr}, // junk before the "}" is skipped, then rejected
        {"a{2,1", regexp_error::kBadBr}, // the bad count is found before the missing "}"
        {"a{2", regexp_error::kBrace},   // the pattern ends before the "}"
        {"a{2,", regexp_error::kBrace},
        {"a{2,3", regexp_error::kBrace},
        {"a{2x", regexp_error::kBrace},
        {"[z-a]", regexp_error::kRange}, // a range running backwards
        {"[--a]", regexp_error::kRange}, // "-" starting an element after the first
        {"[a-c-e]", regexp_error::kRange},
        {"[]-a]", regexp_error::kRange}, // the leading "]" is a member, not a range start
        {"[a-", regexp_error::kRange},
        {"[\\d-z]", regexp_error::kRange}, // a class cannot start...
        {"[a-\\d]", regexp_error::kRange}, // ...or end a range
        {"[\\q]", regexp_error::kEscape},  // only \- \\ and the classes inside brackets
        {"[a-\\q]", regexp_error::kEscape},
        {"[a\\", regexp_error::kEscape},
        {"\\", regexp_error::kEscape}, // a trailing backslash
        {"ab\\", regexp_error::kEscape},
        {"\\1", regexp_error::kSubReg}, // back-references do not exist
        {"(a)\\9", regexp_error::kSubReg},
        {"\\12", regexp_error::kSubReg},
        {"[a", regexp_error::kBrack},
        {"[", regexp_error::kBrack},
        {"[^", regexp_error::kBrack},
        {"[]", regexp_error::kBrack}, // "]" first is a member, so the set is still open
        {"[^]", regexp_error::kBrack},
        {"(a", regexp_error::kParen},
        {"(", regexp_error::kParen}, // "(" at the very end
        {"((a)", regexp_error::kParen},
        {"a)", regexp_error::kParen}, // ")" with no open group
        {"<a)>", regexp_error::kParen},
        {"<a", regexp_error::kAngle},
        {"<", regexp_error::kAngle},
        {"a>", regexp_error::kAngle}, // a stray ">"
        {"(a>", regexp_error::kAngle},
        {"(<a)", regexp_error::kParen},
        {"((a{255}){255}){255}", regexp_error::kSpace}, // the expansion would exceed the program bound
        {"(a{255}){255}b{255}", regexp_error::kSpace},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompileError(c.pattern), c.error) << c.pattern;
}

TEST(RegExpSyntax, AcceptsTheDialectsEdges) {
    const char* const patterns[] = {
        "",                                            // the empty pattern
        "a|",    "|a",     "a||b",     "(|)",          // empty alternatives
        "()",    "<>",                                 // empty groups
        "a{x",   "a{",     "a{,2}",    "{",      "{x", // "{" without a digit is a byte
        "a{0}",  "a{255}", "a{0,255}", "a{3,}",  "(ab){1,1}", "[]a]",    "[^]a]",    "[-a]",
        "[^-a]", "[a-]",   "[a-z-]",   "[\\-a]", "[\\\\]",    "[!-\\-]", "[#-\\\\]", "[\\d\\s\\w\\D\\S\\W]",
        "\\0",   "\\n",    "\\.",      "\\<",    "\\(",       "\\{",     "$*",       "\\b*",
        "a^b",   "a$b",    "(^a)",     "x(a|^)",
    };
    for (const char* pattern : patterns)
        EXPECT_EQ(CompileError(pattern), regexp_error::kOkay) << pattern;
}

TEST(RegExpSyntax, DeepNestingFailsAsOutOfMemoryInsteadOfExhaustingTheStack) {
    EXPECT_EQ(CompileError(std::string(100, '(') + std::string(100, ')')), regexp_error::kOkay);
    EXPECT_EQ(CompileError(std::string(5000, '(') + std::string(5000, ')')), regexp_error::kSpace);
    EXPECT_EQ(CompileError(std::string(5000, '<')), regexp_error::kSpace);
}

TEST(RegExpSyntax, GroupsAreCountedByOpeningParentheses) {
    struct Case {
        const char* pattern;
        int groups;
    } cases[] = {
        {"\\.[jJ][pP]<[eE]?[gG]|[eE]>$", 1}, // non-capturing groups add none
        {"(a)(b(c))", 4},
        {"(a){3}", 2}, // copies of a repetition share the number
        {"(a){0}", 2},
        {"<(a)<(b)>>", 3},
        {"\\(a\\)", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CRegExp(c.pattern).GetGroupCount(), c.groups) << c.pattern;
}

// Pattern, compile flags, text, match flags and the expected groups.
struct MatchCase {
    const char* pattern;
    int flags;
    std::string text;
    int matchFlags;
    const char* groups;
};

void ExpectMatches(const std::vector<MatchCase>& cases) {
    for (const MatchCase& c : cases) {
        CRegExp re(c.pattern, c.flags);
        EXPECT_EQ(MatchGroups(re, c.text, c.matchFlags), c.groups)
            << "pattern \"" << c.pattern << "\" flags " << c.flags << " text \"" << c.text << "\"";
    }
}

constexpr int kIcase = CRegExp::kIgnoreCase;
constexpr int kNl = CRegExp::kNewlineOrdinary;
constexpr int kNotBol = CRegExp::kNotBeginOfLine;
constexpr int kNotEol = CRegExp::kNotEndOfLine;

TEST(RegExpSyntax, LiteralsEscapesAndBraces) {
    ExpectMatches({
        {"", 0, "abc", 0, "(0,0)"}, // the empty pattern matches at the start
        {"a|", 0, "", 0, "(0,0)"},
        {"a|", 0, "xa", 0, "(0,0)"}, // leftmost wins over longest
        {"|a", 0, "a", 0, "(0,1)"},  // ...and longest over the first alternative
        {"()", 0, "", 0, "(0,0)(0,0)"},
        {"<>a", 0, "ba", 0, "(1,2)"},
        {"a{x", 0, "a{x", 0, "(0,3)"},
        {"a{,2}", 0, "a{,2}", 0, "(0,5)"},
        {"a{0}b", 0, "ab", 0, "(1,2)"},
        {"\\n", 0, "\n", 0, "no match"}, // \n is the letter n
        {"\\n", 0, "n", 0, "(0,1)"},
        {"\\0", 0, "0", 0, "(0,1)"},
        {"\\.\\*\\(\\<", 0, "x.*(<", 0, "(1,5)"},
        {"a.c", 0, "abc", 0, "(0,3)"},
        {"\xe9+", 0, "a\xe9\xe9", 0, "(1,3)"}, // bytes above 0x7f are ordinary
        {"[\x80-\xff]", 0, "a\xfe", 0, "(1,2)"},
    });
}

TEST(RegExpSyntax, SetsAndClasses) {
    ExpectMatches({
        {"[]a]+", 0, "x]a]", 0, "(1,4)"},
        {"[^]a]", 0, "]ab", 0, "(2,3)"},
        {"[-a]+", 0, "x-a", 0, "(1,3)"},
        {"[a-]+", 0, "x-a", 0, "(1,3)"},
        {"[\\-]", 0, "a-", 0, "(1,2)"},
        {"[\\\\]", 0, "a\\", 0, "(1,2)"},
        {"[!-\\-]+", 0, "a!,-b", 0, "(1,4)"}, // a range may end in \-
        {"[+-.]+", 0, "a+,-.b", 0, "(1,5)"},  // ranges are over byte values
        {"[\\d.]+", 0, "x1.5y", 0, "(1,4)"},  // classes inside brackets
        {"[^\\d]", 0, "12a", 0, "(2,3)"},
        {"\\d+", 0, "ab123c", 0, "(2,5)"},
        {"\\D+", 0, "12ab3", 0, "(2,4)"},
        {"\\w+", 0, "-a_Z9-", 0, "(1,5)"},
        {"\\W+", 0, "ab-+cd", 0, "(2,4)"},
        {"\\s+", 0, "a\t\v\f\r b", 0, "(1,6)"},
        {"\\S+", 0, " ab ", 0, "(1,3)"},
        {"\\w", 0, "\xe9", 0, "no match"}, // word characters are ASCII only
    });
}

TEST(RegExpSyntax, IgnoreCase) {
    ExpectMatches({
        {"[a-c]", kIcase, "B", 0, "(0,1)"},
        {"[A-C]+", kIcase, "xaBc", 0, "(1,4)"},
        {"abc", kIcase, "xABC", 0, "(1,4)"},
        {"[^a]", kIcase, "Ab", 0, "(1,2)"}, // the other case is added before negating
        {"[^a]", kIcase, "A", 0, "no match"},
        {"\\x", kIcase, "X", 0, "(0,1)"},        // an escaped letter is still a letter
        {"\xe9", kIcase, "\xc9", 0, "no match"}, // only ASCII letters have cases
        {"abc", 0, "ABC", 0, "no match"},
    });
}

TEST(RegExpSyntax, NewlineSensitiveModeAndMatchFlags) {
    ExpectMatches({
        {"a.c", 0, "a\nc", 0, "no match"}, // "." skips a line feed...
        {"a.c", kNl, "a\nc", 0, "(0,3)"},  // ...unless newline is ordinary
        {"[^a]", 0, "\n", 0, "no match"},  // so do negated sets
        {"[^a]", kNl, "\n", 0, "(0,1)"},
        {"\\W", 0, "\n", 0, "no match"}, // and the complemented classes
        {"\\S", 0, "\n", 0, "no match"},
        {"\\W", kNl, "\n", 0, "(0,1)"},
        {"\\s", 0, "\n", 0, "(0,1)"},
        {"[\n]", 0, "\n", 0, "(0,1)"}, // a set naming it keeps it
        {"^b", 0, "a\nb", 0, "(2,3)"}, // ^ after a line feed
        {"^b", kNl, "a\nb", 0, "no match"},
        {"a$", 0, "a\nb", 0, "(0,1)"}, // $ before one
        {"a$", kNl, "a\nb", 0, "no match"},
        {"^a", 0, "a", kNotBol, "no match"}, // flag 1: the text does not begin a line
        {"^b", 0, "a\nb", kNotBol, "(2,3)"},
        {"a$", 0, "a", kNotEol, "no match"}, // flag 2: it does not end one
        {"a$", 0, "a\n", kNotEol, "(0,1)"},
        {"^$", 0, "", 0, "(0,0)"},
        {"^$", 0, "", kNotBol, "no match"},
        {"x^", 0, "x", 0, "no match"}, // anchors anywhere are tests, never bytes
        {"a$\nb", kNl, "a\nb", 0, "no match"},
        {"a$\n^b", 0, "a\nb", 0, "(0,3)"},
    });
}

TEST(RegExpSyntax, WordBoundaries) {
    ExpectMatches({
        {"\\bfoo\\b", 0, "a foo b", 0, "(2,5)"},
        {"\\bfoo", 0, "afoo", 0, "no match"},
        {"foo\\b", 0, "foo_", 0, "no match"}, // "_" is a word character
        {"\\b", 0, "a", 0, "(0,0)"},          // a word start at the text's start
        {"\\b", 0, " a", 0, "(1,1)"},
        {"\\b", 0, "  ", 0, "no match"},
        {"\\ba", 0, "a", kNotBol, "no match"}, // the start that begins no line borders nothing
        {"a\\b", 0, "a", kNotEol, "no match"},
        {"a\\b", 0, "a", 0, "(0,1)"},
        {"\\Boo", 0, "foo", 0, "(1,3)"},
        {"\\B", 0, "", 0, "(0,0)"}, // \B always holds at the text's edges...
        {"a\\B", 0, "a", 0, "(0,1)"},
        {"\\Ba", 0, "a", 0, "(0,1)"},
        {"a\\B", 0, "a b", 0, "no match"}, // ...and between a word and a non-word byte never
        {" \\B ", 0, "a  b", 0, "(1,3)"},
        {"\\b\\B", 0, "a", 0, "(0,0)"}, // so at an edge both hold
    });
}

TEST(RegExpSyntax, RepetitionCounts) {
    std::string a255(255, 'a');
    ExpectMatches({
        {"a{2,3}", 0, "aaaa", 0, "(0,3)"},
        {"a{2,}", 0, "aaaaa", 0, "(0,5)"},
        {"a{2}", 0, "a", 0, "no match"},
        {"a{0,1}b", 0, "ab", 0, "(0,2)"},
        {"(ab){1,2}c", 0, "ababc", 0, "(0,5)(2,4)"},
        {"a{255}", 0, a255 + "a", 0, "(0,255)"},
        {"a{255}", 0, a255.substr(1), 0, "no match"},
        {"<a|b>{3}", 0, "xabab", 0, "(1,4)"},
    });
}

// Leftmost-longest overall, then the groups by the dissection rules.
TEST(RegExpSyntax, GroupsFollowThePosixRules) {
    ExpectMatches({
        {"a|ab|abc", 0, "abcd", 0, "(0,3)"}, // the longest at the leftmost start
        {"x*", 0, "ax", 0, "(0,0)"},         // an empty match at 0 is leftmost
        {"bc|abcd", 0, "abcd", 0, "(0,4)"},
        {"(a|ab)(c|bcd)(d*)", 0, "abcd", 0, "(0,4)(0,2)(2,3)(3,4)"}, // parts longest from the left
        {"(a|ab)(bc|c)", 0, "abc", 0, "(0,3)(0,2)(2,3)"},
        {"(.*)(.*)", 0, "abc", 0, "(0,3)(0,3)(3,3)"},
        {"(wee|week)(knights|night)", 0, "weeknights", 0, "(0,10)(0,3)(3,10)"},
        {"(a*)(ab)*(b*)", 0, "abb", 0, "(0,3)(0,1)(-1,-1)(1,3)"},
        {"((a)|(a))", 0, "a", 0, "(0,1)(0,1)(0,1)(-1,-1)"}, // the first alternative that spans
        {"(a|b)*", 0, "ab", 0, "(0,2)(1,2)"},               // the last iteration
        {"(a|b)*c", 0, "abac", 0, "(0,4)(2,3)"},
        {"((a)|b)*", 0, "ab", 0, "(0,2)(1,2)(-1,-1)"}, // nested groups restart with their group
        {"((a)|b)+", 0, "ba", 0, "(0,2)(1,2)(1,2)"},
        {"<(a)|b>*", 0, "ab", 0, "(0,2)(0,1)"}, // the last iteration it took part in
        {"(a)*", 0, "b", 0, "(0,0)(-1,-1)"},    // no iteration: -1
        {"(a)|b", 0, "b", 0, "(0,1)(-1,-1)"},
        {"(a*)*", 0, "b", 0, "(0,0)(0,0)"}, // one empty iteration
        {"(a*)+", 0, "b", 0, "(0,0)(0,0)"},
        {"(a*)*", 0, "aa", 0, "(0,2)(0,2)"},
        {"(a){2}", 0, "aa", 0, "(0,2)(1,2)"},
        {"(a){0}b", 0, "ab", 0, "(1,2)(-1,-1)"},
        {"(a{0,2}){2,}", 0, "ab", 0, "(0,1)(1,1)"},                    // a forced empty iteration comes last
        {"(.+a){0,2}b{0,2}", 0, "bab. .a", 0, "(0,7)(0,7)"},           // the first copy longest
        {"(a{1}[a-b]{0,2}){1,3}.+", kNl, "aaab\n b", 0, "(0,7)(2,4)"}, // the repetition longest first
        {"(|a)+", 0, "aa", 0, "(0,2)(1,2)"},
        {"(a?)((ab)?)(b?)", 0, "ab", 0, "(0,2)(0,1)(1,1)(-1,-1)(1,2)"},
        {"(^|x)(a)", 0, "xa", 0, "(0,2)(0,1)(1,2)"},
    });
}

// A byte range, not a C string: NUL bytes are ordinary in patterns and texts.
TEST(RegExpSyntax, NulBytesInPatternAndText) {
    CRegExp nulPattern(std::string("a\0b", 3));
    EXPECT_TRUE(nulPattern.Match(std::string("xa\0b", 4)));
    EXPECT_EQ(nulPattern.GetGroupStart(0), 1);
    EXPECT_FALSE(nulPattern.Match(std::string("ab")));

    CRegExp dot("a.b");
    EXPECT_TRUE(dot.Match(std::string("a\0b", 3)));
    EXPECT_FALSE(dot.Match("a\0b", -1, 0)); // a negative length stops at the first NUL

    CRegExp tail("def");
    EXPECT_FALSE(tail.Match("abcdef", 3, 0)); // the given range only
    EXPECT_TRUE(tail.Match("abcdef", 6, 0));
    EXPECT_TRUE(CRegExp("a\0b", 3, 0).Match(std::string("a\0b", 3)));
}

// "(a|b)*a(a|b){12}" needs more automaton states than are kept (one per set of the last 13 bytes), so
// the search falls back to the state-set simulation; both must find the same leftmost-longest match.
TEST(RegExpSyntax, SearchFallsBackWhenTheAutomatonGrowsTooLarge) {
    std::string text;
    uint32_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1103515245 + 12345;
        text += (seed >> 16) % 2 ? 'a' : 'b';
    }
    text += "cb"; // the match ends before the c
    int expectedEnd = -1;
    for (int end = 3000; end >= 13 && expectedEnd < 0; --end)
        if (text[end - 13] == 'a')
            expectedEnd = end;
    CRegExp re("(a|b)*a(a|b){12}");
    ASSERT_TRUE(re.Match(text));
    EXPECT_EQ(re.GetGroupStart(0), 0);
    EXPECT_EQ(re.GetGroupLength(0), expectedEnd);
    EXPECT_EQ(re.GetGroupStart(2), expectedEnd - 1); // the last copy of the counted group
    CRegExp anchoredLater("c(a|b)*a(a|b){12}$");
    EXPECT_FALSE(anchoredLater.Match(text));
}
