// The page reader on arbitrary text: any bytes must give some parameter list, never a crash.
#include "control/page_parameters.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadPageParameters(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
