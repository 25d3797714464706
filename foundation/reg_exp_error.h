// The regular-expression engine's error numbers and their descriptions.
#pragma once

#include <string>

enum RegExpError : int {
    REG_OKAY = 0,
    REG_NOMATCH = 1,
    REG_BADPAT = 2,
    REG_EESCAPE = 3,
    REG_ESUBREG = 4,
    REG_EBRACK = 5,
    REG_EPAREN = 6,
    REG_EBRACE = 7,
    REG_BADBR = 8,
    REG_ERANGE = 9,
    REG_ESPACE = 10,
    REG_BADRPT = 11,
    REG_ASSERT = 12,
    REG_INVARG = 13,
    REG_EANGLE = 14,
};

// The description of an error number; "*** unknown regexp error code ***" for any other number.
std::string GetRegExpErrorText(int error);
