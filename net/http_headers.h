// The status line and the fields of one reply's header block, taken apart with the reply patterns.
// Field names are kept in lower case; a repeated field keeps one entry whose values are joined by
// "; ", and a line that starts with white space continues the field before it.
#pragma once

#include <map>
#include <string>
#include <string_view>

class CHTTPHeaders {
public:
    using Map = std::map<std::string, std::string>;

    // `block` is a whole header block, status line first, ending with the blank line. Raises
    // CHTTPBadResponseStatusException when the status line is not one; for a final (not 1xx) reply
    // also CHTTPBadResponseHeaderException for a line that is neither a field nor a continuation of
    // one. The fields of an interim reply are not looked at.
    static CHTTPHeaders Parse(std::string_view block);

    int GetMajorVersion() const { return m_major; }
    int GetMinorVersion() const { return m_minor; }
    int GetStatus() const { return m_status; }
    bool IsInterim() const { return m_status / 100 == 1; }
    const std::string& GetReason() const { return m_reason; }
    const Map& GetFields() const { return m_fields; }
    // The value of a field (name in lower case), or null.
    const std::string* Find(const std::string& name) const;
    Map TakeFields() { return std::move(m_fields); }

private:
    void ParseStatusLine(const std::string& line);
    void ParseFieldLine(const std::string& line, std::string& lastName);

    int m_major = 0;
    int m_minor = 0;
    int m_status = 0;
    std::string m_reason;
    Map m_fields;
};
