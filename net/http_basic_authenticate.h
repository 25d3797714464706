// The "Basic" scheme: answers a challenge with the user name and password stored for its realm, or
// those of the default realm "" when the realm has none. The plugin's prototype takes the proxy user
// name and password from the preferences whenever they are applied.
//
// Threads: the credentials of the prototype change on the user-interface thread (SetCredentials,
// RemoveCredentials, the proxy-preferences hook) while connections' workers clone it; m_mutex guards
// both maps in every object.
#pragma once

#include "net/http_authenticate.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class CHTTPBasicAuthenticate : public CHTTPAuthenticate {
public:
    CHTTPBasicAuthenticate();
    ~CHTTPBasicAuthenticate() override;

    std::unique_ptr<CHTTPAuthenticate> Clone() const override;
    // A complete answer with the Base64 of "user:password" for the challenge's realm; null when the
    // challenge names no realm or no credentials apply.
    std::unique_ptr<CHTTPAuthResponse> Respond(CHTTPAuthResponse* previous) override;

    // Stores the user name and password for `realm` ("" for every realm without credentials of its
    // own), replacing earlier ones.
    void SetCredentials(const std::string& realm, const std::string& user, const std::string& password);
    void RemoveCredentials(const std::string& realm);

    // What applying the proxy preferences does: the default realm's entry is removed and, unless both
    // are empty, set to `user` and `password`.
    void ApplyProxyCredentials(const std::string& user, const std::string& password);
    // Makes every application of the proxy preferences reach `prototype` (held weakly: once the plugin
    // lets it go, the preferences reach no one).
    static void ReceiveProxyCredentials(const std::shared_ptr<CHTTPBasicAuthenticate>& prototype);

private:
    CHTTPBasicAuthenticate(const CHTTPBasicAuthenticate& other);

    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_users;     // guarded: user names by realm
    std::map<std::string, std::string> m_passwords; // guarded: passwords by realm
};
