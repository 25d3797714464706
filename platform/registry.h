// The registry: a per-user store of keys and typed values under the Win32 roots, with the Win32
// calls' results (error numbers, buffer rules, enumeration ends). Names of keys and values compare
// without regard to case and keep the case they were created with.
//
// Every function may be called from any thread; one lock inside the store serialises them. The store
// is opened on first use and may be shared with other processes: each change is one transaction.
// A process should not fork while it has the store open (SQLite's locks belong to processes); a child
// that inherits an open store leaves that connection alone and opens one of its own.
//
// On Windows the store is the system's registry: the calls are the Win32 ones with their results, an
// opened key is the system's HKEY, and the Internet Settings are the real key. The layer still checks
// the arguments as described here, refuses handles it did not hand out (6), and checks the right to
// create subkeys itself. The system's enumeration order is the registry's own (values need not come
// in the order they were set).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// An open key. The roots below are always open and are never closed.
using RegistryHandle = uintptr_t;

constexpr RegistryHandle kHKeyClassesRoot = 0x80000000;
constexpr RegistryHandle kHKeyCurrentUser = 0x80000001;
constexpr RegistryHandle kHKeyLocalMachine = 0x80000002;
constexpr RegistryHandle kHKeyUsers = 0x80000003;
constexpr RegistryHandle kHKeyPerformanceData = 0x80000004;
constexpr RegistryHandle kHKeyCurrentConfig = 0x80000005;
constexpr RegistryHandle kHKeyDynData = 0x80000006;

// Value types, by their Win32 numbers. The store keeps these four.
enum RegistryType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
};

// Access rights of an open key, by their Win32 bits.
enum RegistryAccess : uint32_t {
    kKeyQueryValue = 0x0001,
    kKeySetValue = 0x0002,
    kKeyCreateSubKey = 0x0004,
    kKeyEnumerateSubKeys = 0x0008,
    kKeyNotify = 0x0010,
    kKeyReadControl = 0x20000,
    kKeyRead = kKeyReadControl | kKeyQueryValue | kKeyEnumerateSubKeys | kKeyNotify,
    kKeyWrite = kKeyReadControl | kKeySetValue | kKeyCreateSubKey,
};

// Limits of names, as Win32 has them.
constexpr size_t kMaxKeyNameLength = 255;     // one component of a key path
constexpr size_t kMaxValueNameLength = 16383; // a value name

// Each call returns a Win32 error number (platform/system_message.h): 0 on success, 2 when a key or
// value does not exist, 5 when the handle lacks the right or the key is read-only, 6 for a handle
// that is not open, 87 for a bad argument, 161 for a key path with an empty component, 234 when a
// buffer is too small, 259 when an enumeration has no more items, 1018 when the open key has been
// deleted, and 170/1009..1017/112/14 when the store itself fails.
//
// `subKey` is a path of components separated by "\" below `parent` (a trailing "\" is allowed);
// "" names `parent` itself.
uint32_t OpenRegistryKey(RegistryHandle parent, std::string_view subKey, uint32_t access,
                         RegistryHandle* result);
// Opens the key, creating the missing ones along the path; `created` (optional) tells whether the
// last one was new.
uint32_t CreateRegistryKey(RegistryHandle parent, std::string_view subKey, uint32_t access,
                           RegistryHandle* result, bool* created = nullptr);
uint32_t CloseRegistryKey(RegistryHandle key);

// As Win32 queries a value: with `data` null, `*size` receives the size of the data; otherwise
// `*size` gives the buffer's size and receives the data's, and a buffer too small gives 234 with
// nothing copied. `type` and `size` may be null when not wanted (`size` not when `data` is given).
uint32_t QueryRegistryValue(RegistryHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                            uint32_t* size);
// Stores the bytes as given (a text value carries its terminating NUL when the caller includes it).
// A REG_DWORD value takes exactly four bytes, little-endian.
uint32_t SetRegistryValue(RegistryHandle key, std::string_view name, uint32_t type, const uint8_t* data,
                          uint32_t size);
uint32_t DeleteRegistryValue(RegistryHandle key, std::string_view name);
// Deletes one key below `parent` with its values; a key that still has subkeys is not deleted (5).
uint32_t DeleteRegistryKey(RegistryHandle parent, std::string_view subKey);

// The name (and type) of the index-th value, in the order the values were first set; 259 past the end.
uint32_t EnumRegistryValue(RegistryHandle key, uint32_t index, std::string* name, uint32_t* type = nullptr);
// The name of the index-th subkey, in the order of their names without regard to case; 259 past the end.
uint32_t EnumRegistryKey(RegistryHandle key, uint32_t index, std::string* name);

// The store's file. By default "$XDG_CONFIG_HOME/pixolane/registry.db" (XDG_CONFIG_HOME unset, empty
// or relative means "~/.config"), read when the store is first opened. SetRegistryPath closes the
// store and every open key, and makes the next call open `path` ("" goes back to the default); it is
// meant for tests and tools that keep their own store.
// On Windows "" means the system's roots, and a path names an anchor file (made when missing, its
// folders too; an existing file must be one): every root then stands for a private key below
// HKEY_CURRENT_USER\Software\Pixolane\Test\<store>, <store> derived from the path's full form, and
// HKEY_PERFORMANCE_DATA and HKEY_DYN_DATA are not there (6). The private keys of an anchor that is
// gone are deleted when the next such store opens. GetRegistryPath gives the path as set.
void SetRegistryPath(std::string path);
std::string GetRegistryPath();

} // namespace platform
