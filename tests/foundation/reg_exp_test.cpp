// CRegExp as the rest of the system uses it: errors and their texts, the group accessors and their
// range checks, copies sharing one compiled pattern.
#include "foundation/exception.h"
#include "foundation/reg_exp.h"
#include "tests/foundation/reg_exp_test_support.h"
#include "tests/support/catalogues.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

TEST(RegExp, ErrorTextsOfEveryNumber) {
    const char* const texts[] = {
        "no errors detected",
        "regexec() failed to match",
        "invalid regular expression",
        "trailing backslash (\\)",
        "invalid backreference number",
        "brackets ([ ]) not balanced",
        "parentheses not balanced",
        "braces not balanced",
        "invalid repetition count(s)",
        "invalid character range",
        "out of memory",
        "repetition-operator operand invalid",
        "\"can't happen\" -- you found a bug",
        "invalid argument to regex routine",
        "angle brackets (< >) not balanced",
    };
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(CRegExp::GetErrorText(i), texts[i]) << i;
    EXPECT_EQ(CRegExp::GetErrorText(15), "*** unknown regexp error code ***");
    EXPECT_EQ(CRegExp::GetErrorText(-1), "*** unknown regexp error code ***");
}

using RegExpText = CataloguesInstalled;

TEST_F(RegExpText, CompileErrorsReachTheUserWithNumberAndDescription) {
    try {
        CRegExp re("a**");
        FAIL() << "compiled";
    } catch (const CRegExpException& e) {
        EXPECT_EQ(e.GetError(), regexp_error::kBadRpt);
        EXPECT_EQ(e.GetText(),
                  "Internal error: regular expression error: repetition-operator operand invalid (11)");
    }
    try {
        CRegExp re("<a");
        FAIL() << "compiled";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetText(),
                  "Internal error: regular expression error: angle brackets (< >) not balanced (14)");
    }
}

TEST_F(RegExpText, GroupIndexOutOfRangeNamesTheIndex) {
    CRegExp re("(a)(b)");
    try {
        re.GetGroupStart(3);
        FAIL() << "no exception";
    } catch (const COutOfRangeException& e) {
        EXPECT_EQ(e.GetIndex(), 3);
        EXPECT_EQ(e.GetText(), "Internal error: index out of range: 3");
    }
}

TEST(RegExp, GroupAccessorsCheckTheirRange) {
    CRegExp re("(a)(b)?");
    ASSERT_EQ(re.GetGroupCount(), 3);
    for (int bad : {-1, 3, 100}) {
        EXPECT_THROW(re.GetGroupStart(bad), COutOfRangeException) << bad;
        EXPECT_THROW(re.GetGroupLength(bad), COutOfRangeException) << bad;
    }
    ASSERT_TRUE(re.Match("xa"));
    EXPECT_EQ(re.GetGroupStart(1), 1);
    EXPECT_EQ(re.GetGroupLength(1), 1);
    EXPECT_EQ(re.GetGroupStart(2), -1); // took no part
    EXPECT_EQ(re.GetGroupLength(2), 0);
    EXPECT_THROW(re.GetGroupStart(3), COutOfRangeException);
}

TEST(RegExp, FailedMatchClearsTheGroups) {
    CRegExp re("(b+)");
    EXPECT_EQ(re.GetGroupStart(0), -1); // before any match
    ASSERT_TRUE(re.Match("abb"));
    EXPECT_EQ(re.GetGroupStart(0), 1);
    EXPECT_EQ(re.GetGroupLength(0), 2);
    EXPECT_FALSE(re.Match("xyz"));
    EXPECT_EQ(re.GetGroupStart(0), -1);
    EXPECT_EQ(re.GetGroupLength(0), 0);
    EXPECT_EQ(re.GetGroupStart(1), -1);
    EXPECT_EQ(re.GetGroupLength(1), 0);
}

