#include "upload/user_agent.h"

#include "foundation/string_format.h"
#include "upload/plugin_parameters.h"

namespace {

constexpr const char* kUserAgentTemplate = "Pixolane Plugin/2.40 [%1] (%2; %3; %4) [Browser: %5]";

std::string IsoOrAbbreviated(const std::string& iso, const std::string& abbreviated) {
    return !iso.empty() ? iso : abbreviated.substr(0, 2);
}

const char* SystemName(const platform::OsVersionRecord& v) {
    using platform::OsPlatform;
    switch (v.platform) {
    case OsPlatform::Windows9x:
        return v.major > 4 || (v.major == 4 && v.minor != 0) ? " Windows98" : " Windows95";
    case OsPlatform::WindowsNT:
        if (v.major == 5 && v.minor == 0)
            return " Windows2000";
        if (v.major == 5 && v.minor == 1)
            return " WindowsXP";
        return " WindowsNT";
    default:
        return "";
    }
}

} // namespace

std::string FormatLocale(const platform::LocaleNames& locale) {
    return IsoOrAbbreviated(locale.isoLanguage, locale.abbreviatedLanguage) + "_" +
           IsoOrAbbreviated(locale.isoCountry, locale.abbreviatedCountry);
}

std::string FormatSystemText(const platform::OsVersionRecord& v) {
    uint32_t build = v.build;
    std::string text;
    if (v.platform == platform::OsPlatform::Linux) {
        text = "linux " + v.systemName;
    } else {
        text = std::string("win32") + SystemName(v);
        // Windows 95 keeps its version in the high word of the build number.
        if (v.platform == platform::OsPlatform::Windows9x && !(v.major > 4 || (v.major == 4 && v.minor != 0)))
            build &= 0xffff;
    }
    return text + FormatString(" %d.%d build %d \"%s\"", static_cast<int>(v.major), static_cast<int>(v.minor),
                               static_cast<int>(build), v.servicePack.c_str());
}

std::string BuildUserAgent(const platform::LocaleNames& locale, const PluginParameters& parameters,
                           const platform::OsVersionRecord& version) {
    return SubstituteArgs(kUserAgentTemplate,
                          {FormatLocale(locale), parameters.d_partnerID, parameters.d_partnerSubID,
                           FormatSystemText(version), parameters.d_browserVersion});
}

std::string BuildUserAgent(const PluginParameters& parameters) {
    return BuildUserAgent(platform::GetUserLocale(), parameters, platform::GetOsVersion());
}
