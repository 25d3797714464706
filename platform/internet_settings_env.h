// Private to the registry store: the current user's Internet Settings key as the environment's proxy
// variables present it while the store itself lacks that key, and the name folding both sides share.
#pragma once

#include "platform/registry.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Names compare as Win32 compares them: upper-cased (ASCII letters; other bytes as they are).
inline std::string FoldRegistryName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

// One value of a key: its name as spelt, its Win32 type and its bytes.
struct RegistryValueData {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// The key of the current user that is presented from the environment while the store lacks it.
constexpr const char* kInternetSettingsPath[] = {"Software", "Microsoft", "Windows", "CurrentVersion",
                                                 "Internet Settings"};
constexpr size_t kInternetSettingsDepth = std::size(kInternetSettingsPath);

// The values of the Internet Settings key as the environment gives them now ("ProxyEnable", and
// "ProxyServer" and "ProxyOverride" when the variables name any), read at each call.
std::vector<RegistryValueData> InternetSettingsFromEnvironment();

// Whether the folded path below `root` is the Internet Settings key or one of the keys above it.
bool IsInternetSettingsPrefix(RegistryHandle root, const std::vector<std::string>& foldedPath);

} // namespace platform
