// The registry over one SQLite file per user. Keys are rows with a parent, values rows of a key; the
// roots are fixed rows. The file is shared by every process of the user: WAL journal, a busy timeout
// and one immediate transaction per change let two writers proceed one after the other, and a process
// that dies mid-change leaves only an uncommitted transaction behind, which SQLite discards.
//
// When the store has no "Internet Settings" key of the current user, that key (and the keys above it
// that are missing) is presented read-only from the proxy variables of the environment
// (internet_settings_env.cpp).

#include "platform/internet_settings_env.h"
#include "platform/registry.h"
#include "platform/sqlite_file.h"
#include "platform/system_message.h"
#include "platform/user_folders.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr int kBusyTimeoutMs = 15000; // how long a change waits for another process's transaction
constexpr int kSchemaVersion = 1;
constexpr RegistryHandle kFirstHandle = 0x1000; // far below the roots' values
constexpr uint32_t kAllAccess = kKeyRead | kKeyWrite;

struct Root {
    RegistryHandle handle;
    int64_t id; // the root's fixed row
    const char* name;
};

constexpr Root kRoots[] = {
    {kHKeyClassesRoot, 1, "HKEY_CLASSES_ROOT"},     {kHKeyCurrentUser, 2, "HKEY_CURRENT_USER"},
    {kHKeyLocalMachine, 3, "HKEY_LOCAL_MACHINE"},   {kHKeyUsers, 4, "HKEY_USERS"},
    {kHKeyCurrentConfig, 5, "HKEY_CURRENT_CONFIG"},
};

constexpr const char* kSchema = R"sql(
CREATE TABLE registry_key (
    id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused, so a stale handle cannot reach a new key
    parent INTEGER NOT NULL,               -- 0 for the roots
    name TEXT NOT NULL,                    -- as created
    folded TEXT NOT NULL,                  -- upper-cased, for comparison
    UNIQUE (parent, folded)
);
CREATE TABLE registry_value (
    key INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE (key, folded)
);
INSERT INTO registry_key (id, parent, name, folded) VALUES
    (1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'),
    (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),
    (3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),
    (4, 0, 'HKEY_USERS', 'HKEY_USERS'),
    (5, 0, 'HKEY_CURRENT_CONFIG', 'HKEY_CURRENT_CONFIG');
PRAGMA user_version = 1;
)sql";

uint32_t ErrorFromSqlite(int rc) {
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return kErrorBusy;
    case SQLITE_NOMEM:
        return kErrorOutOfMemory;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return kErrorAccessDenied;
    case SQLITE_FULL:
        return kErrorDiskFull;
    case SQLITE_CORRUPT:
        return kErrorRegistryCorrupt;
    case SQLITE_NOTADB:
        return kErrorNotRegistryFile;
    case SQLITE_TOOBIG:
        return kErrorInvalidParameter;
    default:
        return kErrorRegistryIOFailed;
    }
}

uint32_t ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return kErrorAccessDenied;
    case ENOENT:
    case ENOTDIR:
        return kErrorPathNotFound;
    case ENOSPC:
        return kErrorDiskFull;
    default:
        return kErrorRegistryIOFailed;
    }
}

using sqlite::Statement;

// An immediate transaction whose results are the registry's error numbers.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_transaction(db) {}
    uint32_t BeginError() const { return ErrorFromSqlite(m_transaction.BeginResult()); }
    uint32_t Commit() { return ErrorFromSqlite(m_transaction.Commit()); }

private:
    sqlite::Transaction m_transaction;
};

// A key path as components; "" gives none. A single trailing "\" is allowed, an empty component is not.
uint32_t SplitKeyPath(std::string_view path, std::vector<std::string>* names) {
    if (path.size() > 1 && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty())
        return kErrorSuccess;
    while (true) {
        size_t separator = path.find('\\');
        std::string_view name = path.substr(0, separator);
        if (name.empty())
            return kErrorBadPathname;
        if (name.size() > kMaxKeyNameLength || name.find('\0') != std::string_view::npos)
            return kErrorInvalidParameter;
        names->emplace_back(name);
        if (separator == std::string_view::npos)
            return kErrorSuccess;
        path.remove_prefix(separator + 1);
    }
}

