// The URI and authority grammar that the request writer and the connection-target resolution share:
// two patterns compiled once and read by every thread. A user copies a pattern and matches with the
// copy, whose group array is its own; the shared objects themselves are never matched.
//
// Every part of both patterns is optional, so a search finds a match at the first character of any
// text; a group that took no part reads as empty (GetURIGroup, GetAuthorityGroup).
#pragma once

#include "foundation/reg_exp.h"

#include <string>

// Groups of the URI pattern.
enum URIGroup : int {
    kURIScheme = 1,    // without the ":"
    kURIAuthority = 2, // without the "//"
    kURIPath = 3,
    kURIQuery = 4,    // without the "?"
    kURIFragment = 5, // without the "#"
};

// Groups of the authority pattern.
enum AuthorityGroup : int {
    kAuthorityUserInfo = 1, // without the "@"
    kAuthorityHost = 2,     // empty when no valid host begins the authority
    kAuthorityPort = 3,     // the digits after ":", possibly none
};

// The shared compiled patterns; copy before matching.
const CRegExp& GetURIPattern();
const CRegExp& GetAuthorityPattern();

// The text of a group of the last match of `pattern` over `text`, "" when the group took no part.
std::string GetMatchGroup(const CRegExp& pattern, const std::string& text, int group);
