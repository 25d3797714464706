// Proxy selection for new connections: whether a request goes through an HTTP proxy, and which host
// and port its socket connects to. The answer comes from a process-wide override installed from the
// user's preferences ("none" or "manual"), or, when none is installed ("system"), from the current
// user's Internet settings in the registry, read afresh at every query.
//
// Threads: the override is replaced on the user-interface thread (ApplyProxyPreferences,
// SetProxySettings) while sender threads query it. Readers take a shared reference to the installed
// object under a mutex, so a replaced object lives on until its last reader lets go; a connection
// that resolves its target while the override changes sees either the old or the new settings whole.
#pragma once

#include "platform/winsock.h"

#include <functional>
#include <memory>
#include <string>

class CNameValueDocument;

class CProxySettings {
public:
    virtual ~CProxySettings();
    // Whether requests of the scheme ("http", "ftp"...) go through a proxy at all.
    virtual bool IsProxyEnabled(const std::string& scheme) const = 0;
    // Whether requests to the host go directly even when a proxy is enabled.
    virtual bool IsProxyBypassed(const std::string& host) const = 0;
    // The proxy host for the scheme and its port (0 for "the connection's default"), or "" for none.
    virtual std::string GetProxyServer(const std::string& scheme, int& port) const = 0;
};

// The state "none": no request goes through a proxy.
class CNoProxySettings : public CProxySettings {
public:
    bool IsProxyEnabled(const std::string& scheme) const override;
    bool IsProxyBypassed(const std::string& host) const override;
    std::string GetProxyServer(const std::string& scheme, int& port) const override;
};

// The state "manual": one proxy for the scheme "http" only, bypassed for no host.
class CManualProxySettings : public CProxySettings {
public:
    CManualProxySettings(std::string host, int port) : m_host(std::move(host)), m_port(port) {}
    bool IsProxyEnabled(const std::string& scheme) const override;
    bool IsProxyBypassed(const std::string& host) const override;
    std::string GetProxyServer(const std::string& scheme, int& port) const override;

private:
    const std::string m_host;
    const int m_port;
};

// --- The override ------------------------------------------------------------------------------

// Installs `settings` (null: the system's settings) in place of the previous override, which is
// deleted once no reader holds it any more.
void SetProxySettings(std::unique_ptr<CProxySettings> settings);
// The installed override, null when the system's settings apply.
std::shared_ptr<const CProxySettings> GetProxySettings();

// Installs the override that the preferences name: "proxyState" "system" or empty installs none,
// "manual" a manual proxy at "proxyAddress" and the port in "proxyPort" (0 when that is not a number
// from 1 to 65535), any other state the "none" settings. Then hands the proxy user name and password
// to the credentials hook.
void ApplyProxyPreferences(const CNameValueDocument& preferences);

// Where ApplyProxyPreferences delivers "proxyUsername" and "proxyPassword": the Basic authenticator
// of proxy challenges registers itself here. Called on the thread that applies the preferences.
using ProxyCredentialsHook = std::function<void(const std::string& user, const std::string& password)>;
void SetProxyCredentialsHook(ProxyCredentialsHook hook);

// --- Queries -----------------------------------------------------------------------------------
// Each asks the installed override, or the system's settings when there is none. None raises.

bool IsProxyEnabled(const std::string& scheme);
bool IsProxyBypassed(const std::string& host);
std::string GetProxyServer(const std::string& scheme, int& port);
// The proxy host for a request of `scheme` to `host` (setting `port`), or `host` itself (leaving
// `port`) when no proxy applies.
std::string GetProxyFor(const std::string& scheme, const std::string& host, int& port);

// The socket address for a connection to `uri`: its host and port (80 when none is written), or the
// proxy's when `useProxy` is set and a proxy applies; `useProxy` is cleared when none does. A port of
// 0 (a proxy entry without a usable port) is left for the connection to replace. The socket library
// must be held. Raises CHTTPInvalidURIException for a URI without a valid host or with a port above
// 65535, and CHostNotFoundException or CNoHostDataException when the host does not resolve.
platform::WinSockAddrIn ResolveConnectTarget(const std::string& uri, bool& useProxy);