bool IsValidValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength && name.find('\0') == std::string_view::npos;
}

// What a handle stands for.
struct OpenKey {
    int64_t id = 0;                // the key's row; 0 for a key presented from the environment
    RegistryHandle root = 0;       // the root it lies below
    std::vector<std::string> path; // folded components below the root
    uint32_t access = 0;
};

std::string DefaultPath() {
    std::string base = GetUserFolder(UserFolder::Config);
    return base.empty() ? base : base + "/pixolane/registry.db";
}

// The process's connection to the store and its open keys. The public operations may be called from
// any thread: each takes m_lock for its whole run (opening the store first where it needs it), and
// every member below is guarded by it.
class Store {
public:
    Store() = default;
    ~Store() {
        if (m_db != nullptr && m_pid == getpid())
            sqlite3_close(m_db);
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    uint32_t OpenOrCreate(RegistryHandle parent, std::string_view subKey, uint32_t access, bool create,
                          RegistryHandle* result, bool* created) {
        return Locked([&] { return OpenOrCreateLocked(parent, subKey, access, create, result, created); });
    }
    uint32_t Query(RegistryHandle handle, std::string_view name, uint32_t* type, uint8_t* data,
                   uint32_t* size) {
        return Locked([&] { return QueryLocked(handle, name, type, data, size); });
    }
    uint32_t Set(RegistryHandle handle, std::string_view name, uint32_t type, const uint8_t* data,
                 uint32_t size) {
        return Locked([&] { return SetLocked(handle, name, type, data, size); });
    }
    uint32_t DeleteValue(RegistryHandle handle, std::string_view name) {
        return Locked([&] { return DeleteValueLocked(handle, name); });
    }
    uint32_t DeleteKey(RegistryHandle parent, std::string_view subKey) {
        return Locked([&] { return DeleteKeyLocked(parent, subKey); });
    }
    uint32_t EnumValue(RegistryHandle handle, uint32_t index, std::string* name, uint32_t* type) {
        return Locked([&] { return EnumValueLocked(handle, index, name, type); });
    }
    uint32_t EnumKey(RegistryHandle handle, uint32_t index, std::string* name) {
        return Locked([&] { return EnumKeyLocked(handle, index, name); });
    }
    // Closing needs no open store: a handle from before SetPath is simply unknown now.
    uint32_t CloseKey(RegistryHandle handle) {
        std::lock_guard lock(m_lock);
        return CloseKeyLocked(handle);
    }
    // Closes the store and every open key; the next operation opens `path` ("" for the default).
    void SetPath(std::string path) {
        std::lock_guard lock(m_lock);
        Close();
        m_explicitPath = std::move(path);
    }
    std::string GetPath() {
        std::lock_guard lock(m_lock);
        return m_explicitPath.empty() ? DefaultPath() : m_explicitPath;
    }

private:
    template <typename Operation>
    uint32_t Locked(Operation&& operation) {
        std::lock_guard lock(m_lock);
        if (uint32_t error = Open())
            return error;
        return operation();
    }

    uint32_t Open();
    void Close();
    uint32_t InitSchema(sqlite3* db);
    RegistryHandle Register(OpenKey key);
    uint32_t Resolve(RegistryHandle handle, OpenKey* key);
    uint32_t Lookup(int64_t parent, const std::string& folded, int64_t* id);
    uint32_t Walk(int64_t from, const std::vector<std::string>& names, size_t* found, int64_t* id);
    uint32_t KeyExists(int64_t id);
    uint32_t OpenOrCreateLocked(RegistryHandle parent, std::string_view subKey, uint32_t access, bool create,
                                RegistryHandle* result, bool* created);
    uint32_t QueryLocked(RegistryHandle handle, std::string_view name, uint32_t* type, uint8_t* data,
                         uint32_t* size);
    uint32_t SetLocked(RegistryHandle handle, std::string_view name, uint32_t type, const uint8_t* data,
                       uint32_t size);
    uint32_t DeleteValueLocked(RegistryHandle handle, std::string_view name);
    uint32_t DeleteKeyLocked(RegistryHandle parent, std::string_view subKey);
    uint32_t EnumValueLocked(RegistryHandle handle, uint32_t index, std::string* name, uint32_t* type);
    uint32_t EnumKeyLocked(RegistryHandle handle, uint32_t index, std::string* name);
    uint32_t CloseKeyLocked(RegistryHandle handle);

    std::mutex m_lock;
    std::string m_explicitPath; // from SetRegistryPath; "" for the default
    sqlite3* m_db = nullptr;
    pid_t m_pid = 0; // the process that opened m_db
    // Connections inherited from a parent process: SQLite's locks belong to the parent, so the child
    // neither uses nor closes them; they are kept so that they do not read as leaks.
    std::vector<sqlite3*> m_inherited;
    std::map<RegistryHandle, OpenKey> m_keys;
    RegistryHandle m_nextHandle = kFirstHandle;
};

Store& TheStore() {
    static Store store;
    return store;
}

uint32_t Store::Open() {
    if (m_db != nullptr && m_pid == getpid())
        return kErrorSuccess;
    if (m_db != nullptr) {
        m_inherited.push_back(m_db);
        m_db = nullptr;
    }

    std::string path = m_explicitPath.empty() ? DefaultPath() : m_explicitPath;
    if (path.empty())
        return kErrorPathNotFound;
    sqlite3* db = nullptr;
    sqlite::OpenResult opened = sqlite::OpenSharedFile(path, kBusyTimeoutMs, &db);
    if (opened.systemError != 0)
        return ErrorFromErrno(opened.systemError);
    if (opened.sqliteResult != SQLITE_OK)
        return ErrorFromSqlite(opened.sqliteResult);
    if (uint32_t error = InitSchema(db)) {
        sqlite3_close(db);
        return error;
    }
    m_db = db;
    m_pid = getpid();
    return kErrorSuccess;
}

uint32_t Store::InitSchema(sqlite3* db) {
    Transaction transaction(db);
    if (uint32_t error = transaction.BeginError())
        return error;
    Statement version(db, "PRAGMA user_version");
    if (!version.Ok())
        return ErrorFromSqlite(version.PrepareResult());
    int rc = version.Step();
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    int64_t current = version.Int(0);
    if (current == kSchemaVersion)
        return kErrorSuccess;
    if (current != 0)
        return kErrorNotRegistryFile; // made by a later version of this store
    if (int execRc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr))
        return ErrorFromSqlite(execRc);
    return transaction.Commit();
}

