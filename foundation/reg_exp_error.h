// The regular-expression engine's error numbers and their descriptions.
#pragma once

#include <string>

// Named kReg... rather than by their traditional REG_ names, which the C library's <regex.h> defines
// as macros of its own, with other numbers.
enum RegExpError : int {
    kRegOkay = 0,
    kRegNoMatch = 1,
    kRegBadPat = 2,
    kRegEEscape = 3,
    kRegESubReg = 4,
    kRegEBrack = 5,
    kRegEParen = 6,
    kRegEBrace = 7,
    kRegBadBr = 8,
    kRegERange = 9,
    kRegESpace = 10,
    kRegBadRpt = 11,
    kRegAssert = 12,
    kRegInvArg = 13,
    kRegEAngle = 14,
};

// The description of an error number; "*** unknown regexp error code ***" for any other number.
std::string GetRegExpErrorText(int error);
