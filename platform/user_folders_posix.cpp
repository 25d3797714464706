#include "platform/user_folders.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace platform {

std::string GetUserFolder(UserFolder kind) {
    const char* variable = kind == UserFolder::Config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME";
    const char* value = getenv(variable);
    if (value != nullptr && value[0] == '/')
        return value;
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        struct passwd* entry = getpwuid(getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0')
        return std::string();
    return std::string(home) + (kind == UserFolder::Config ? "/.config" : "/.local/state");
}

int64_t GetProcessId() {
    return getpid();
}

bool IsProcessRunning(int64_t id) {
    if (id <= 0 || id != static_cast<pid_t>(id))
        return false;
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

} // namespace platform
