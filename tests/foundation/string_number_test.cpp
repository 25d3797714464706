#include "foundation/string_number.h"

#include <gtest/gtest.h>

// The conversions follow the C library's rules for a 32-bit long, whatever the host's long is.
TEST(StringNumber, UnsignedFollowsStrtoulOnThirtyTwoBits) {
    struct Case {
        const char* text;
        int base;
        uint32_t value;
        size_t consumed;
    } cases[] = {
        {"42", 10, 42, 2},
        {"  42abc", 10, 42, 4}, // leading blanks taken, stops at the first non-digit
        {"abc", 10, 0, 0},      // no digits: 0, nothing consumed
        {"", 10, 0, 0},
        {"-", 10, 0, 0},            // a sign without digits is not a number
        {"-1", 10, 0xffffffffu, 2}, // negation wraps as strtoul does
        {"+7", 10, 7, 2},
        {"4294967295", 10, 0xffffffffu, 10},
        {"4294967296", 10, 0xffffffffu, 10}, // overflow saturates
        {"99999999999999999999999", 10, 0xffffffffu, 23},
        {"ff00aa", 16, 0xff00aa, 6},
        {"0x1F", 16, 0x1f, 4}, // the 0x prefix belongs to a hexadecimal number
        {"0xg", 16, 0, 1},     // ...only when a digit follows: "0" is the number
        {"FFFFFFFFF", 16, 0xffffffffu, 9},
    };
    for (const Case& c : cases) {
        size_t consumed = 99;
        EXPECT_EQ(StrToUL32(c.text, c.base, &consumed), c.value) << c.text;
        EXPECT_EQ(consumed, c.consumed) << c.text;
    }
}

TEST(StringNumber, SignedSaturatesAtBothEnds) {
    EXPECT_EQ(StrToL32("2147483647", 10), 2147483647);
    EXPECT_EQ(StrToL32("2147483648", 10), 2147483647);
    EXPECT_EQ(StrToL32("-2147483648", 10), -2147483647 - 1);
    EXPECT_EQ(StrToL32("-2147483649", 10), -2147483647 - 1);
    EXPECT_EQ(StrToL32("-12x", 10), -12);
    EXPECT_EQ(StrToL32("yes", 10), 0);
}
