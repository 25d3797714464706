#include "foundation/reg_exp_error.h"

#include <iterator>

std::string GetRegExpErrorText(int error) {
    static const char* const kDescriptions[] = {
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
    if (error < 0 || error >= static_cast<int>(std::size(kDescriptions)))
        return "*** unknown regexp error code ***";
    return kDescriptions[error];
}
