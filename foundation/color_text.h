// Colours written as text, as the host page gives them: "#" and a hexadecimal number, or one of the
// sixteen HTML 4.01 colour names in any case. Shared by the parameters and the window toolkit so that
// both read a colour the same way.
#pragma once

#include <cstdint>
#include <string_view>

// The colour as 24-bit RGB (0xRRGGBB); anything that cannot be read is black.
uint32_t ParseColorText(std::string_view text);
