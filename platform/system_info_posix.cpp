#include "platform/system_info.h"

#include <cstdlib>
#include <string_view>
#include <sys/utsname.h>

namespace platform {
namespace {

// Reads the leading decimal number of `text` from `pos`, stepping past one following separator.
uint32_t TakeNumber(std::string_view text, size_t& pos) {
    uint32_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
        ++pos;
    }
    if (pos < text.size() && text[pos] == '.')
        ++pos;
    return value;
}

const char* FirstSet(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return nullptr;
}

} // namespace

OsVersionRecord GetOsVersion() {
    OsVersionRecord record;
    struct utsname names;
    if (uname(&names) != 0)
        return record;
    record.systemName = names.sysname;
    record.servicePack = names.release;
    std::string_view release(names.release);
    size_t pos = 0;
    record.major = TakeNumber(release, pos);
    record.minor = TakeNumber(release, pos);
    record.build = TakeNumber(release, pos);
    return record;
}

LocaleNames GetUserLocale() {
    // POSIX precedence for messages: LC_ALL, then LC_MESSAGES, then LANG ("en_US.UTF-8@euro").
    std::string_view locale;
    if (const char* value = FirstSet({"LC_ALL", "LC_MESSAGES", "LANG"}))
        locale = value;
    locale = locale.substr(0, locale.find_first_of(".@"));

    LocaleNames names;
    size_t underscore = locale.find('_');
    names.isoLanguage = std::string(locale.substr(0, underscore));
    if (underscore != std::string_view::npos)
        names.isoCountry = std::string(locale.substr(underscore + 1));
    // The portable "C" locale is the POSIX one, whose texts are US English.
    if (names.isoLanguage.empty() || names.isoLanguage == "C" || names.isoLanguage == "POSIX") {
        names.isoLanguage = "en";
        names.isoCountry = "US";
    }
    return names;
}

} // namespace platform
