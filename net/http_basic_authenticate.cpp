#include "net/http_basic_authenticate.h"

#include "net/base64.h"
#include "net/http_auth_response.h"
#include "net/proxy_settings.h"

CHTTPBasicAuthenticate::CHTTPBasicAuthenticate() : CHTTPAuthenticate("Basic") {}

CHTTPBasicAuthenticate::~CHTTPBasicAuthenticate() = default;

CHTTPBasicAuthenticate::CHTTPBasicAuthenticate(const CHTTPBasicAuthenticate& other)
    : CHTTPAuthenticate(other) {
    std::lock_guard lock(other.m_mutex);
    m_users = other.m_users;
    m_passwords = other.m_passwords;
}

std::unique_ptr<CHTTPAuthenticate> CHTTPBasicAuthenticate::Clone() const {
    return std::unique_ptr<CHTTPAuthenticate>(new CHTTPBasicAuthenticate(*this));
}

std::unique_ptr<CHTTPAuthResponse> CHTTPBasicAuthenticate::Respond(CHTTPAuthResponse* /*previous*/) {
    std::optional<std::string> realm = GetParameter("realm");
    if (!realm)
        return nullptr;
    std::string user, password;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_users.find(*realm);
        if (found == m_users.end())
            found = m_users.find("");
        if (found == m_users.end())
            return nullptr;
        user = found->second;
        password = m_passwords[found->first];
    }
    auto response = std::make_unique<CHTTPAuthResponse>();
    response->AppendCredentials(Base64Encode(user + ":" + password));
    return response;
}

void CHTTPBasicAuthenticate::SetCredentials(const std::string& realm, const std::string& user,
                                            const std::string& password) {
    std::lock_guard lock(m_mutex);
    m_users[realm] = user;
    m_passwords[realm] = password;
}

void CHTTPBasicAuthenticate::RemoveCredentials(const std::string& realm) {
    std::lock_guard lock(m_mutex);
    m_users.erase(realm);
    m_passwords.erase(realm);
}

void CHTTPBasicAuthenticate::ApplyProxyCredentials(const std::string& user, const std::string& password) {
    // Under one lock, so that a clone made meanwhile sees the old entry or the new one.
    std::lock_guard lock(m_mutex);
    m_users.erase("");
    m_passwords.erase("");
    if (user.empty() && password.empty())
        return;
    m_users[""] = user;
    m_passwords[""] = password;
}

void CHTTPBasicAuthenticate::ReceiveProxyCredentials(
    const std::shared_ptr<CHTTPBasicAuthenticate>& prototype) {
    std::weak_ptr<CHTTPBasicAuthenticate> weak = prototype;
    SetProxyCredentialsHook([weak](const std::string& user, const std::string& password) {
        if (std::shared_ptr<CHTTPBasicAuthenticate> basic = weak.lock())
            basic->ApplyProxyCredentials(user, password);
    });
}
