#include "net/system_proxy_settings.h"

#include "foundation/exception.h"
#include "foundation/registry_key.h"
#include "foundation/string_number.h"
#include "net/win_sock_library.h"

#include <string_view>

namespace {

constexpr const char* kLocalEntry = "<local>";
constexpr size_t kHostNameBuffer = 256;
constexpr int kMaxPort = 65535;

CRegistryKey OpenInternetSettings() {
    return CRegistryKey(kRootCurrentUser, kInternetSettingsKey, CRegistryKey::Open::ReadOnly);
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

int CSystemProxySettings::GetDefaultPort(const std::string& scheme) {
    static constexpr struct {
        const char* scheme;
        int port;
    } kDefaultPorts[] = {{"http", 80}, {"https", 443}, {"ftp", 21}, {"gopher", 70}, {"socks", 1080}};
    for (const auto& entry : kDefaultPorts) {
        if (scheme == entry.scheme)
            return entry.port;
    }
    return 0;
}

bool CSystemProxySettings::IsProxyEnabled(const std::string& scheme) const {
    try {
        if (OpenInternetSettings().ReadInteger("ProxyEnable") == 0)
            return false;
    } catch (const CException&) {
        return false;
    }
    int port = 0;
    return !GetProxyServer(scheme, port).empty();
}

std::string CSystemProxySettings::GetProxyServer(const std::string& scheme, int& port) const {
    port = 0;
    std::string server;
    try {
        server = OpenInternetSettings().ReadString("ProxyServer");
    } catch (const CException&) {
        return std::string();
    }

    size_t start = server.find(scheme + "=");
    if (start != std::string::npos)
        start += scheme.size() + 1;
    else if (server.find('=') != std::string::npos)
        return std::string(); // a list without an entry for this scheme
    else
        start = 0; // one proxy for every scheme

    size_t end = server.find(';', start);
    std::string_view entry =
        std::string_view(server).substr(start, end == std::string::npos ? end : end - start);
    size_t colon = entry.find(':');
    if (colon == std::string_view::npos) {
        port = GetDefaultPort(scheme);
        return std::string(entry);
    }
    int32_t value = StrToL32(entry.substr(colon + 1), 10);
    port = (value < 1 || value > kMaxPort) ? 0 : value;
    return std::string(entry.substr(0, colon));
}

bool CSystemProxySettings::IsProxyBypassed(const std::string& host) const {
    std::string overrides;
    try {
        overrides = OpenInternetSettings().ReadString("ProxyOverride");
    } catch (const CException&) {
        return false;
    }
    if (overrides.empty())
        return false;

    std::string_view rest = overrides;
    for (bool more = true; more;) {
        size_t separator = rest.find(';');
        std::string entry(rest.substr(0, separator));
        more = separator != std::string_view::npos;
        if (more)
            rest.remove_prefix(separator + 1);

        if (entry == kLocalEntry) {
            if (host.find('.') == std::string::npos)
                return true;
            entry = GetLocalDomain();
            if (entry.empty())
                continue;
        }
        // No wildcards: an entry names the hosts below it, not itself.
        if (EndsWith(host, "." + entry))
            return true;
    }
    return false;
}

std::string CSystemProxySettings::GetLocalDomain() const {
    try {
        CWinSockUser library;
        const CWinSockLibrary& wsa = CWinSockLibrary::Get();
        char name[kHostNameBuffer] = {};
        if (wsa.gethostname(name, static_cast<int>(sizeof name)) != 0)
            return std::string();
        name[sizeof name - 1] = '\0';
        const platform::WinHostEnt* entry = wsa.gethostbyname(name);
        if (entry == nullptr || entry->h_name == nullptr)
            return std::string();
        std::string_view official = entry->h_name;
        size_t dot = official.find('.');
        return dot == std::string_view::npos ? std::string() : std::string(official.substr(dot + 1));
    } catch (const CException&) {
        return std::string(); // no socket library: no domain
    }
}
