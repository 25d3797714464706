#include "net/uri_patterns.h"

namespace {

// scheme ":", "//" authority, path, "?" query, "#" fragment: every part optional.
constexpr const char* kURIPattern = "<([^:/?#]+):>?<//([^/?#]*)>?([^?#]*)<\\?([^#]*)>?<#(.*)>?";

// [user-information "@"] host [":" port], all optional so that a text without a valid host still
// matches, with an empty host group. User information: unreserved and escaped characters and
// ";:&=+$,". Host: a dotted name whose last label begins with a letter, or four runs of digits.
constexpr const char* kAuthorityPattern =
    "<"
    "<(<[-A-Za-z0-9_.!~*'();:&=+$,]|%[0-9A-Fa-f][0-9A-Fa-f]>*)@>?"
    "(<<<[A-Za-z0-9]|[A-Za-z0-9][-A-Za-z0-9]*[A-Za-z0-9]>\\.>*<[A-Za-z]|[A-Za-z][-A-Za-z0-9]*[A-Za-z0-9]>"
    "|\\d+\\.\\d+\\.\\d+\\.\\d+>)"
    "<:(\\d*)>?"
    ">?";

} // namespace

// Function-local statics: compiled on first use, before any second thread can reach them in
// practice (the control parses its server's URI at start-up), and thread-safe even if not.
const CRegExp& GetURIPattern() {
    static const CRegExp pattern(kURIPattern);
    return pattern;
}

const CRegExp& GetAuthorityPattern() {
    static const CRegExp pattern(kAuthorityPattern);
    return pattern;
}

std::string GetMatchGroup(const CRegExp& pattern, const std::string& text, int group) {
    int start = pattern.GetGroupStart(group);
    if (start < 0)
        return std::string();
    return text.substr(static_cast<size_t>(start), static_cast<size_t>(pattern.GetGroupLength(group)));
}
