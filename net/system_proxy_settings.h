// The system's proxy settings: the current user's Internet settings in the registry ("ProxyEnable",
// "ProxyServer", "ProxyOverride"), read afresh at every query and never cached. Registry failures do
// not escape: they read as no proxy, not bypassed and no proxy host.
//
// Threads: any; the object holds no state.
#pragma once

#include "net/proxy_settings.h"

// Below HKEY_CURRENT_USER.
constexpr const char* kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

class CSystemProxySettings : public CProxySettings {
public:
    // "ProxyEnable" is not 0 and GetProxyServer gives a host.
    bool IsProxyEnabled(const std::string& scheme) const override;
    // The host ends with "." and an entry of "ProxyOverride"; the entry "<local>" bypasses host names
    // without a dot and, in its place, names the local machine's domain.
    bool IsProxyBypassed(const std::string& host) const override;
    // "ProxyServer" is either "host[:port]" for every scheme or "scheme=host[:port];...". A missing
    // port is the scheme's default; a port outside 1 to 65535 gives 0.
    std::string GetProxyServer(const std::string& scheme, int& port) const override;

    // The default port of a proxy for the scheme: 0 for a scheme without one.
    static int GetDefaultPort(const std::string& scheme);

protected:
    // The local machine's domain: its official name after the first ".", "" when it has none or the
    // lookup fails. Asks the socket library each time.
    virtual std::string GetLocalDomain() const;
};
