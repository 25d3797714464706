#include "foundation/reg_exp.h"

#include "foundation/exception.h"
#include "foundation/reg_exp_error.h"
#include "foundation/reg_exp_program.h"

#include <climits>
#include <cstring>

static_assert(CRegExp::kIgnoreCase == kRegExpIgnoreCase &&
              CRegExp::kNewlineOrdinary == kRegExpNewlineOrdinary);
static_assert(CRegExp::kNotBeginOfLine == kRegExpNotBeginOfLine &&
              CRegExp::kNotEndOfLine == kRegExpNotEndOfLine);

CRegExp::CRegExp(const std::string& pattern, int flags) {
    Compile(pattern.data(), pattern.size(), flags);
}

CRegExp::CRegExp(const char* pattern, int flags)
    : CRegExp(pattern, pattern ? static_cast<int>(strlen(pattern)) : 0, flags) {}

CRegExp::CRegExp(const char* pattern, int length, int flags) {
    if (length < 0 || (pattern == nullptr && length > 0))
        throw CRegExpException(kRegInvArg);
    Compile(pattern, static_cast<size_t>(length), flags);
}

CRegExp::~CRegExp() = default;
CRegExp::CRegExp(const CRegExp& other) = default;
CRegExp& CRegExp::operator=(const CRegExp& other) = default;

void CRegExp::Compile(const char* pattern, size_t length, int flags) {
    auto program = std::make_shared<RegExpProgram>();
    int error = CompileRegExpProgram(pattern, length, flags, *program);
    if (error != kRegOkay)
        throw CRegExpException(error);
    m_program = std::move(program);
    Reset();
}

void CRegExp::Reset() {
    m_matched = false;
    m_groups.assign(static_cast<size_t>(m_program->groupCount) + 1, {-1, -1});
}

bool CRegExp::Match(const std::string& text, int flags) {
    if (text.size() > static_cast<size_t>(INT_MAX))
        throw CRegExpException(kRegInvArg); // offsets are ints
    return Match(text.data(), static_cast<int>(text.size()), flags);
}

bool CRegExp::Match(const char* text, int length, int flags) {
    Reset();
    if (text == nullptr) {
        if (length > 0)
            throw CRegExpException(kRegInvArg);
        length = 0;
    } else if (length < 0) {
        size_t n = strlen(text);
        if (n > static_cast<size_t>(INT_MAX))
            throw CRegExpException(kRegInvArg);
        length = static_cast<int>(n);
    }
    // The engine fills the group array in place (no allocation once it has its size); on anything but
    // a match it is put back to the no-match state.
    int result = ExecuteRegExpProgram(*m_program, text, length, flags, m_groups);
    if (result != kRegOkay) {
        Reset();
        if (result == kRegNoMatch)
            return false;
        throw CRegExpException(result);
    }
    m_matched = true;
    return true;
}

void CRegExp::CheckIndex(int i) const {
    if (i < 0 || i >= GetGroupCount())
        throw COutOfRangeException(i);
}

int CRegExp::GetGroupStart(int i) const {
    CheckIndex(i);
    return m_matched ? m_groups[i].first : -1;
}

int CRegExp::GetGroupLength(int i) const {
    CheckIndex(i);
    if (!m_matched || m_groups[i].first < 0)
        return 0;
    return m_groups[i].second - m_groups[i].first;
}

std::string CRegExp::GetErrorText(int error) {
    return GetRegExpErrorText(error);
}
