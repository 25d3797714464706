// CRegExp: a compiled regular expression and the group positions of its last match. The compiled
// pattern is shared by all copies of an object, so a pattern is compiled once into a static object and
// every user matches with a copy of it, whose group array is its own.
//
// Syntax: POSIX extended expressions with <...> for groups that do not capture, \d \s \w \D \S \W as
// classes (also inside brackets), \b \B as word-boundary tests, empty alternatives, no back-references
// and no named classes, collating elements or equivalence classes. Matching is POSIX leftmost-longest,
// without backtracking.
//
// Threads: the compiled pattern is read-only and may be used from any number of threads at once through
// different objects. One object is not to be used by two threads at once; making and destroying copies
// of one object needs the callers' own exclusion, as for any shared value.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct RegExpProgram;

class CRegExp {
public:
    // Compile flags.
    static constexpr int kIgnoreCase = 2;
    static constexpr int kNewlineOrdinary = 4; // else "." and [^...] skip a line feed, ^ and $ match at one
    // Match flags.
    static constexpr int kNotBeginOfLine = 1; // ^ does not match at the start of the text
    static constexpr int kNotEndOfLine = 2;   // $ does not match at its end

    // Compile; raise CRegExpException with the engine's error number on a bad pattern. The pattern ends
    // at `length`, so it may hold NUL bytes.
    // The bytes form takes no default, so that CRegExp("...", kIgnoreCase) cannot be read as a length.
    explicit CRegExp(const std::string& pattern, int flags = 0);
    explicit CRegExp(const char* pattern, int flags = 0);
    CRegExp(const char* pattern, int length, int flags);
    ~CRegExp();

    // A copy shares the compiled pattern and copies the group array and the matched state.
    CRegExp(const CRegExp& other);
    CRegExp& operator=(const CRegExp& other);

    // Search the whole text for the leftmost-longest match; true on a match, whose groups then replace
    // the group array. A negative `length` means up to the first NUL. Any engine failure other than "no
    // match" raises CRegExpException.
    bool Match(const std::string& text, int flags = 0);
    bool Match(const char* text, int flags = 0) { return Match(text, -1, flags); }
    bool Match(const char* text, int length, int flags);

    // Groups 0 (the whole match) to GetGroupCount() - 1. The start is -1 and the length 0 after a failed
    // match or for a group that took no part. An index outside that range raises COutOfRangeException.
    int GetGroupStart(int i) const;
    int GetGroupLength(int i) const;
    int GetGroupCount() const { return static_cast<int>(m_groups.size()); }

    static std::string GetErrorText(int error);

private:
    void Compile(const char* pattern, size_t length, int flags);
    void CheckIndex(int i) const;
    void Reset();

    std::shared_ptr<const RegExpProgram> m_program; // shared by all copies, never modified
    std::vector<std::pair<int, int>> m_groups;      // (start, end) per group, group 0 first
    bool m_matched = false;
};
