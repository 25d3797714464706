// The icon theme that file-type and folder icons come from, shared by the GTK layers that draw them.
//
// Threads: any; the theme is used under its own lock.
#pragma once

#include <cstdint>
#include <gio/gio.h>
#include <vector>

namespace platform {

// Draws `icon` (taken: it is released here) or, when the theme lacks it, the icon named `fallback`,
// centred in a square of `size` pixels as 0xAARRGGBB values. False when neither is in the theme.
bool DrawThemeIcon(GIcon* icon, const char* fallback, int size, std::vector<uint32_t>& pixels);

} // namespace platform
