// An open registry key, named by a root and a path of components separated by "\", with typed reads
// and writes of its values, removal of values and whole subtrees, and enumeration. Every failure is
// raised as a CRegistryException subclass carrying the registry's error number.
//
// A key is used by one thread at a time; different keys may be used from different threads.
#pragma once

#include "platform/registry.h"

#include <string>
#include <string_view>
#include <vector>

// Indexes into the root table.
enum RegistryRoot : int {
    kRootClassesRoot = 0,
    kRootCurrentConfig = 1,
    kRootCurrentUser = 2,
    kRootLocalMachine = 3,
    kRootUsers = 4,
    kRootPerformanceData = 5,
    kRootDynData = 6,
};

class CRegistryKey {
public:
    enum class Open {
        Existing, // every key along the path must exist; read and write rights
        Create,   // missing keys along the path are created; read and write rights
        ReadOnly, // every key along the path must exist; read rights only
    };

    // Opens `path` below the root. A path without a leading "\" gets one; "" or "\" is the root itself.
    CRegistryKey(int root, std::string_view path, Open open);
    // Opens `path` below an open key, with the rights that `open` gives.
    CRegistryKey(const CRegistryKey& parent, std::string_view path, Open open);
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    int GetRoot() const { return m_root; }
    const std::string& GetPath() const { return m_path; }
    bool IsCreating() const { return m_create; }
    bool IsReadOnly() const { return m_readOnly; }
    platform::RegistryHandle GetHandle() const { return m_handle; }

    // REG_SZ and REG_EXPAND_SZ give their text up to the first NUL, REG_DWORD its value in decimal.
    std::string ReadString(std::string_view name) const;
    // REG_DWORD gives its value; REG_SZ and REG_EXPAND_SZ the decimal number their text starts with.
    int ReadInteger(std::string_view name) const;
    void WriteString(std::string_view name, std::string_view text);
    void WriteInteger(std::string_view name, int value);
    // Whether a value of that name exists (of any type).
    bool HasValue(std::string_view name) const;

    // Removes the subkey `name` with everything below it, or else the value `name`.
    void Remove(std::string_view name);
    // Removes the value `name` only, even when a subkey has the same name.
    void RemoveValue(std::string_view name);

    // Names in the order the registry gives them.
    std::vector<std::string> GetValueNames() const;
    std::vector<std::string> GetSubkeyNames() const;

private:
    void OpenPath(platform::RegistryHandle from, std::string_view path);
    std::vector<uint8_t> Query(std::string_view name, uint32_t* type) const;
    void RemoveTree(platform::RegistryHandle parent, const std::string& name);

    int m_root;
    std::string m_path; // below the root, always beginning with "\"
    platform::RegistryHandle m_handle = 0;
    bool m_ownsHandle = false; // false when the key is the root, which is never closed
    bool m_create;
    bool m_readOnly;
};