void Store::Close() {
    if (m_db != nullptr && m_pid == getpid())
        sqlite3_close(m_db);
    else if (m_db != nullptr)
        m_inherited.push_back(m_db);
    m_db = nullptr;
    m_keys.clear();
}

RegistryHandle Store::Register(OpenKey key) {
    if (m_nextHandle >= kHKeyClassesRoot && m_nextHandle <= kHKeyDynData)
        m_nextHandle = kHKeyDynData + 1; // never hand out a root's value
    RegistryHandle handle = m_nextHandle++;
    m_keys.emplace(handle, std::move(key));
    return handle;
}

uint32_t Store::KeyExists(int64_t id) {
    Statement find(m_db, "SELECT 1 FROM registry_key WHERE id = ?1");
    if (!find.Ok())
        return ErrorFromSqlite(find.PrepareResult());
    find.Bind(1, id);
    int rc = find.Step();
    if (rc == SQLITE_ROW)
        return kErrorSuccess;
    return rc == SQLITE_DONE ? kErrorKeyDeleted : ErrorFromSqlite(rc);
}

uint32_t Store::Resolve(RegistryHandle handle, OpenKey* key) {
    for (const Root& root : kRoots) {
        if (root.handle == handle) {
            *key = OpenKey{root.id, handle, {}, kAllAccess};
            return kErrorSuccess;
        }
    }
    auto it = m_keys.find(handle);
    if (it == m_keys.end())
        return kErrorInvalidHandle;
    *key = it->second;
    return key->id != 0 ? KeyExists(key->id) : kErrorSuccess;
}

