// Inside the drawing layer only: the Pango description behind a Font, for the cairo drawing context.
#pragma once

#include "platform/draw_context.h"

#include <pango/pango.h>

namespace platform {

const PangoFontDescription* PangoDescriptionOf(const Font& font);
// Gives a Pango context the resolution and font options of all drawing and measuring.
void ApplyFontOptions(PangoContext* context);

} // namespace platform
