// The page reader on arbitrary text: any bytes must give some parameter list and object size, never
// a crash.
#include "control/page_parameters.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    ReadPageParameters(html);
    ReadPageObjectSize(html);
    return 0;
}
