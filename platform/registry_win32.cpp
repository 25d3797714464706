// The registry is the system's own here: every call goes to the Win32 registry functions and returns
// their error numbers, and an opened key is the HKEY they give.
//
// The layer still checks what the interface promises beyond Win32 (the four value types, a REG_DWORD
// of four bytes, names without NULs, no partial copies into a buffer too small), and it hands out and
// accepts only handles it knows: a handle that is not open is refused with 6 instead of reaching the
// system, which would take any of the process's handles for it.
//
// A store path (SetRegistryPath) keeps tests and tools off the user's real keys: every root then
// stands for a key of its own below HKEY_CURRENT_USER\Software\Pixolane\Test\<store>, where <store>
// is derived from the path's full form. The path names an anchor file, made when it is missing: it
// marks the private keys as in use, and once it is gone (the test's folder removed) the next store
// that opens deletes those keys.

#include "platform/registry.h"
#include "platform/system_message.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <map>
#include <vector>
#include <windows.h>

namespace platform {
namespace {

constexpr const char* kTestStores = "Software\\Pixolane\\Test";
constexpr const char* kAnchorValue = "Anchor";
// The anchor file's first line; a file that starts otherwise is not a store's anchor.
constexpr char kAnchorText[] = "Pixolane registry store: the keys live in the registry\r\n";

struct Root {
    RegistryHandle handle;
    const char* name; // of its private key in a store of its own
};

constexpr Root kRoots[] = {
    {kHKeyClassesRoot, "HKEY_CLASSES_ROOT"},     {kHKeyCurrentUser, "HKEY_CURRENT_USER"},
    {kHKeyLocalMachine, "HKEY_LOCAL_MACHINE"},   {kHKeyUsers, "HKEY_USERS"},
    {kHKeyCurrentConfig, "HKEY_CURRENT_CONFIG"},
};
constexpr size_t kRootCount = sizeof kRoots / sizeof kRoots[0];

bool IsRoot(RegistryHandle handle) {
    return handle >= kHKeyClassesRoot && handle <= kHKeyDynData;
}

HKEY ToHkey(RegistryHandle handle) {
    return reinterpret_cast<HKEY>(handle);
}

RegistryHandle FromHkey(HKEY key) {
    return reinterpret_cast<RegistryHandle>(key);
}

// A key path checked as the interface has it (empty components 161, long or NUL-holding components 87)
// and given back without its trailing "\".
uint32_t CheckKeyPath(std::string_view path, std::string* checked) {
    if (path.size() > 1 && path.back() == '\\')
        path.remove_suffix(1);
    checked->assign(path);
    while (!path.empty()) {
        size_t separator = path.find('\\');
        std::string_view name = path.substr(0, separator);
        if (name.empty())
            return kErrorBadPathname;
        if (name.size() > kMaxKeyNameLength || name.find('\0') != std::string_view::npos)
            return kErrorInvalidParameter;
        if (separator == std::string_view::npos)
            break;
        path.remove_prefix(separator + 1);
        if (path.empty())
            return kErrorBadPathname;
    }
    return kErrorSuccess;
}

bool IsValidValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength && name.find('\0') == std::string_view::npos;
}

// The folders on the way to `path`, made where missing.
uint32_t MakeFolders(const std::string& path) {
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':')
        start = 3; // past "X:\"
    else if (path.rfind("\\\\", 0) == 0 || path.rfind("//", 0) == 0)
        start = path.find_first_of("\\/", path.find_first_of("\\/", 2) + 1); // past "\\server\share"
    for (size_t at = path.find_first_of("\\/", start); at != std::string::npos && at != 0;
         at = path.find_first_of("\\/", at + 1)) {
        std::string folder = path.substr(0, at);
        if (!CreateDirectoryA(folder.c_str(), nullptr)) {
            DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
                return error;
        }
    }
    return kErrorSuccess;
}

// The anchor of a store at `path`: made when missing, checked when it exists.
uint32_t MakeAnchor(const std::string& path) {
    if (uint32_t error = MakeFolders(path))
        return error;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    constexpr DWORD kLength = sizeof kAnchorText - 1;
    char head[kLength] = {};
    DWORD read = 0;
    uint32_t error = kErrorSuccess;
    if (!ReadFile(file, head, kLength, &read, nullptr)) {
        error = ::GetLastError();
    } else if (read == 0) {
        // New (or left empty by a process that died making it).
        DWORD written = 0;
        if (!WriteFile(file, kAnchorText, kLength, &written, nullptr))
            error = ::GetLastError();
    } else if (read != kLength || std::memcmp(head, kAnchorText, kLength) != 0) {
        error = kErrorNotRegistryFile;
    }
    CloseHandle(file);
    return error;
}