TEST(RegExp, CopiesShareThePatternButNotTheGroups) {
    CRegExp original("(\\d+)");
    ASSERT_TRUE(original.Match("ab12"));
    CRegExp copy(original);
    EXPECT_EQ(copy.GetGroupStart(1), 2); // the group array and matched state come along
    ASSERT_TRUE(copy.Match("7"));
    EXPECT_EQ(copy.GetGroupStart(1), 0);
    EXPECT_EQ(original.GetGroupStart(1), 2); // the original's array is its own

    CRegExp assigned("x");
    assigned = original;
    EXPECT_EQ(assigned.GetGroupCount(), 2);
    EXPECT_EQ(assigned.GetGroupStart(1), 2);
    EXPECT_FALSE(assigned.Match("none"));
    EXPECT_EQ(original.GetGroupLength(1), 2);
}

TEST(RegExp, OverloadsKeepFlagsApartFromLengths) {
    // With a C string, the second argument is the flags, not a length.
    CRegExp re("ABC", CRegExp::kIgnoreCase);
    EXPECT_TRUE(re.Match("xabc"));
    EXPECT_TRUE(re.Match("xabc", CRegExp::kNotEndOfLine));
    EXPECT_EQ(re.GetGroupLength(0), 3);
    CRegExp bytes("ABCD", 3, CRegExp::kIgnoreCase); // the bytes form takes a length
    EXPECT_TRUE(bytes.Match("abc"));
}

TEST(RegExp, BadArgumentsRaiseInvalidArgument) {
    auto errorOf = [](auto&& action) {
        try {
            action();
        } catch (const CRegExpException& e) {
            return e.GetError();
        }
        return 0;
    };
    EXPECT_EQ(errorOf([] { CRegExp re(nullptr, 3, 0); }), regexp_error::kInvArg);
    EXPECT_EQ(errorOf([] { CRegExp re("a", -1, 0); }), regexp_error::kInvArg);
    CRegExp re("a*");
    EXPECT_EQ(errorOf([&] { re.Match(nullptr, 5, 0); }), regexp_error::kInvArg);
    EXPECT_TRUE(re.Match(nullptr, 0, 0)); // no text is the empty text
}

// The static-pattern discipline: one compiled object, a copy per thread.
TEST(RegExp, CopiesOfOneStaticPatternMatchOnSeveralThreads) {
    static const CRegExp kPattern("^(\\w+)=(\\d+)$");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    {
        std::vector<CRegExp> copies(4, kPattern);
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                CRegExp& re = copies[t];
                for (int i = 0; i < 500; ++i) {
                    std::string text =
                        std::string("k").append(std::to_string(t)).append("=").append(std::to_string(i));
                    if (!re.Match(text) || re.GetGroupLength(2) != static_cast<int>(std::to_string(i).size()))
                        ++failures[t];
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

// Threads that end hand their automata to the threads that start after them. A pattern compiled in
// place of a freed one (quite possibly at the same address) must never be matched with the automata
// of the freed one.
TEST(RegExp, AutomataPassedBetweenThreadsNeverServeAFreedPattern) {
    const char* patterns[] = {"^a+$", "^b+$", "^(ab)+$", "^[0-9]+x$", "^a+$"};
    const char* matching[] = {"aaa", "bb", "abab", "123x", "a"};
    const char* other[] = {"bb", "aa", "aba", "123", "b"};
    for (int round = 0; round < 3; ++round) {
        for (size_t p = 0; p < std::size(patterns); ++p) {
            bool matched = false, refused = false;
            // A new thread per pattern, as the HTTP client has a new thread per exchange; each pattern
            // is freed before the next is compiled.
            std::thread([&] {
                CRegExp re(patterns[p]);
                matched = re.Match(std::string(matching[p]));
                refused = !re.Match(std::string(other[p]));
            }).join();
            EXPECT_TRUE(matched) << patterns[p];
            EXPECT_TRUE(refused) << patterns[p];
        }
    }
}