uint32_t Store::Lookup(int64_t parent, const std::string& folded, int64_t* id) {
    Statement find(m_db, "SELECT id FROM registry_key WHERE parent = ?1 AND folded = ?2");
    if (!find.Ok())
        return ErrorFromSqlite(find.PrepareResult());
    find.Bind(1, parent);
    find.Bind(2, folded);
    int rc = find.Step();
    if (rc == SQLITE_ROW) {
        *id = find.Int(0);
        return kErrorSuccess;
    }
    return rc == SQLITE_DONE ? kErrorFileNotFound : ErrorFromSqlite(rc);
}

// Follows the folded names from key `from`: `*found` receives how many exist, `*id` the last found.
uint32_t Store::Walk(int64_t from, const std::vector<std::string>& names, size_t* found, int64_t* id) {
    *id = from;
    for (*found = 0; *found < names.size(); ++*found) {
        int64_t next = 0;
        uint32_t error = Lookup(*id, names[*found], &next);
        if (error == kErrorFileNotFound)
            return kErrorSuccess;
        if (error)
            return error;
        *id = next;
    }
    return kErrorSuccess;
}

int64_t RootId(RegistryHandle root) {
    for (const Root& entry : kRoots) {
        if (entry.handle == root)
            return entry.id;
    }
    return 0;
}

uint32_t Store::OpenOrCreateLocked(RegistryHandle parentHandle, std::string_view subKey, uint32_t access,
                                   bool create, RegistryHandle* result, bool* created) {
    if (result == nullptr)
        return kErrorInvalidParameter;
    *result = 0;
    std::vector<std::string> names;
    if (uint32_t error = SplitKeyPath(subKey, &names))
        return error;
    OpenKey parent;
    if (uint32_t error = Resolve(parentHandle, &parent))
        return error;

    OpenKey key{0, parent.root, parent.path, access};
    std::vector<std::string> folded;
    for (const std::string& name : names)
        folded.push_back(FoldRegistryName(name));
    key.path.insert(key.path.end(), folded.begin(), folded.end());

    // A key presented from the environment has no row: below it, keys are looked for (and made) from
    // the root, the keys above taking their usual spelling.
    int64_t from = parent.id;
    std::vector<std::string> walkNames = folded;
    std::vector<std::string> walkCase = names;
    if (parent.id == 0) {
        from = RootId(parent.root);
        walkNames = key.path;
        walkCase.assign(kInternetSettingsPath, kInternetSettingsPath + parent.path.size());
        walkCase.insert(walkCase.end(), names.begin(), names.end());
    }

    if (!create) {
        size_t found = 0;
        int64_t id = 0;
        if (uint32_t error = Walk(from, walkNames, &found, &id))
            return error;
        if (found == walkNames.size()) {
            key.id = id;
        } else if (!IsInternetSettingsPrefix(key.root, key.path)) {
            return kErrorFileNotFound;
        }
        *result = Register(std::move(key));
        return kErrorSuccess;
    }

    if ((parent.access & kKeyCreateSubKey) == 0)
        return kErrorAccessDenied;
    Transaction transaction(m_db);
    if (uint32_t error = transaction.BeginError())
        return error;
    // Another process may have deleted the parent since it was resolved.
    if (uint32_t error = KeyExists(from))
        return error;
    size_t found = 0;
    int64_t id = 0;
    if (uint32_t error = Walk(from, walkNames, &found, &id))
        return error;
    bool made = found < walkNames.size();
    for (; found < walkNames.size(); ++found) {
        Statement insert(m_db, "INSERT INTO registry_key (parent, name, folded) VALUES (?1, ?2, ?3)");
        if (!insert.Ok())
            return ErrorFromSqlite(insert.PrepareResult());
        insert.Bind(1, id);
        insert.Bind(2, walkCase[found]);
        insert.Bind(3, walkNames[found]);
        int rc = insert.Step();
        if (rc != SQLITE_DONE)
            return ErrorFromSqlite(rc);
        id = sqlite3_last_insert_rowid(m_db);
    }
    if (uint32_t error = transaction.Commit())
        return error;
    key.id = id;
    if (created != nullptr)
        *created = made;
    *result = Register(std::move(key));
    return kErrorSuccess;
}

