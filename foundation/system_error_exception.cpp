// Texts of the families that carry a Win32 error number: the registry and the user interface.

#include "foundation/registry_exception.h"
#include "foundation/string_format.h"
#include "foundation/ui_exception.h"
#include "platform/last_error.h"
#include "platform/system_message.h"

std::string CRegistryException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {FormatString("0x%08x", m_error), platform::FormatSystemMessage(m_error)});
}

CUIException::CUIException() : CException("EUI"), m_error(platform::GetLastError()) {}

std::string CUIException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {FormatString("%u", m_error), platform::FormatSystemMessage(m_error)});
}
