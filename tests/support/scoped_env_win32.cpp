#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"

#include <cstdlib>
#include <ctime>
#include <windows.h>

namespace testsupport {

// The process's environment is the truth (child processes get it); the C runtime's copy, which
// getenv reads, follows it except for empty values, which it cannot hold.
std::optional<std::string> GetEnv(const std::string& name) {
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size == 0)
        return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>("");
    std::string value(size, '\0');
    DWORD length = ::GetEnvironmentVariableA(name.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

void PutEnv(const std::string& name, const std::optional<std::string>& value) {
    ::_putenv_s(name.c_str(), value ? value->c_str() : ""); // "" removes it from the C runtime's copy
    ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

void ReloadTimeZone() {
    ::_tzset();
}

// ScopedTempFolder's one system call on Windows, kept with the environment's until that layer has a
// Windows file of its own: the standard library cannot set a folder's time there.
bool SetModificationTime(const std::string& path, int64_t secondsSince1970) {
    constexpr int64_t kSecondsFrom1601 = 11644473600; // FILETIME counts 100 ns from 1601
    HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr); // folders open only with the flag
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const uint64_t ticks = static_cast<uint64_t>(secondsSince1970 + kSecondsFrom1601) * 10000000u;
    FILETIME when{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const bool set = ::SetFileTime(file, nullptr, nullptr, &when) != 0;
    ::CloseHandle(file);
    return set;
}

} // namespace testsupport
