#include "platform/open_url.h"

#include <sys/wait.h>
#include <unistd.h>

namespace platform {

bool OpenURL(const std::string& url) {
    // The address goes to the opener as one argument, never through a shell; one starting with "-"
    // would be taken for an option.
    if (url.empty() || url.front() == '-')
        return false;
    // A grandchild runs the opener, so the caller neither waits for the browser nor leaves a zombie.
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        pid_t opener = fork();
        if (opener == 0) {
            execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(opener < 0 ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace platform
