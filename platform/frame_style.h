// What a dialog frame allows beyond its template: being resized by the user. The template's size
// stays the smallest the frame takes.
//
// Threads: the UI thread only.
#pragma once

#include "platform/native_handles.h"

namespace platform {

// `frame` is a dialog's or top-level window's handle; anything else is left alone.
void SetFrameResizable(NativeWindow frame);

} // namespace platform
