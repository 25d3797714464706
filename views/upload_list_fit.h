// Cutting a text to the width of its cell: a text that does not fit keeps as many characters as fit
// beside the ellipsis, and the ellipsis follows. The measure is passed in, so a font or a test can
// supply it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

using TextWidthMeasure = std::function<int(std::string_view text)>;

// `text` unchanged when it fits in `width`; else its longest prefix no wider than width minus the
// ellipsis's width, followed by the ellipsis (the ellipsis alone when nothing fits beside it). The cut
// falls between whole UTF-8 characters, never inside one.
std::string FitTextToWidth(std::string_view text, int width, std::string_view ellipsis, const TextWidthMeasure& measure);
