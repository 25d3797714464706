// Facts about the running system that the program puts into its User-Agent: the operating system's
// version record (as Windows reports it, with a record kind of our own for Linux) and the user's
// locale names. On Windows the record is GetVersionExA's (which reports at most the last version the
// program declares support for) and the names GetLocaleInfoA's for the user's default locale.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Platform identifiers of the version record: the Win32 numbers, and one of ours for Linux.
enum class OsPlatform : uint32_t {
    Win32s = 0,
    Windows9x = 1,
    WindowsNT = 2,
    Linux = 0x100,
};

struct OsVersionRecord {
    OsPlatform platform = OsPlatform::Linux;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    std::string servicePack; // Windows: the service-pack text; Linux: the kernel release
    std::string systemName;  // Linux: the kernel's name ("Linux"); unused on Windows
};

// The default user locale: ISO 639 language and ISO 3166 country names, and the abbreviated names
// that stand in when an ISO name is empty.
struct LocaleNames {
    std::string isoLanguage;
    std::string abbreviatedLanguage;
    std::string isoCountry;
    std::string abbreviatedCountry;
};

OsVersionRecord GetOsVersion();
LocaleNames GetUserLocale();

} // namespace platform
