#include "foundation/registry_exception.h"

#include "foundation/string_format.h"
#include "platform/system_message.h"

std::string CRegistryException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {FormatString("0x%08x", m_error), platform::FormatSystemMessage(m_error)});
}
