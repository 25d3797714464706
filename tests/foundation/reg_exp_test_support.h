// Shared helper of the regular-expression tests: a match's groups as text.
#pragma once

#include "foundation/reg_exp.h"
#include "foundation/reg_exp_error.h"

#include <string>

// Short names for the error numbers in the tests' tables.
namespace regexp_error {
constexpr int kOkay = kRegOkay;
constexpr int kEscape = kRegEEscape;
constexpr int kSubReg = kRegESubReg;
constexpr int kBrack = kRegEBrack;
constexpr int kParen = kRegEParen;
constexpr int kBrace = kRegEBrace;
constexpr int kBadBr = kRegBadBr;
constexpr int kRange = kRegERange;
constexpr int kSpace = kRegESpace;
constexpr int kBadRpt = kRegBadRpt;
constexpr int kInvArg = kRegInvArg;
constexpr int kAngle = kRegEAngle;
} // namespace regexp_error

// "(0,3)(1,2)(-1,-1)" for a match, "no match" otherwise.
inline std::string MatchGroups(CRegExp& re, const std::string& text, int flags = 0) {
    if (!re.Match(text, flags))
        return "no match";
    std::string out;
    for (int i = 0; i < re.GetGroupCount(); ++i) {
        int start = re.GetGroupStart(i);
        int end = start < 0 ? -1 : start + re.GetGroupLength(i);
        // Appended piece by piece: g++ 12 at -O3 sees a false overlap (-Wrestrict) in a chain of
        // temporary strings joined with operator+.
        out += '(';
        out += std::to_string(start);
        out += ',';
        out += std::to_string(end);
        out += ')';
    }
    return out;
}
