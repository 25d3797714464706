#include "platform/system_info.h"

#include <windows.h>

namespace platform {
namespace {

std::string LocaleText(LCTYPE type) {
    char text[LOCALE_NAME_MAX_LENGTH] = {};
    int length = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, static_cast<int>(sizeof text));
    // The length counts the terminating zero; 0 is a failure, which leaves the name empty.
    return length > 0 ? std::string(text, static_cast<size_t>(length) - 1) : std::string();
}

} // namespace

OsVersionRecord GetOsVersion() {
    OsVersionRecord record;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // Deprecated for its answers on newer systems (which report the last version the program
    // declares support for), never removed: what it answers is what the User-Agent names.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL known = ::GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (!known) {
        record.platform = OsPlatform::WindowsNT;
        return record;
    }
    record.platform = static_cast<OsPlatform>(info.dwPlatformId);
    record.major = info.dwMajorVersion;
    record.minor = info.dwMinorVersion;
    record.build = info.dwBuildNumber;
    record.servicePack = info.szCSDVersion;
    return record;
}

LocaleNames GetUserLocale() {
    LocaleNames names;
    names.isoLanguage = LocaleText(LOCALE_SISO639LANGNAME);
    names.abbreviatedLanguage = LocaleText(LOCALE_SABBREVLANGNAME);
    names.isoCountry = LocaleText(LOCALE_SISO3166CTRYNAME);
    names.abbreviatedCountry = LocaleText(LOCALE_SABBREVCTRYNAME);
    return names;
}

} // namespace platform
