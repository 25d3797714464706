#include "net/win_sock_library.h"

#include "foundation/message_table.h"
#include "net/network_exception.h"

#include <cassert>
#include <mutex>

namespace {

std::mutex g_lock;
int g_users = 0; // guarded by g_lock
CWinSockLibrary g_library;

constexpr uint16_t kVersion11 = 0x0101;

template <typename F>
void Find(platform::WinModule* module, const char* name, F& slot) {
    void* proc = platform::GetModuleProc(module, name);
    if (proc == nullptr)
        throw CNetworkUnavailableException();
    slot = reinterpret_cast<F>(proc);
}

} // namespace

void CWinSockLibrary::Acquire() {
    std::lock_guard guard(g_lock);
    if (g_users == 0) {
        try {
            g_library.Load("ws2_32.dll");
        } catch (const CException&) {
            g_library.Unload();
            try {
                g_library.Load("wsock32.dll"); // the older library; its failure reaches the caller
            } catch (...) {
                g_library.Unload();
                throw;
            }
        }
    }
    ++g_users;
}

void CWinSockLibrary::Release() {
    std::lock_guard guard(g_lock);
    assert(g_users > 0 && "CWinSockLibrary released more often than acquired");
    if (g_users == 0 || --g_users > 0)
        return;
    if (g_library.WSACleanup != nullptr)
        g_library.WSACleanup();
    g_library.Unload();
    SetSocketMessageTable(nullptr);
}

const CWinSockLibrary& CWinSockLibrary::Get() {
    return g_library;
}

void CWinSockLibrary::Load(const char* moduleName) {
    m_module = platform::LoadModule(moduleName);
    if (m_module == nullptr)
        throw CNetworkUnavailableException();
    Find(m_module, "WSAStartup", WSAStartup);
    Find(m_module, "accept", accept);
    Find(m_module, "bind", bind);
    Find(m_module, "closesocket", closesocket);
    Find(m_module, "connect", connect);
    Find(m_module, "ioctlsocket", ioctlsocket);
    Find(m_module, "getpeername", getpeername);
    Find(m_module, "getsockname", getsockname);
    Find(m_module, "getsockopt", getsockopt);
    Find(m_module, "htonl", htonl);
    Find(m_module, "htons", htons);
    Find(m_module, "inet_addr", inet_addr);
    Find(m_module, "inet_ntoa", inet_ntoa);
    Find(m_module, "listen", listen);
    Find(m_module, "ntohl", ntohl);
    Find(m_module, "ntohs", ntohs);
    Find(m_module, "recv", recv);
    Find(m_module, "recvfrom", recvfrom);
    Find(m_module, "select", select);
    Find(m_module, "send", send);
    Find(m_module, "sendto", sendto);
    Find(m_module, "setsockopt", setsockopt);
    Find(m_module, "shutdown", shutdown);
    Find(m_module, "socket", socket);
    Find(m_module, "gethostbyaddr", gethostbyaddr);
    Find(m_module, "gethostbyname", gethostbyname);
    Find(m_module, "gethostname", gethostname);
    Find(m_module, "getservbyport", getservbyport);
    Find(m_module, "getservbyname", getservbyname);
    Find(m_module, "getprotobynumber", getprotobynumber);
    Find(m_module, "getprotobyname", getprotobyname);
    Find(m_module, "WSACleanup", WSACleanup);
    Find(m_module, "WSAIsBlocking", WSAIsBlocking);
    Find(m_module, "WSAGetLastError", WSAGetLastError);
    Find(m_module, "__WSAFDIsSet", WSAFDIsSet);

    platform::WinWsaData data;
    int result = WSAStartup(kVersion11, &data);
    if (result == 0 && data.wVersion != kVersion11) {
        WSACleanup();
        result = platform::kWsaVernotsupported;
    }
    if (result != 0)
        throw CNetworkUnavailableException();
}

void CWinSockLibrary::Unload() {
    if (m_module != nullptr)
        platform::FreeWinModule(m_module);
    *this = CWinSockLibrary();
}
