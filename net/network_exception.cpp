#include "net/network_exception.h"

#include "foundation/message_table.h"
#include "foundation/string_format.h"
#include "platform/last_error.h"

std::string CNetworkException::Format(const std::string& tmpl) const {
    if (m_error <= 0)
        return tmpl;
    std::string number = FormatString("%d", m_error);
    std::string text;
    if (const CMessageTable* table = GetSocketMessageTable()) {
        text = number;
        table->Lookup(text); // a number the catalogue lacks stands for itself
    }
    return SubstituteArgs(tmpl, {number, text});
}

CSocketException::CSocketException() : CNetworkException(platform::GetLastSocketError()) {}

std::string CNetworkArgumentException::Format(const std::string& tmpl) const {
    return SubstituteArgs(CNetworkException::Format(tmpl), {m_argument});
}

std::string CHTTPInvalidURIException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_uri});
}

std::string CHTTPNoHeaderException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_name});
}

std::string CHTTPBadHeaderException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_header});
}

std::string CHTTPAuthNoAuthenticatorException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_scheme});
}

std::string CHTTPResponseAuthInvalidChallenge::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_challenge});
}

std::string CHTTPMicrosoftSSPIAuthenticateNoScheme::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_scheme});
}

std::string CInternetBadEncodingException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_text});
}

std::string CInternetBadDateException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_text});
}
