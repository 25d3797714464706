// One HTTP exchange through the connection, for bench/http_bench.sh, which times it (wall and CPU)
// beside curl against the same loopback server.
//   http_bench get URL          POSTs one byte and reads the reply's body
//   http_bench post URL BYTES   POSTs an entity of BYTES bytes and reads the reply
// Prints the body bytes received and the entity bytes written; exits 1 when the exchange failed.
#include "control/resources/module_resources.h"
#include "foundation/exception.h"
#include "foundation/message_table.h"
#include "net/http_connection.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/win_sock_library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[1], "post") == 0 && argc < 4)) {
        std::fprintf(stderr, "usage: http_bench get URL | http_bench post URL BYTES\n");
        return 2;
    }
    platform::SetResourceModule(&PxModuleResources());
    SetErrorMessageTable(LoadMessageTable(kErrorMessageTable));
    CWinSockUser winsock;
    std::string uri = argv[2];
    size_t entity = std::strcmp(argv[1], "post") == 0 ? std::strtoull(argv[3], nullptr, 10) : 1;
    try {
        CHTTPRequest request(0);
        {
            std::vector<char> bytes(entity, 'b');
            request.Write(bytes.size(), bytes.data());
        }
        CHTTPConnection connection(uri, false);
        std::shared_ptr<CHTTPResponse> response = connection.Submit(request, uri);
        int status = response->GetStatus();
        std::vector<char> buffer(64 * 1024);
        unsigned long long body = 0;
        while (size_t n = response->Read(buffer.size(), buffer.data()))
            body += n;
        std::printf("status %d body %llu entity %llu\n", status, body,
                    static_cast<unsigned long long>(request.GetEntityBytesWritten()));
        return status == 200 ? 0 : 1;
    } catch (const CException& e) {
        std::fprintf(stderr, "http_bench: %s\n", e.GetText().c_str());
        return 1;
    }
}
