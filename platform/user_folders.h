// Where the program keeps the user's files: settings (the registry store) under the configuration
// folder, and what it must remember across runs but the user never edits (the upload journal) under
// the state folder.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class UserFolder {
    Config, // $XDG_CONFIG_HOME, else ~/.config; on Windows the roaming application data folder
    State,  // $XDG_STATE_HOME, else ~/.local/state; on Windows the local application data folder
};

// The folder, without a trailing "/"; a variable that is not an absolute path is ignored. Empty when
// the user has no home folder (on Windows: when the shell does not give the folder).
std::string GetUserFolder(UserFolder kind);

// The program's own identifiers, for telling one running copy from another.
int64_t GetProcessId();
// Whether a process with that identifier runs now (a process of another user counts).
bool IsProcessRunning(int64_t id);

} // namespace platform
