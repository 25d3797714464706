#include "foundation/exception.h"

#include "foundation/message_table.h"
#include "foundation/reg_exp_error.h"
#include "foundation/string_format.h"

CException::CException(const char* code, const char* /*detail*/) : m_code(code != nullptr ? code : "") {}

CException::~CException() = default;

std::string CException::Format(const std::string& tmpl) const {
    return tmpl;
}

std::string CException::GetText() const {
    const CMessageTable* table = GetErrorMessageTable();
    if (table == nullptr)
        return GetUnknownExceptionText();
    std::string text = m_code;
    if (table->Contains(text) && table->Lookup(text))
        return Format(text);
    text = "EUNKNOWN";
    if (table->Contains(text) && table->Lookup(text))
        return SubstituteArgs(text, {m_code});
    return GetUnknownExceptionText();
}

std::string GetUnknownExceptionText() {
    const CMessageTable* table = GetErrorMessageTable();
    std::string text;
    if (table != nullptr && table->Lookup(text) && !text.empty())
        return text;
    return "<unknown exception>";
}

std::string CUIResourceNotFoundException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_module});
}

std::string COutOfRangeException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {FormatString("%d", m_index)});
}

std::string CRegExpException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {FormatString("%d", m_error), GetRegExpErrorText(m_error)});
}

std::string CFileNotFoundException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_path});
}

std::string CDeviceFull::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_path});
}

std::string CBadNameValueDocumentPathException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_path});
}

std::string CSelectionIDExists::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_id});
}
