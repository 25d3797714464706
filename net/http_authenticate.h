// An authentication scheme that answers the challenges of 401 and 407 replies. The plugin object keeps
// one prototype per scheme and registers it with every connection; each exchange works on a clone,
// which the request keeps with its last answer between the rounds of a scheme that needs several.
//
// Threads: prototypes are shared by all connections and only cloned during exchanges; a clone belongs
// to one connection's worker thread.
#pragma once

#include <memory>
#include <string>

class CHTTPAuthResponse;

class CHTTPAuthenticate {
public:
    virtual ~CHTTPAuthenticate() = default;

    virtual std::unique_ptr<CHTTPAuthenticate> Clone() const = 0;
    // The scheme name as it appears in challenges ("Basic", "NTLM"); compared case-sensitively.
    virtual std::string GetScheme() const = 0;
    // The answer to the current challenge, given this authenticator's previous answer in the same
    // exchange (null in the first round); null when it cannot answer.
    virtual std::unique_ptr<CHTTPAuthResponse> Respond(CHTTPAuthResponse* previous) = 0;
};
