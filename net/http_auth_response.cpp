#include "net/http_auth_response.h"

#include "foundation/trace.h"

void CHTTPAuthResponse::AppendCredentials(const std::string& text) {
    if (!m_credentials.empty())
        m_credentials += ',';
    m_credentials += text;
    // The credentials stand for a password: the trace, which users pass on with problem reports, only
    // says how long they are.
    Trace("http", 0, "auth: set credentials: <%zu bytes>", text.size());
}
