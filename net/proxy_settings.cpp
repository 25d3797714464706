#include "net/proxy_settings.h"

#include "foundation/preferences.h"
#include "foundation/string_number.h"
#include "foundation/trace.h"
#include "net/network_exception.h"
#include "net/socket.h"
#include "net/system_proxy_settings.h"
#include "net/uri_patterns.h"

#include <mutex>

namespace {

constexpr const char* kTrace = "http";
constexpr int kDefaultHTTPPort = 80;
constexpr int kMaxPort = 65535;

// The override and the credentials hook; both replaced on the user-interface thread, read by any.
struct Installed {
    std::mutex mutex;
    std::shared_ptr<const CProxySettings> settings; // guarded by mutex; null: the system's settings
    ProxyCredentialsHook credentialsHook;           // guarded by mutex
};

Installed& GetInstalled() {
    static Installed installed;
    return installed;
}

const CProxySettings& SystemSettings() {
    static const CSystemProxySettings settings;
    return settings;
}

// The settings that apply now, held for as long as the caller keeps `holder`.
const CProxySettings& CurrentSettings(std::shared_ptr<const CProxySettings>& holder) {
    holder = GetProxySettings();
    return holder ? *holder : SystemSettings();
}

std::string GetProxyFor(const CProxySettings& settings, const std::string& scheme, const std::string& host,
                        int& port) {
    if (!settings.IsProxyEnabled(scheme) || settings.IsProxyBypassed(host))
        return host;
    return settings.GetProxyServer(scheme, port);
}

} // namespace

CProxySettings::~CProxySettings() = default;

bool CNoProxySettings::IsProxyEnabled(const std::string&) const {
    return false;
}
bool CNoProxySettings::IsProxyBypassed(const std::string&) const {
    return false;
}
std::string CNoProxySettings::GetProxyServer(const std::string&, int&) const {
    return std::string();
}

bool CManualProxySettings::IsProxyEnabled(const std::string& scheme) const {
    return scheme == "http";
}
bool CManualProxySettings::IsProxyBypassed(const std::string&) const {
    return false;
}
std::string CManualProxySettings::GetProxyServer(const std::string& scheme, int& port) const {
    if (scheme != "http")
        return std::string();
    port = m_port;
    return m_host;
}

void SetProxySettings(std::unique_ptr<CProxySettings> settings) {
    std::shared_ptr<const CProxySettings> previous(std::move(settings));
    {
        std::lock_guard lock(GetInstalled().mutex);
        GetInstalled().settings.swap(previous);
    }
    // The previous object goes here, outside the lock, unless a reader still holds it.
}

std::shared_ptr<const CProxySettings> GetProxySettings() {
    std::lock_guard lock(GetInstalled().mutex);
    return GetInstalled().settings;
}

void SetProxyCredentialsHook(ProxyCredentialsHook hook) {
    std::lock_guard lock(GetInstalled().mutex);
    GetInstalled().credentialsHook = std::move(hook);
}

void ApplyProxyPreferences(const CNameValueDocument& preferences) {
    switch (GetProxyState(preferences)) {
    case kProxyStateSystem:
        SetProxySettings(nullptr);
        break;
    case kProxyStateManual: {
        int32_t port = StrToL32(GetProxyPort(preferences), 10);
        if (port < 0 || port > kMaxPort)
            port = 0; // as for a text that is no number: the connection's default
        SetProxySettings(std::make_unique<CManualProxySettings>(GetProxyAddress(preferences), port));
        break;
    }
    default:
        SetProxySettings(std::make_unique<CNoProxySettings>());
        break;
    }

    ProxyCredentialsHook hook;
    {
        std::lock_guard lock(GetInstalled().mutex);
        hook = GetInstalled().credentialsHook;
    }
    if (hook)
        hook(GetProxyUsername(preferences), GetProxyPassword(preferences));
}

bool IsProxyEnabled(const std::string& scheme) {
    std::shared_ptr<const CProxySettings> holder;
    return CurrentSettings(holder).IsProxyEnabled(scheme);
}

bool IsProxyBypassed(const std::string& host) {
    std::shared_ptr<const CProxySettings> holder;
    return CurrentSettings(holder).IsProxyBypassed(host);
}

std::string GetProxyServer(const std::string& scheme, int& port) {
    std::shared_ptr<const CProxySettings> holder;
    return CurrentSettings(holder).GetProxyServer(scheme, port);
}

std::string GetProxyFor(const std::string& scheme, const std::string& host, int& port) {
    std::shared_ptr<const CProxySettings> holder;
    return GetProxyFor(CurrentSettings(holder), scheme, host, port);
}

platform::WinSockAddrIn ResolveConnectTarget(const std::string& uri, bool& useProxy) {
    CRegExp uriMatch = GetURIPattern();
    if (!uriMatch.Match(uri))
        throw CHTTPInvalidURIException(uri);
    std::string scheme = GetMatchGroup(uriMatch, uri, kURIScheme);
    if (scheme.empty())
        scheme = "http";
    const std::string authority = GetMatchGroup(uriMatch, uri, kURIAuthority);

    CRegExp authorityMatch = GetAuthorityPattern();
    if (!authorityMatch.Match(authority))
        throw CHTTPInvalidURIException(uri);
    std::string host = GetMatchGroup(authorityMatch, authority, kAuthorityHost);
    if (host.empty())
        throw CHTTPInvalidURIException(uri);
    const std::string portText = GetMatchGroup(authorityMatch, authority, kAuthorityPort);
    int port = kDefaultHTTPPort;
    if (!portText.empty()) {
        // The digits saturate on overflow; a port that does not fit must not wrap to another one.
        uint32_t value = StrToUL32(portText, 10);
        if (value > kMaxPort)
            throw CHTTPInvalidURIException(uri);
        port = static_cast<int>(value);
    }

    if (useProxy) {
        // One snapshot of the settings for the whole decision.
        std::shared_ptr<const CProxySettings> holder;
        const CProxySettings& settings = CurrentSettings(holder);
        if (!settings.IsProxyEnabled(scheme) || settings.IsProxyBypassed(host))
            useProxy = false;
        else
            host = settings.GetProxyServer(scheme, port); // what GetProxyFor gives once both checks pass
    }
    Trace(kTrace, 2, "connect target for %s: %s:%d%s", uri.c_str(), host.c_str(), port,
          useProxy ? " (proxy)" : "");
    return ResolveHostAddress(host, static_cast<uint16_t>(port));
}
