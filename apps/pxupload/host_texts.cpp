#include "apps/pxupload/host_texts.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

std::string HostText(uint32_t id, std::initializer_list<std::string_view> args) {
    std::string text = platform::LoadStringResource(id).value_or("");
    return args.size() == 0 ? text : SubstituteArgs(text, args);
}

std::string CountedText(uint32_t singular, uint64_t count) {
    return HostText(count == 1 ? singular : singular + 1, {std::to_string(count)});
}
