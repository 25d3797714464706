// Reads hostile text as a command value; whatever is read must write and read back unchanged.
#include "foundation/command_value.h"
#include "foundation/exception.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        CCommandValue value = CCommandValue::FromText({reinterpret_cast<const char*>(data), size});
        if (!(CCommandValue::FromText(value.ToText()) == value))
            std::abort();
    } catch (const CCommandBadValueIOException&) {
    }
    return 0;
}