uint32_t Store::CloseKeyLocked(RegistryHandle handle) {
    for (const Root& root : kRoots) {
        if (root.handle == handle)
            return kErrorSuccess;
    }
    return m_keys.erase(handle) != 0 ? kErrorSuccess : kErrorInvalidHandle;
}

uint32_t CopyOut(const std::vector<uint8_t>& bytes, uint32_t valueType, uint32_t* type, uint8_t* data,
                 uint32_t* size) {
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
    std::copy(bytes.begin(), bytes.end(), data);
    return kErrorSuccess;
}

uint32_t Store::QueryLocked(RegistryHandle handle, std::string_view name, uint32_t* type, uint8_t* data,
                            uint32_t* size) {
    if (data != nullptr && size == nullptr)
        return kErrorInvalidParameter;
    OpenKey key;
    if (uint32_t error = Resolve(handle, &key))
        return error;
    if ((key.access & kKeyQueryValue) == 0)
        return kErrorAccessDenied;
    std::string folded = FoldRegistryName(name);
    if (key.id == 0) {
        if (key.path.size() != kInternetSettingsDepth)
            return kErrorFileNotFound;
        for (const RegistryValueData& value : InternetSettingsFromEnvironment()) {
            if (FoldRegistryName(value.name) == folded)
                return CopyOut(value.data, value.type, type, data, size);
        }
        return kErrorFileNotFound;
    }
    Statement find(m_db, "SELECT type, data FROM registry_value WHERE key = ?1 AND folded = ?2");
    if (!find.Ok())
        return ErrorFromSqlite(find.PrepareResult());
    find.Bind(1, key.id);
    find.Bind(2, folded);
    int rc = find.Step();
    if (rc == SQLITE_DONE)
        return kErrorFileNotFound;
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    return CopyOut(find.Blob(1), static_cast<uint32_t>(find.Int(0)), type, data, size);
}

