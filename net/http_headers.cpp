#include "net/http_headers.h"

#include "foundation/reg_exp.h"
#include "foundation/string_number.h"
#include "net/network_exception.h"

#include <algorithm>
#include <vector>

namespace {

// Groups: 1 major version, 2 minor version, 3 status code, 4 reason phrase.
const CRegExp& StatusPattern() {
    static const CRegExp pattern("^HTTP/(\\d+)\\.(\\d+) ([12345]\\d\\d) (.*)\\s*$");
    return pattern;
}

// Groups: 1 name, 2 value. Searched in the line, not anchored at its start. The value class holds a
// real tab, a space and the printable ASCII range; any other byte fails the line.
const CRegExp& FieldPattern() {
    static const CRegExp pattern("([!#\\\\$%&'*+-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ^_`"
                                 "abcdefghijklmnopqrstuvwxyz|~]+):\\s*([\t -~]*)\\s*$");
    return pattern;
}

const CRegExp& ContinuationPattern() {
    static const CRegExp pattern("^\\s+");
    return pattern;
}

std::string Group(const CRegExp& match, const std::string& text, int group) {
    int start = match.GetGroupStart(group);
    if (start < 0)
        return std::string();
    return text.substr(static_cast<size_t>(start), static_cast<size_t>(match.GetGroupLength(group)));
}

std::string ToLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

// Splits at "\r\n"; the block's closing blank line gives a last empty line.
std::vector<std::string> SplitLines(std::string_view block) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = block.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(block.substr(start));
            return lines;
        }
        lines.emplace_back(block.substr(start, end - start));
        start = end + 2;
    }
}

} // namespace

CHTTPHeaders CHTTPHeaders::Parse(std::string_view block) {
    std::vector<std::string> lines = SplitLines(block);
    CHTTPHeaders headers;
    headers.ParseStatusLine(lines.front());
    if (headers.IsInterim())
        return headers;
    std::string lastName;
    for (size_t i = 1; i < lines.size() && !lines[i].empty(); ++i)
        headers.ParseFieldLine(lines[i], lastName);
    return headers;
}

const std::string* CHTTPHeaders::Find(const std::string& name) const {
    auto it = m_fields.find(name);
    return it == m_fields.end() ? nullptr : &it->second;
}

void CHTTPHeaders::ParseStatusLine(const std::string& line) {
    CRegExp match = StatusPattern();
    // "^" also matches after a line feed inside the text; a status line starts at the line's start.
    if (!match.Match(line) || match.GetGroupStart(0) != 0)
        throw CHTTPBadResponseStatusException();
    m_major = StrToL32(Group(match, line, 1), 10);
    m_minor = StrToL32(Group(match, line, 2), 10);
    m_status = StrToL32(Group(match, line, 3), 10);
    m_reason = Group(match, line, 4);
}

void CHTTPHeaders::ParseFieldLine(const std::string& line, std::string& lastName) {
    CRegExp continuation = ContinuationPattern();
    if (continuation.Match(line) && continuation.GetGroupStart(0) == 0) {
        if (lastName.empty())
            throw CHTTPBadResponseHeaderException();
        std::string& value = m_fields[lastName];
        value += ' ';
        value += line.substr(static_cast<size_t>(continuation.GetGroupLength(0)));
        return;
    }
    CRegExp field = FieldPattern();
    if (!field.Match(line))
        throw CHTTPBadResponseHeaderException();
    std::string name = ToLower(Group(field, line, 1));
    std::string value = Group(field, line, 2);
    auto [it, inserted] = m_fields.try_emplace(name, value);
    if (!inserted)
        it->second += "; " + value;
    lastName = std::move(name);
}
