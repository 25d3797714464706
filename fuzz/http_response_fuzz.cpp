// Feeds arbitrary bytes to the response reader in pieces whose sizes follow from the first byte, and
// reads the body as it comes, as the submitter would.
#include "foundation/exception.h"
#include "net/http_memory_input.h"
#include "net/http_response.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    CHTTPResponse response;
    CHTTPMemoryInput input;
    char body[4096];
    unsigned seed = data[0];
    try {
        for (size_t at = 1; !response.IsComplete();) {
            seed = seed * 1103515245u + 12345u;
            size_t piece = std::min<size_t>(size - at, (seed >> 16) % 300 + 1);
            if (at < size)
                input.Arrive({reinterpret_cast<const char*>(data) + at, piece});
            else
                input.Close();
            at += piece;
            while (input.IsReadable() && !response.ReadStep(input))
                while (response.Read(sizeof body, body, 0) > 0) {
                }
        }
    } catch (const CException&) {
    }
    return 0;
}
