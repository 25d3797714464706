// The resources of the program's own image: a Windows module's resource section, found through the
// system's resource calls. Linux images have none; their builds compile the resources in.
#pragma once

#include "platform/resources.h"

namespace platform {

// A resource of the image that holds this code, or nothing.
std::optional<std::span<const uint8_t>> FindImageResource(ResourceType type, uint32_t id);

// A text of that image's string table, or nothing; an empty string counts as a missing one, as the
// table's format cannot tell them apart.
std::optional<std::string> LoadImageString(uint32_t id);

} // namespace platform
