// The host window: the Linux stand-in for the page that embeds the control. A top-level window whose
// client area is the page, in the page's colour, with the control inside at the size the page's
// <object> gives it; the control follows the window's size. The control's isUploadComplete is
// offered on the session bus, and SIGTERM or SIGINT close the window as its close button does, so
// that the control's tear-down runs and the program exits with 0.
#pragma once

#include "control/page_parameters.h"
#include "upload/plugin_parameters.h"

#include <cstdint>
#include <string>
#include <vector>

// The session-bus identity of a running host.
inline constexpr const char* kHostBusName = "example.pixolane.Uploader";
inline constexpr const char* kHostObjectPath = "/example/pixolane/Uploader";
inline constexpr const char* kHostInterface = "example.pixolane.IPixolaneUploadPlugin";

// Whether the window can be shown here: a display is there, and this build has the window at all.
bool CanRunHostWindow();

// Runs the window until it is closed: 0 then; 2 when there is no display. `paths` are added as if
// dropped on the list once the control is up; `rateLimit` caps the control's sending in bytes per
// second (0: no cap).
int RunHostWindow(const PluginParameters& parameters, const PageObjectSize& size,
                  const std::vector<std::string>& paths, uint64_t rateLimit = 0);
