// Opaque handles of the native window system, passed between the toolkit and the platform layer. The
// toolkit never looks inside them; only the platform's implementation files know what they are.
#pragma once

namespace platform {

// A native window or control (a GtkWidget* with the GTK layer, an HWND on Windows).
using NativeWindow = void*;
// A native drawing target: the context of one paint or of a memory surface (a cairo_t* with the
// GTK layer, an HDC on Windows).
using NativeDC = void*;

} // namespace platform
