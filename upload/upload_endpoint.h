// Where and how the upload messages go: the server of the entry servlets, its base URI, the
// User-Agent, the network time-out, whether statistics are sent, the authenticators that answer proxy
// challenges, and the listener told of authentication failures. Built once from the parameters and
// copied into every sender thread and the statistics sender.
#pragma once

#include "net/rate_limit.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

class CException;
class CHTTPAuthenticate;
struct PluginParameters;

class UploadEndpoint {
public:
    // Called by a connection made from this endpoint when authentication fails; `proxy` is true when
    // the response status was 407.
    using AuthorizationListener = std::function<void(bool proxy, const CException& error)>;
    // Authenticators by name; shared by every connection made from the endpoint.
    using Listeners = std::map<std::string, std::shared_ptr<CHTTPAuthenticate>>;

    UploadEndpoint() = default;
    UploadEndpoint(std::string server, std::string userAgent, double timeout, bool sendStatistics);
    static UploadEndpoint FromParameters(const PluginParameters& parameters, std::string userAgent);

    // The endpoint of another server (one that a reply names): the same User-Agent, time-out,
    // statistics flag, authenticators and rate limit, but no authorization listener, so that failures there are
    // not reported to the control.
    UploadEndpoint ForServer(const std::string& server) const;

    const std::string& GetServer() const { return d_server; }
    const std::string& GetBaseURI() const { return d_baseURI; }
    const std::string& GetUserAgent() const { return d_userAgent; }
    double GetTimeout() const { return d_timeout; }
    bool GetSendStatistics() const { return d_sendStatistics; }

    const Listeners& GetListeners() const { return d_listeners; }
    void SetListener(const std::string& name, std::shared_ptr<CHTTPAuthenticate> authenticator);
    void RemoveListener(const std::string& name) { d_listeners.erase(name); }

    // The cap on the bytes per second that the uploads of this endpoint and of the other servers made
    // from it send together; shared by every copy, none until a rate is set.
    CRateLimit& GetRateLimit() const { return *d_rateLimit; }
    const std::shared_ptr<CRateLimit>& GetSharedRateLimit() const { return d_rateLimit; }

    const AuthorizationListener& GetAuthorizationListener() const { return d_authorizationListener; }
    void SetAuthorizationListener(AuthorizationListener listener) {
        d_authorizationListener = std::move(listener);
    }

private:
    std::string d_server;
    std::string d_baseURI; // "http://" + server + "/"
    std::string d_userAgent;
    double d_timeout = 60.0; // seconds
    bool d_sendStatistics = false;
    Listeners d_listeners;
    std::shared_ptr<CRateLimit> d_rateLimit = std::make_shared<CRateLimit>();
    AuthorizationListener d_authorizationListener;
};
