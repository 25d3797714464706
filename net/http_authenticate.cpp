#include "net/http_authenticate.h"

#include "foundation/reg_exp.h"
#include "foundation/trace.h"

#include <cctype>

namespace {

// The patterns match a prefix of the text that remains; what follows the match is the rest. (Taking
// the rest as a trailing "(.*)" group would make each match scan to the end of the text, and a long
// hostile challenge cost time quadratic in its length.)

// Everything but the separators, white space and control characters; the backslash and the double
// quote are in the excluded set too.
#define PX_TOKEN "[^][()<>{}@,;:/\\\\\"?= \t\x01-\x1f\x7f]+"

// Group 1 the scheme; the white space after it is skipped.
const CRegExp& ChallengePattern() {
    static const CRegExp pattern("^(" PX_TOKEN ")\\s*");
    return pattern;
}

// Group 1 the name.
const CRegExp& NamePattern() {
    static const CRegExp pattern("^(" PX_TOKEN ")=");
    return pattern;
}

// Group 1 the value.
const CRegExp& TokenPattern() {
    static const CRegExp pattern("^(" PX_TOKEN ")");
    return pattern;
}

// Group 1 the text between the quotes: runs of ordinary characters and backslash escapes.
const CRegExp& QuotedPattern() {
    static const CRegExp pattern("^\"(<[^\\\\\"\x01-\x1f\x7f]+|<\\\\\\\\>*\\\\.>*)\"");
    return pattern;
}

const CRegExp& SeparatorPattern() {
    static const CRegExp pattern("^\\s*,\\s*");
    return pattern;
}

#undef PX_TOKEN

// Matches `re` at `at` in `text`, and moves `at` past the match. The match must start there: without
// options "^" also matches after a line feed, which a header value never holds but a hostile text may.
bool MatchAt(CRegExp& re, const std::string& text, size_t& at) {
    if (!re.Match(text.data() + at, static_cast<int>(text.size() - at), 0) || re.GetGroupStart(0) != 0)
        return false;
    at += static_cast<size_t>(re.GetGroupLength(0));
    return true;
}

// Group `i` of the last match made at `at` (before MatchAt moved it).
std::string Group(const CRegExp& re, const std::string& text, size_t at, int i) {
    if (re.GetGroupStart(i) < 0)
        return std::string();
    return text.substr(at + static_cast<size_t>(re.GetGroupStart(i)),
                       static_cast<size_t>(re.GetGroupLength(i)));
}

// False when the separator pattern cannot match at `at`: the pattern is tried only when it may, since a
// search that fails goes through the whole remaining text, and the last separator of every list fails.
bool MayBeSeparator(const std::string& text, size_t at) {
    at = text.find_first_not_of(" \t\n\v\f\r", at);
    return at != std::string::npos && text[at] == ',';
}

std::string ToLower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Offsets are ints in the expression engine; a header block is far smaller.
constexpr size_t kMaxChallenge = 1 << 30;

} // namespace

void CHTTPAuthenticate::SetChallenge(const std::string& text) {
    m_challenge = text;
    m_parameters.clear();
    m_parsed = false;
    Trace("http", 0, "auth: set challenge: %s", text.c_str());
}

std::optional<std::string> CHTTPAuthenticate::GetParameter(const std::string& name) {
    if (!m_parsed) {
        m_parameters = ParseParameters(m_challenge);
        m_parsed = true;
    }
    auto found = m_parameters.find(name);
    if (found == m_parameters.end())
        return std::nullopt;
    return found->second;
}

bool CHTTPAuthenticate::SplitChallenge(const std::string& challenge, std::string& scheme,
                                       std::string& parameters) {
    if (challenge.size() > kMaxChallenge)
        return false;
    CRegExp re = ChallengePattern();
    size_t at = 0;
    if (!MatchAt(re, challenge, at))
        return false;
    scheme = Group(re, challenge, 0, 1);
    parameters = challenge.substr(at);
    return true;
}

CHTTPAuthenticate::Parameters CHTTPAuthenticate::ParseParameters(const std::string& text) {
    Parameters parameters;
    if (text.size() > kMaxChallenge)
        return parameters;
    CRegExp name = NamePattern();
    CRegExp token = TokenPattern();
    CRegExp quoted = QuotedPattern();
    CRegExp separator = SeparatorPattern();
    size_t at = 0;
    for (;;) {
        size_t start = at;
        if (!MatchAt(name, text, at))
            break;
        std::string key = ToLower(Group(name, text, start, 1));
        if (at == text.size())
            break;
        CRegExp& value = text[at] == '"' ? quoted : token;
        start = at;
        if (!MatchAt(value, text, at))
            break;
        parameters.emplace(std::move(key),
                           Group(value, text, start, 1)); // a repeated name keeps its first value
        while (at < text.size() && MayBeSeparator(text, at) && MatchAt(separator, text, at)) {
        }
    }
    return parameters;
}
