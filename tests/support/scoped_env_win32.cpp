#include "tests/support/scoped_env.h"

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

} // namespace testsupport
