// An ELF image has no resource section: the build compiles the module's resources in, and a module
// that says it is in the image finds nothing.

#include "platform/image_resources.h"

namespace platform {

std::optional<std::span<const uint8_t>> FindImageResource(ResourceType, uint32_t) {
    return std::nullopt;
}

std::optional<std::string> LoadImageString(uint32_t) {
    return std::nullopt;
}

} // namespace platform
