#include "foundation/string_format.h"

#include <gtest/gtest.h>

TEST(SubstituteArgs, PlaceholderRules) {
    struct Case {
        const char* tmpl;
        std::initializer_list<std::string_view> args;
        const char* expected;
    } cases[] = {
        {"%1 and %1", {"x"}, "x and x"}, // a placeholder may occur several times
        {"%2 (%1)", {"10060", "timed out"}, "timed out (10060)"},
        {"100%", {"x"}, "100%"},         // a "%" as the last character stays
        {"%0 stays", {"x"}, "%0 stays"}, // only 1-9 are placeholders
        {"%%1", {"x"}, "%%1"},           // the character after "%" is skipped
        {"%%%1", {"x"}, "%%x"},          // ...so the third "%" starts a placeholder
        {"%1%2%3%4%5%6%7%8%9", {"a", "b", "c", "d", "e", "f", "g", "h", "i"}, "abcdefghi"},
        {"%10", {"x"}, "x0"}, // one digit only
        {"no placeholders", {}, "no placeholders"},
        {"", {"x"}, ""},
        {"%3 beyond", {"a"}, "%3 beyond"}, // more placeholders than arguments: left as is
    };
    for (const Case& c : cases)
        EXPECT_EQ(SubstituteArgs(c.tmpl, c.args), c.expected) << c.tmpl;
}

TEST(SubstituteArgs, InsertedTextIsNeverScannedAgain) {
    // The argument holds a placeholder of its own; it must come out literally, not be replaced.
    EXPECT_EQ(SubstituteArgs("[%1] [%2]", {"%2", "b"}), "[%2] [b]");
    EXPECT_EQ(SubstituteArgs("%1", {"%1%1"}), "%1%1");
}

TEST(FormatString, ProducesTextOfAnyLength) {
    EXPECT_EQ(FormatString("%d-%s", 42, "x"), "42-x");
    EXPECT_EQ(FormatString("0x%08x", 0x3fu), "0x0000003f");
    // Longer than the first buffer: the whole text, exactly once, with nothing cut.
    std::string longText(1000, 'y');
    std::string formatted = FormatString("<%s>", longText.c_str());
    EXPECT_EQ(formatted, "<" + longText + ">");
    EXPECT_EQ(FormatString("%s", std::string(199, 'a').c_str()).size(), 199u); // fits with its NUL
    EXPECT_EQ(FormatString("%s", std::string(200, 'a').c_str()).size(), 200u); // one past the buffer
    EXPECT_EQ(FormatString("%s", ""), "");
}
