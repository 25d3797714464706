// The version-information block reader on arbitrary bytes.
#include "foundation/module_version.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodeFileVersion({data, size});
    return 0;
}
