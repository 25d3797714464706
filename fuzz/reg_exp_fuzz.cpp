// The regular-expression compiler and matcher on arbitrary input: the first byte gives the compile and
// match flags, the pattern runs up to the first NUL after it and the rest is the text (NUL bytes included).
#include "foundation/exception.h"
#include "foundation/reg_exp.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    size_t restSize = size - 1;
    const char* nul = static_cast<const char*>(memchr(rest, 0, restSize));
    size_t patternSize = nul ? static_cast<size_t>(nul - rest) : restSize;
    try {
        CRegExp re(rest, static_cast<int>(patternSize), data[0] & 6);
        const char* text = nul ? nul + 1 : rest + restSize;
        if (re.Match(text, static_cast<int>(rest + restSize - text), (data[0] >> 3) & 3))
            for (int i = 0; i < re.GetGroupCount(); ++i)
                if (re.GetGroupStart(i) + re.GetGroupLength(i) > static_cast<int>(rest + restSize - text))
                    __builtin_trap(); // a group beyond the text
    } catch (const CRegExpException&) {
    }
    return 0;
}
