#include "platform/frame_style.h"

#include <gtk/gtk.h>

namespace platform {

void SetFrameResizable(NativeWindow frame) {
    // A top-level's handle is its GtkWindow.
    if (frame != nullptr && GTK_IS_WINDOW(frame))
        gtk_window_set_resizable(GTK_WINDOW(frame), TRUE);
}

} // namespace platform
