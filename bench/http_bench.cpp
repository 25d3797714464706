// One HTTP exchange, for bench/http_bench.sh, which runs it beside curl against the same loopback
// server.
//   http_bench get URL                POSTs one byte through the connection and reads the reply's body
//   http_bench post URL BYTES         POSTs an entity of BYTES bytes through the connection
//   http_bench floor-get URL          the same two exchanges without the HTTP client: a blocking socket
//   http_bench floor-post URL BYTES   that moves every byte in calls of at most 1024 bytes, the least
//                                     that any client keeping to that piece size pays
// Prints "time WALL CPU": seconds of wall-clock and of processor time (every thread, user and system)
// from the connection's creation to its destruction. Building the entity in memory is the caller's
// work and is left out. Exits 1 when the exchange failed.
#include "control/resources/module_resources.h"
#include "foundation/exception.h"
#include "foundation/message_table.h"
#include "net/http_connection.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr size_t kPiece = 1024; // the largest transfer of one socket call
constexpr size_t kReadBuffer = 64 * 1024;

struct Timing {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock(); // the process's processor time, all threads
    void Print() const {
        double wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        double cpuSeconds = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf("time %.4f %.4f\n", wallSeconds, cpuSeconds);
    }
};

int Exchange(const std::string& uri, size_t entity) {
    CHTTPRequest request(0);
    {
        std::vector<char> bytes(entity, 'b');
        request.Write(bytes.size(), bytes.data());
    }
    std::vector<char> buffer(kReadBuffer);
    int status = 0;
    unsigned long long body = 0;
    Timing timing;
    {
        CHTTPConnection connection(uri, false);
        std::shared_ptr<CHTTPResponse> response = connection.Submit(request, uri);
        status = response->GetStatus();
        while (size_t n = response->Read(buffer.size(), buffer.data()))
            body += n;
    }
    timing.Print();
    std::printf("status %d body %llu entity %llu\n", status, body,
                static_cast<unsigned long long>(request.GetEntityBytesWritten()));
    return status == 200 ? 0 : 1;
}

// The request line's target: what follows the authority, "/" when nothing does.
std::string TargetOf(const std::string& uri) {
    size_t scheme = uri.find("://");
    size_t slash = uri.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? "/" : uri.substr(slash);
}

// Sends all of `data` in calls of at most kPiece bytes; false when the socket failed.
bool SendAll(const CWinSockLibrary& wsa, platform::WinSocket s, const char* data, size_t size) {
    for (size_t sent = 0; sent < size;) {
        int n = wsa.send(s, data + sent, static_cast<int>(std::min(kPiece, size - sent)), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int Floor(const std::string& uri, size_t entity) {
    const CWinSockLibrary& wsa = CWinSockLibrary::Get();
    std::string head = "POST " + TargetOf(uri) +
                       " HTTP/1.1\r\nHost: bench\r\ncontent-length: " + std::to_string(entity) +
                       "\r\nConnection: close\r\n\r\n";
    std::vector<char> bytes(entity, 'b');
    std::vector<char> buffer(kPiece);
    unsigned long long received = 0;
    bool ok = false;
    Timing timing;
    {
        bool useProxy = false;
        platform::WinSockAddrIn target = ResolveConnectTarget(uri, useProxy);
        platform::WinSocket s = wsa.socket(platform::kAddressFamilyInet, platform::kSocketStream, 0);
        ok = s != platform::kInvalidSocket &&
             wsa.connect(s, reinterpret_cast<const platform::WinSockAddr*>(&target), sizeof target) == 0 &&
             SendAll(wsa, s, head.data(), head.size()) && SendAll(wsa, s, bytes.data(), bytes.size());
        while (ok) {
            int n = wsa.recv(s, buffer.data(), static_cast<int>(kPiece), 0);
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            received += static_cast<unsigned long long>(n);
        }
        if (s != platform::kInvalidSocket)
            wsa.closesocket(s);
    }
    timing.Print();
    std::printf("received %llu (headers and framing included) entity %zu\n", received, entity);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    bool post = mode == "post" || mode == "floor-post";
    bool floor = mode == "floor-get" || mode == "floor-post";
    if (argc < (post ? 4 : 3) || (!post && mode != "get" && mode != "floor-get")) {
        std::fprintf(stderr, "usage: http_bench get|floor-get URL | http_bench post|floor-post URL BYTES\n");
        return 2;
    }
    platform::SetResourceModule(&PxModuleResources());
    SetErrorMessageTable(LoadMessageTable(kErrorMessageTable));
    CWinSockUser winsock;
    std::string uri = argv[2];
    size_t entity = post ? std::strtoull(argv[3], nullptr, 10) : 1;
    try {
        return floor ? Floor(uri, entity) : Exchange(uri, entity);
    } catch (const CException& e) {
        std::fprintf(stderr, "http_bench: %s\n", e.GetText().c_str());
        return 1;
    }
}
