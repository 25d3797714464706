#include "foundation/string_format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string SubstituteArgs(std::string_view tmpl, std::initializer_list<std::string_view> args) {
    struct Placeholder {
        size_t pos;
        size_t number;
    };
    std::vector<Placeholder> found;
    for (size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] != '%')
            continue;
        if (i + 1 == tmpl.size())
            break;
        char next = tmpl[i + 1];
        if (next >= '1' && next <= '9')
            found.push_back({i, static_cast<size_t>(next - '0')});
        ++i; // whatever follows a "%" is never the start of a placeholder
    }

    std::string result(tmpl);
    const std::string_view* argv = args.begin();
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        if (it->number > args.size())
            continue;
        result.replace(it->pos, 2, argv[it->number - 1]);
    }
    return result;
}

std::string FormatString(const char* format, ...) {
    char firstTry[200];
    va_list args;
    va_start(args, format);
    int needed = std::vsnprintf(firstTry, sizeof firstTry, format, args);
    va_end(args);
    if (needed < 0)
        return std::string(); // an encoding error: nothing sensible to show
    if (static_cast<size_t>(needed) < sizeof firstTry)
        return std::string(firstTry, static_cast<size_t>(needed));

    // vsnprintf told us the exact length; format once more into a buffer of that size.
    std::string result(static_cast<size_t>(needed), '\0');
    va_start(args, format);
    std::vsnprintf(result.data(), result.size() + 1, format, args);
    va_end(args);
    return result;
}