// The store's own key name: the anchor's full path, case-folded as the file system folds names,
// hashed, so that two spellings of one file give one store.
std::string StoreKeyName(const std::string& fullPath) {
    std::string folded = fullPath;
    CharUpperBuffA(folded.data(), static_cast<DWORD>(folded.size()));
    for (char& c : folded) {
        if (c == '/')
            c = '\\';
    }
    uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (unsigned char c : folded) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char name[32];
    wsprintfA(name, "store-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xffffffff));
    return name;
}

bool AnchorIsGone(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Deletes the private keys of stores whose anchors are gone. A key without an anchor value is being
// made by another process right now and is left alone.
void DeleteAbandonedStores(HKEY stores, const std::string& keep) {
    std::vector<std::string> abandoned;
    char name[kMaxKeyNameLength + 1];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(stores, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (keep == name)
            continue;
        char anchor[MAX_PATH * 4] = {};
        DWORD size = sizeof anchor - 1;
        DWORD type = REG_NONE;
        if (RegGetValueA(stores, name, kAnchorValue, RRF_RT_REG_SZ, &type, anchor, &size) == ERROR_SUCCESS &&
            AnchorIsGone(anchor))
            abandoned.emplace_back(name);
    }
    for (const std::string& store : abandoned)
        RegDeleteTreeA(stores, store.c_str());
}

// The process's view of the registry: the roots (the system's, or a store's private keys) and the keys
// it has handed out. The public operations may be called from any thread; each takes m_lock for its
// whole run, and every member below is guarded by it.
class Store {
public:
    Store() = default;
    ~Store() { Close(); }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    template <typename Operation>
    uint32_t Locked(Operation&& operation) {
        std::lock_guard lock(m_lock);
        return operation();
    }

    // The HKEY for a handle, opening the store's roots on first use.
    uint32_t Resolve(RegistryHandle handle, HKEY* key);
    RegistryHandle Register(HKEY key, uint32_t access) {
        m_open[FromHkey(key)] = access;
        return FromHkey(key);
    }
    // The rights a handle was opened with; every right for a root.
    uint32_t AccessOf(RegistryHandle handle) const {
        auto it = m_open.find(handle);
        return it != m_open.end() ? it->second : kKeyRead | kKeyWrite;
    }
    uint32_t CloseKey(RegistryHandle handle);
    void SetPath(std::string path) {
        std::lock_guard lock(m_lock);
        Close();
        m_path = std::move(path);
    }
    std::string GetPath() {
        std::lock_guard lock(m_lock);
        return m_path;
    }

private:
    uint32_t OpenPrivateRoots();
    void Close();

    std::mutex m_lock;
    std::string m_path;                // from SetRegistryPath; "" for the system's roots
    HKEY m_roots[kRootCount] = {};     // a store's private roots, once opened
    bool m_rootsOpen = false;
    std::map<RegistryHandle, uint32_t> m_open; // keys handed out and not closed, with their rights
};

Store& TheStore() {
    static Store store;
    return store;
}

uint32_t Store::OpenPrivateRoots() {
    char full[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(m_path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return length == 0 ? static_cast<uint32_t>(::GetLastError()) : static_cast<uint32_t>(kErrorInvalidParameter);
    std::string anchor(full, length);
    // The anchor comes first, so that no other process takes the keys for abandoned.
    if (uint32_t error = MakeAnchor(anchor))
        return error;

    HKEY stores = nullptr;
    if (LSTATUS error = RegCreateKeyExA(HKEY_CURRENT_USER, kTestStores, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &stores, nullptr))
        return static_cast<uint32_t>(error);
    std::string name = StoreKeyName(anchor);
    DeleteAbandonedStores(stores, name);
    HKEY store = nullptr;
    LSTATUS error = RegCreateKeyExA(stores, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                    nullptr, &store, nullptr);
    RegCloseKey(stores);
    if (error != ERROR_SUCCESS)
        return static_cast<uint32_t>(error);
    error = RegSetValueExA(store, kAnchorValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(anchor.c_str()),
                           static_cast<DWORD>(anchor.size() + 1));
    for (size_t i = 0; i < kRootCount && error == ERROR_SUCCESS; ++i)
        error = RegCreateKeyExA(store, kRoots[i].name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &m_roots[i], nullptr);
    RegCloseKey(store);
    if (error != ERROR_SUCCESS) {
        Close();
        return static_cast<uint32_t>(error);
    }
    m_rootsOpen = true;
    return kErrorSuccess;
}

void Store::Close() {
    for (const auto& [handle, access] : m_open)
        RegCloseKey(ToHkey(handle));
    m_open.clear();
    for (HKEY& root : m_roots) {
        if (root != nullptr)
            RegCloseKey(root);
        root = nullptr;
    }
    m_rootsOpen = false;
}

uint32_t Store::Resolve(RegistryHandle handle, HKEY* key) {
    if (!IsRoot(handle)) {
        if (m_open.count(handle) == 0)
            return kErrorInvalidHandle;
        *key = ToHkey(handle);
        return kErrorSuccess;
    }
    if (m_path.empty()) {
        *key = ToHkey(handle);
        return kErrorSuccess;
    }
    for (size_t i = 0; i < kRootCount; ++i) {
        if (kRoots[i].handle != handle)
            continue;
        if (!m_rootsOpen) {
            if (uint32_t error = OpenPrivateRoots())
                return error;
        }
        *key = m_roots[i];
        return kErrorSuccess;
    }
    return kErrorInvalidHandle; // a store of its own has no performance data and no dynamic data
}

uint32_t Store::CloseKey(RegistryHandle handle) {
    std::lock_guard lock(m_lock);
    if (IsRoot(handle))
        return kErrorSuccess;
    if (m_open.erase(handle) == 0)
        return kErrorInvalidHandle;
    return static_cast<uint32_t>(RegCloseKey(ToHkey(handle)));
}

// Runs `operation(key)` under the store's lock with the system's key for `handle`, or gives
// the error that finding it met.
template <typename Operation>
uint32_t WithKey(RegistryHandle handle, Operation&& operation) {
    Store& store = TheStore();
    return store.Locked([&]() -> uint32_t {
        HKEY key = nullptr;
        if (uint32_t error = store.Resolve(handle, &key))
            return error;
        return operation(key);
    });
}

uint32_t OpenOrCreate(RegistryHandle parent, std::string_view subKey, uint32_t access, bool create,
                      RegistryHandle* result, bool* created) {
    if (result == nullptr)
        return kErrorInvalidParameter;
    *result = 0;
    std::string path;
    if (uint32_t error = CheckKeyPath(subKey, &path))
        return error;
    Store& store = TheStore();
    return WithKey(parent, [&](HKEY parentKey) -> uint32_t {
        HKEY key = nullptr;
        LSTATUS error;
        if (create) {
            // Checked here as well: not every system checks the parent's right before it creates.
            if ((store.AccessOf(parent) & kKeyCreateSubKey) == 0)
                return kErrorAccessDenied;
            DWORD disposition = 0;
            error = RegCreateKeyExA(parentKey, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                    &key, &disposition);
            if (error == ERROR_SUCCESS && created != nullptr)
                *created = disposition == REG_CREATED_NEW_KEY;
        } else {
            error = RegOpenKeyExA(parentKey, path.c_str(), 0, access, &key);
        }
        if (error != ERROR_SUCCESS)
            return static_cast<uint32_t>(error);
        // "" may give the parent back; a root stays a root.
        *result = IsRoot(FromHkey(key)) ? FromHkey(key) : store.Register(key, access);
        return kErrorSuccess;
    });
}

} // namespace

uint32_t OpenRegistryKey(RegistryHandle parent, std::string_view subKey, uint32_t access,
                         RegistryHandle* result) {
    return OpenOrCreate(parent, subKey, access, false, result, nullptr);
}

uint32_t CreateRegistryKey(RegistryHandle parent, std::string_view subKey, uint32_t access,
                           RegistryHandle* result, bool* created) {
    if (created != nullptr)
        *created = false;
    return OpenOrCreate(parent, subKey, access, true, result, created);
}

uint32_t CloseRegistryKey(RegistryHandle key) {
    return TheStore().CloseKey(key);
}

uint32_t QueryRegistryValue(RegistryHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                            uint32_t* size) {
    if ((data != nullptr && size == nullptr) || !IsValidValueName(name))
        return kErrorInvalidParameter;
    std::string valueName(name);
    return WithKey(key, [&](HKEY hkey) -> uint32_t {
        // Read whole into a buffer of our own, so that a buffer too small receives nothing and the size
        // is the data's own (the ANSI call may overstate it when only asked for the size).
        std::vector<uint8_t> bytes(256);
        DWORD valueType = REG_NONE;
        for (;;) {
            DWORD length = static_cast<DWORD>(bytes.size());
            LSTATUS error = RegQueryValueExA(hkey, valueName.c_str(), nullptr, &valueType, bytes.data(), &length);
            if (error == ERROR_SUCCESS) {
                bytes.resize(length);
                break;
            }
            if (error != ERROR_MORE_DATA)
                return static_cast<uint32_t>(error);
            bytes.resize(std::max<size_t>(length, bytes.size() * 2));
        }
        if (type != nullptr)
            *type = valueType;
        uint32_t needed = static_cast<uint32_t>(bytes.size());
        if (data == nullptr) {
            if (size != nullptr)
                *size = needed;
            return kErrorSuccess;
        }
        uint32_t room = *size;
        *size = needed;
        if (room < needed)
            return kErrorMoreData;
        std::memcpy(data, bytes.data(), needed);
        return kErrorSuccess;
    });
}

uint32_t SetRegistryValue(RegistryHandle key, std::string_view name, uint32_t type, const uint8_t* data,
                          uint32_t size) {
    if (!IsValidValueName(name) || (data == nullptr && size != 0))
        return kErrorInvalidParameter;
    if (type != kRegSz && type != kRegExpandSz && type != kRegBinary && type != kRegDword)
        return kErrorInvalidParameter;
    if (type == kRegDword && size != 4)
        return kErrorInvalidParameter;
    std::string valueName(name);
    return WithKey(key, [&](HKEY hkey) -> uint32_t {
        static const BYTE kNone = 0; // no bytes at all still need a buffer for some callers' systems
        return static_cast<uint32_t>(
            RegSetValueExA(hkey, valueName.c_str(), 0, type, size != 0 ? data : &kNone, size));
    });
}

uint32_t DeleteRegistryValue(RegistryHandle key, std::string_view name) {
    if (!IsValidValueName(name))
        return kErrorInvalidParameter;
    std::string valueName(name);
    return WithKey(key, [&](HKEY hkey) -> uint32_t {
        return static_cast<uint32_t>(RegDeleteValueA(hkey, valueName.c_str()));
    });
}

uint32_t DeleteRegistryKey(RegistryHandle parent, std::string_view subKey) {
    std::string path;
    if (uint32_t error = CheckKeyPath(subKey, &path))
        return error;
    // The system would delete `parent` itself for "".
    if (path.empty())
        return kErrorInvalidParameter;
    return WithKey(parent, [&](HKEY hkey) -> uint32_t {
        return static_cast<uint32_t>(RegDeleteKeyA(hkey, path.c_str()));
    });
}

uint32_t EnumRegistryValue(RegistryHandle key, uint32_t index, std::string* name, uint32_t* type) {
    if (name == nullptr)
        return kErrorInvalidParameter;
    return WithKey(key, [&](HKEY hkey) -> uint32_t {
        std::vector<char> buffer(kMaxValueNameLength + 1);
        DWORD length = static_cast<DWORD>(buffer.size());
        DWORD valueType = REG_NONE;
        LSTATUS error = RegEnumValueA(hkey, index, buffer.data(), &length, nullptr, &valueType, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return static_cast<uint32_t>(error);
        name->assign(buffer.data(), length);
        if (type != nullptr)
            *type = valueType;
        return kErrorSuccess;
    });
}

uint32_t EnumRegistryKey(RegistryHandle key, uint32_t index, std::string* name) {
    if (name == nullptr)
        return kErrorInvalidParameter;
    return WithKey(key, [&](HKEY hkey) -> uint32_t {
        char buffer[kMaxKeyNameLength + 1];
        DWORD length = sizeof buffer;
        LSTATUS error = RegEnumKeyExA(hkey, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return static_cast<uint32_t>(error);
        name->assign(buffer, length);
        return kErrorSuccess;
    });
}

void SetRegistryPath(std::string path) {
    TheStore().SetPath(std::move(path));
}

std::string GetRegistryPath() {
    return TheStore().GetPath();
}

} // namespace platform
