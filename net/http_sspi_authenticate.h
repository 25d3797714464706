// Schemes answered through the platform's security-package interface with the credentials of the
// logged-on user. CHTTPMicrosoftSSPIAuthenticate holds what a package tells about itself and a share of
// the interface, which is loaded once for the process and freed with its last user;
// CHTTPNTLMAuthenticate answers "NTLM" challenges in two rounds on one kept-alive connection. Where the
// interface cannot be loaded (always on Linux) or lacks the package, construction fails and the
// plugin registers no prototype for the scheme.
//
// Threads: as for every authenticator, the prototype is only cloned; a clone and its answers belong to
// one connection's worker. The interface's reference count is process-wide and locked.
#pragma once

#include "net/http_auth_response.h"
#include "net/http_authenticate.h"
#include "platform/sspi.h"

#include <cstdint>
#include <memory>
#include <string>

class CHTTPMicrosoftSSPIAuthenticate : public CHTTPAuthenticate {
public:
    ~CHTTPMicrosoftSSPIAuthenticate() override;

    const std::string& GetPackage() const { return m_package; }
    uint32_t GetCapabilities() const { return m_capabilities; }
    uint32_t GetMaxToken() const { return m_maxToken; }

protected:
    // Loads the interface and asks it about `package`, which is also the scheme name. Raises
    // CHTTPMicrosoftSSPIAuthenticateNoScheme when the interface cannot be loaded or does not know the
    // package.
    explicit CHTTPMicrosoftSSPIAuthenticate(const std::string& package);
    // For Clone: the package's facts, and another share of the interface.
    CHTTPMicrosoftSSPIAuthenticate(const CHTTPMicrosoftSSPIAuthenticate& other);

    // The package calls; valid for the life of this object.
    const platform::sspi::SecurityFunctions& Functions() const { return *m_functions; }

private:
    std::string m_package;
    uint32_t m_capabilities = 0;
    uint32_t m_maxToken = 0;
    const platform::sspi::SecurityFunctions* m_functions; // held: released by the destructor
};

// A first-round answer: incomplete, and the owner of the security context that the second round
// continues. The context is deleted with the answer unless the second round has taken it over.
class CHTTPMicrosoftSSPIAuthResponse : public CHTTPAuthResponse {
public:
    explicit CHTTPMicrosoftSSPIAuthResponse(const platform::sspi::SecHandle& context);
    ~CHTTPMicrosoftSSPIAuthResponse() override;

    bool IsComplete() const override { return false; }
    // Hands the context over; this answer no longer deletes it.
    platform::sspi::SecHandle TakeContext();
    bool OwnsContext() const { return m_owned; }

private:
    platform::sspi::SecHandle m_context;
    bool m_owned = true;
    const platform::sspi::SecurityFunctions* m_functions; // held: released by the destructor
};

class CHTTPNTLMAuthenticate : public CHTTPMicrosoftSSPIAuthenticate {
public:
    // Raises CHTTPMicrosoftSSPIAuthenticateNoScheme when there is no "NTLM" package.
    CHTTPNTLMAuthenticate();

    std::unique_ptr<CHTTPAuthenticate> Clone() const override;
    // The first round without a previous answer, else the second; null when the round fails.
    std::unique_ptr<CHTTPAuthResponse> Respond(CHTTPAuthResponse* previous) override;

protected:
    CHTTPNTLMAuthenticate(const CHTTPNTLMAuthenticate& other) = default;

    // A new context for the logged-on user: an incomplete answer that keeps it, with the negotiation
    // token as credentials.
    virtual std::unique_ptr<CHTTPAuthResponse> FirstRound();
    // Continues the first round's context with the server's token (the challenge text): a complete
    // answer with the package's reply token.
    virtual std::unique_ptr<CHTTPAuthResponse> SecondRound(CHTTPAuthResponse& previous);
};
