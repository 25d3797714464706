// The user's folders are the shell's: the roaming application data folder for settings, the local one
// for state that belongs to this machine.

#include "platform/user_folders.h"

#include <windows.h>
#include <shlobj.h>

namespace platform {

std::string GetUserFolder(UserFolder kind) {
    char path[MAX_PATH] = {};
    int folder = kind == UserFolder::Config ? CSIDL_APPDATA : CSIDL_LOCAL_APPDATA;
    if (FAILED(SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::string();
    std::string result = path;
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/'))
        result.pop_back();
    return result;
}

int64_t GetProcessId() {
    return static_cast<int64_t>(GetCurrentProcessId());
}

bool IsProcessRunning(int64_t id) {
    if (id <= 0 || id > static_cast<int64_t>(MAXDWORD))
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) {
        // A process we may not look at still runs; for an identifier nothing has, the system says
        // the parameter is wrong.
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    // A process that ended with the status STILL_ACTIVE's number is told apart by its handle, which
    // is signalled once it has ended.
    if (running)
        running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

} // namespace platform
