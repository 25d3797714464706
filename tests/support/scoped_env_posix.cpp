#include "tests/support/scoped_env.h"

#include <cstdlib>
#include <ctime>

namespace testsupport {

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

void PutEnv(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

void ReloadTimeZone() {
    ::tzset();
}

} // namespace testsupport
