// The message-table loader on arbitrary resource bytes, then catalogue look-ups on what it accepted.
#include "foundation/message_table.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto table = ParseMessageTableResource(data, size);
    if (table) {
        std::string key = "EUNKNOWN", value = "1";
        table->Lookup(key);
        table->LookupValue(key, value);
    }
    CMessageTable entries;
    ParseMessageEntry(entries, std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
