// One answer of an authentication scheme: the credentials text that follows the scheme name in an
// "Authorization" or "Proxy-Authorization" header. Schemes that need several rounds subclass it to
// keep what the next round needs, and report the answers before the last one as incomplete.
//
// Threads: an answer belongs to the request that carries it, and so to one connection's worker.
#pragma once

#include <string>
#include <utility>

class CHTTPAuthResponse {
public:
    explicit CHTTPAuthResponse(std::string credentials = "") : m_credentials(std::move(credentials)) {}
    virtual ~CHTTPAuthResponse() = default;
    CHTTPAuthResponse(const CHTTPAuthResponse&) = delete;
    CHTTPAuthResponse& operator=(const CHTTPAuthResponse&) = delete;

    // False for an answer that the server must follow with another challenge.
    virtual bool IsComplete() const { return true; }
    const std::string& GetCredentials() const { return m_credentials; }
    // Appends `text` to the credentials, after a "," when there are some already.
    void AppendCredentials(const std::string& text);

protected:
    std::string m_credentials;
};
