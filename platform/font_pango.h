// Inside the drawing layer only: the Pango description behind a Font, for the cairo drawing context.
#pragma once

#include "platform/draw_context.h"

#include <pango/pango.h>
#include <string>
#include <string_view>

namespace platform {

const PangoFontDescription* PangoDescriptionOf(const Font& font);
// The text with every byte that is not part of valid UTF-8 replaced by "?", so that byte offsets in
// the text and in Pango's copy of it agree (Pango would substitute longer sequences).
std::string ValidUtf8(std::string_view text);
// Gives a Pango context the resolution and font options of all drawing and measuring.
void ApplyFontOptions(PangoContext* context);

} // namespace platform
