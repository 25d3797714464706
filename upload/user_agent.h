// The User-Agent text of every request: the product, the user's locale, the partner identifiers, the
// operating system and the browser version. A pure function of its inputs, so that the Windows texts
// can be checked with version records on any system.
#pragma once

#include "platform/system_info.h"

#include <string>

struct PluginParameters;

// language + "_" + country, each the ISO name or the first two characters of the abbreviated name.
std::string FormatLocale(const platform::LocaleNames& locale);

// "win32 WindowsXP 5.1 build 2600 "Service Pack 2"", or on Linux "linux Linux 6.1 build 0 "<release>"".
std::string FormatSystemText(const platform::OsVersionRecord& version);

std::string BuildUserAgent(const platform::LocaleNames& locale, const PluginParameters& parameters,
                           const platform::OsVersionRecord& version);

// The same for the running system.
std::string BuildUserAgent(const PluginParameters& parameters);
