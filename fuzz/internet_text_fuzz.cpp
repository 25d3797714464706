// Base64 decoding and HTTP date parsing on arbitrary bytes: either a result or the format's exception.
#include "net/base64.h"
#include "net/http_date.h"
#include "net/network_exception.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::string bytes = Base64Decode(text);
        if (Base64Encode(bytes).size() != text.size())
            __builtin_trap(); // a decoded text re-encodes to the same length
    } catch (const CInternetBadEncodingException&) {
    }
    try {
        FormatHTTPDate(ParseHTTPDate(text, 1780272000));
    } catch (const CInternetBadDateException&) {
    }
    return 0;
}
