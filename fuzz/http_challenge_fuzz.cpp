// Splits arbitrary bytes as a challenge header and parses the parameters of what follows the scheme,
// and of the whole text, as a hostile server's challenge would be.
#include "net/http_authenticate.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string challenge(reinterpret_cast<const char*>(data), size);
    std::string scheme, parameters;
    if (CHTTPAuthenticate::SplitChallenge(challenge, scheme, parameters))
        CHTTPAuthenticate::ParseParameters(parameters);
    CHTTPAuthenticate::ParseParameters(challenge);
    return 0;
}