uint32_t Store::SetLocked(RegistryHandle handle, std::string_view name, uint32_t type, const uint8_t* data,
                          uint32_t size) {
    if (!IsValidValueName(name) || (data == nullptr && size != 0))
        return kErrorInvalidParameter;
    if (type != kRegSz && type != kRegExpandSz && type != kRegBinary && type != kRegDword)
        return kErrorInvalidParameter;
    if (type == kRegDword && size != 4)
        return kErrorInvalidParameter;
    OpenKey key;
    if (uint32_t error = Resolve(handle, &key))
        return error;
    if ((key.access & kKeySetValue) == 0 || key.id == 0)
        return kErrorAccessDenied;

    Transaction transaction(m_db);
    if (uint32_t error = transaction.BeginError())
        return error;
    if (uint32_t error = KeyExists(key.id))
        return error;
    // On a name that exists the value keeps its place in the enumeration and its spelling.
    Statement upsert(m_db,
                     "INSERT INTO registry_value (key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
                     "ON CONFLICT (key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!upsert.Ok())
        return ErrorFromSqlite(upsert.PrepareResult());
    upsert.Bind(1, key.id);
    upsert.Bind(2, name);
    upsert.Bind(3, FoldRegistryName(name));
    upsert.Bind(4, static_cast<int64_t>(type));
    upsert.BindBlob(5, data, size);
    int rc = upsert.Step();
    if (rc != SQLITE_DONE)
        return ErrorFromSqlite(rc);
    return transaction.Commit();
}

uint32_t Store::DeleteValueLocked(RegistryHandle handle, std::string_view name) {
    OpenKey key;
    if (uint32_t error = Resolve(handle, &key))
        return error;
    if ((key.access & kKeySetValue) == 0 || key.id == 0)
        return kErrorAccessDenied;
    Transaction transaction(m_db);
    if (uint32_t error = transaction.BeginError())
        return error;
    Statement erase(m_db, "DELETE FROM registry_value WHERE key = ?1 AND folded = ?2");
    if (!erase.Ok())
        return ErrorFromSqlite(erase.PrepareResult());
    erase.Bind(1, key.id);
    erase.Bind(2, FoldRegistryName(name));
    int rc = erase.Step();
    if (rc != SQLITE_DONE)
        return ErrorFromSqlite(rc);
    if (sqlite3_changes(m_db) == 0)
        return kErrorFileNotFound;
    return transaction.Commit();
}

uint32_t Store::DeleteKeyLocked(RegistryHandle parentHandle, std::string_view subKey) {
    std::vector<std::string> names;
    if (uint32_t error = SplitKeyPath(subKey, &names))
        return error;
    if (names.empty())
        return kErrorInvalidParameter;
    OpenKey parent;
    if (uint32_t error = Resolve(parentHandle, &parent))
        return error;
    std::vector<std::string> path = parent.path;
    std::vector<std::string> folded;
    for (const std::string& name : names)
        folded.push_back(FoldRegistryName(name));
    path.insert(path.end(), folded.begin(), folded.end());
    int64_t from = parent.id != 0 ? parent.id : RootId(parent.root);
    const std::vector<std::string>& walkNames = parent.id != 0 ? folded : path;

    Transaction transaction(m_db);
    if (uint32_t error = transaction.BeginError())
        return error;
    size_t found = 0;
    int64_t id = 0;
    if (uint32_t error = Walk(from, walkNames, &found, &id))
        return error;
    if (found < walkNames.size())
        return IsInternetSettingsPrefix(parent.root, path) ? kErrorAccessDenied : kErrorFileNotFound;

    Statement children(m_db, "SELECT 1 FROM registry_key WHERE parent = ?1 LIMIT 1");
    if (!children.Ok())
        return ErrorFromSqlite(children.PrepareResult());
    children.Bind(1, id);
    int rc = children.Step();
    if (rc == SQLITE_ROW)
        return kErrorAccessDenied;
    if (rc != SQLITE_DONE)
        return ErrorFromSqlite(rc);
    for (const char* sql :
         {"DELETE FROM registry_value WHERE key = ?1", "DELETE FROM registry_key WHERE id = ?1"}) {
        Statement erase(m_db, sql);
        if (!erase.Ok())
            return ErrorFromSqlite(erase.PrepareResult());
        erase.Bind(1, id);
        if (int stepRc = erase.Step(); stepRc != SQLITE_DONE)
            return ErrorFromSqlite(stepRc);
    }
    return transaction.Commit();
}

uint32_t Store::EnumValueLocked(RegistryHandle handle, uint32_t index, std::string* name, uint32_t* type) {
    if (name == nullptr)
        return kErrorInvalidParameter;
    OpenKey key;
    if (uint32_t error = Resolve(handle, &key))
        return error;
    if ((key.access & kKeyQueryValue) == 0)
        return kErrorAccessDenied;
    if (key.id == 0) {
        if (key.path.size() != kInternetSettingsDepth)
            return kErrorNoMoreItems;
        std::vector<RegistryValueData> values = InternetSettingsFromEnvironment();
        if (index >= values.size())
            return kErrorNoMoreItems;
        *name = values[index].name;
        if (type != nullptr)
            *type = values[index].type;
        return kErrorSuccess;
    }
    Statement find(m_db,
                   "SELECT name, type FROM registry_value WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
    if (!find.Ok())
        return ErrorFromSqlite(find.PrepareResult());
    find.Bind(1, key.id);
    find.Bind(2, static_cast<int64_t>(index));
    int rc = find.Step();
    if (rc == SQLITE_DONE)
        return kErrorNoMoreItems;
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    *name = find.Text(0);
    if (type != nullptr)
        *type = static_cast<uint32_t>(find.Int(1));
    return kErrorSuccess;
}

uint32_t Store::EnumKeyLocked(RegistryHandle handle, uint32_t index, std::string* name) {
    if (name == nullptr)
        return kErrorInvalidParameter;
    OpenKey key;
    if (uint32_t error = Resolve(handle, &key))
        return error;
    if ((key.access & kKeyEnumerateSubKeys) == 0)
        return kErrorAccessDenied;

    std::vector<std::pair<std::string, std::string>> children; // folded name, name
    if (key.id != 0) {
        Statement list(m_db, "SELECT folded, name FROM registry_key WHERE parent = ?1 ORDER BY folded");
        if (!list.Ok())
            return ErrorFromSqlite(list.PrepareResult());
        list.Bind(1, key.id);
        int rc;
        while ((rc = list.Step()) == SQLITE_ROW)
            children.emplace_back(list.Text(0), list.Text(1));
        if (rc != SQLITE_DONE)
            return ErrorFromSqlite(rc);
    }
    // The next key towards Internet Settings is listed while the store lacks it.
    if (key.path.size() < kInternetSettingsDepth && IsInternetSettingsPrefix(key.root, key.path)) {
        std::string next = kInternetSettingsPath[key.path.size()];
        std::string folded = FoldRegistryName(next);
        auto at = std::lower_bound(children.begin(), children.end(), std::make_pair(folded, std::string()));
        if (at == children.end() || at->first != folded)
            children.insert(at, {folded, next});
    }
    if (index >= children.size())
        return kErrorNoMoreItems;
    *name = children[index].second;
    return kErrorSuccess;
}

} // namespace

uint32_t OpenRegistryKey(RegistryHandle parent, std::string_view subKey, uint32_t access,
                         RegistryHandle* result) {
    return TheStore().OpenOrCreate(parent, subKey, access, false, result, nullptr);
}

uint32_t CreateRegistryKey(RegistryHandle parent, std::string_view subKey, uint32_t access,
                           RegistryHandle* result, bool* created) {
    if (created != nullptr)
        *created = false;
    return TheStore().OpenOrCreate(parent, subKey, access, true, result, created);
}

uint32_t CloseRegistryKey(RegistryHandle key) {
    return TheStore().CloseKey(key);
}

uint32_t QueryRegistryValue(RegistryHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                            uint32_t* size) {
    return TheStore().Query(key, name, type, data, size);
}

uint32_t SetRegistryValue(RegistryHandle key, std::string_view name, uint32_t type, const uint8_t* data,
                          uint32_t size) {
    return TheStore().Set(key, name, type, data, size);
}

uint32_t DeleteRegistryValue(RegistryHandle key, std::string_view name) {
    return TheStore().DeleteValue(key, name);
}

uint32_t DeleteRegistryKey(RegistryHandle parent, std::string_view subKey) {
    return TheStore().DeleteKey(parent, subKey);
}

uint32_t EnumRegistryValue(RegistryHandle key, uint32_t index, std::string* name, uint32_t* type) {
    return TheStore().EnumValue(key, index, name, type);
}

uint32_t EnumRegistryKey(RegistryHandle key, uint32_t index, std::string* name) {
    return TheStore().EnumKey(key, index, name);
}

void SetRegistryPath(std::string path) {
    TheStore().SetPath(std::move(path));
}

std::string GetRegistryPath() {
    return TheStore().GetPath();
}

} // namespace platform
