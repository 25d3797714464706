// `pxupload upload`: the control's upload without a window. The pictures (folders give their JPEG
// pictures) go into the same queue, session and sender threads as in the control; progress shows in
// the terminal and a summary at the end. Ctrl-C pauses (every transfer stopped cleanly) and exits.
// Unfinished pictures are journalled, so that running again goes on where the server stopped
// receiving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PluginParameters;

// Exit statuses besides 0 (every picture uploaded) and 2 (usage).
constexpr int kExitSomeFailed = 1;
constexpr int kExitInterrupted = 130;

struct UploadOptions {
    bool resume = false; // also the journal's unfinished pictures of the session
    int retries = 0;     // tries of a picture whose failure may pass
    uint64_t rateLimit = 0; // bytes per second over all connections, 0 for no cap
};

// Raises CUsageError when there is no server, or no path and nothing to resume.
int RunUpload(const PluginParameters& parameters, const std::vector<std::string>& paths,
              const UploadOptions& options = {});
