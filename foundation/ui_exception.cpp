#include "foundation/ui_exception.h"

#include "foundation/string_format.h"
#include "platform/last_error.h"
#include "platform/system_message.h"

CUIException::CUIException() : CException("EUI"), m_error(platform::GetLastError()) {}

std::string CUIException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {FormatString("%u", m_error), platform::FormatSystemMessage(m_error)});
}
