#include "platform/journal_store.h"
#include "platform/sqlite_file.h"
#include "platform/user_folders.h"

#include <cstring>

namespace platform {

namespace {

constexpr int kBusyTimeoutMs = 15000; // how long a change waits for another process's transaction
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE picture (
    seq INTEGER PRIMARY KEY AUTOINCREMENT, -- the order of first recording
    server TEXT NOT NULL,
    session_id TEXT NOT NULL,
    uid TEXT NOT NULL,
    session_album_name TEXT NOT NULL,
    session_album_id TEXT NOT NULL,
    path TEXT NOT NULL,
    size INTEGER NOT NULL,
    modified INTEGER NOT NULL,
    album_name TEXT NOT NULL,
    album_id TEXT NOT NULL,
    image_id TEXT NOT NULL,
    upload_server TEXT NOT NULL,
    data_server TEXT NOT NULL,
    cookie TEXT NOT NULL,
    state INTEGER NOT NULL,
    owner INTEGER NOT NULL,
    UNIQUE (server, session_id, uid, session_album_name, session_album_id, path)
);
PRAGMA user_version = 1;
)sql";

constexpr const char* kIdentityMatch =
    "server = ?1 AND session_id = ?2 AND uid = ?3 AND session_album_name = ?4 AND session_album_id = ?5";

using sqlite::Statement;
using sqlite::Transaction;

void BindIdentity(Statement& statement, const JournalIdentity& identity) {
    statement.Bind(1, identity.server);
    statement.Bind(2, identity.sessionID);
    statement.Bind(3, identity.uid);
    statement.Bind(4, identity.albumName);
    statement.Bind(5, identity.albumID);
}

class SqliteJournalStore : public JournalStore {
public:
    explicit SqliteJournalStore(sqlite3* db) : m_db(db) {}
    ~SqliteJournalStore() override { sqlite3_close(m_db); }

    bool InitSchema();

    Claim Take(const JournalIdentity& identity, JournalRecord& record, int64_t owner) override;
    bool Update(const JournalIdentity& identity, const JournalRecord& record) override;
    bool Erase(const JournalIdentity& identity, const std::string& path) override;
    std::optional<std::vector<JournalRecord>> List(const JournalIdentity& identity) override;
    bool Release(int64_t owner) override;
    std::string GetLastError() const override { return m_error; }

private:
    // Records SQLite's text for the failure; always false.
    bool Fail(int rc) {
        const char* text = sqlite3_errstr(rc);
        const char* detail = sqlite3_errmsg(m_db);
        m_error = text != nullptr ? text : "SQLite error";
        if (detail != nullptr && std::strcmp(detail, m_error.c_str()) != 0)
            m_error += std::string(": ") + detail;
        return false;
    }
    Claim FailTake(int rc) {
        Fail(rc);
        return Claim::Failed;
    }
    bool Run(Statement& statement) {
        int rc = statement.Step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? true : Fail(rc);
    }

    sqlite3* m_db;
    std::string m_error;
};

bool SqliteJournalStore::InitSchema() {
    Transaction transaction(m_db);
    if (transaction.BeginResult() != SQLITE_OK)
        return Fail(transaction.BeginResult());
    Statement version(m_db, "PRAGMA user_version");
    if (!version.Ok())
        return Fail(version.PrepareResult());
    int rc = version.Step();
    if (rc != SQLITE_ROW)
        return Fail(rc);
    int64_t current = version.Int(0);
    if (current == kSchemaVersion)
        return true;
    if (current != 0) {
        m_error = "made by a later version of the program";
        return false;
    }
    if (int execRc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr))
        return Fail(execRc);
    rc = transaction.Commit();
    return rc == SQLITE_OK || Fail(rc);
}

JournalStore::Claim SqliteJournalStore::Take(const JournalIdentity& identity, JournalRecord& record,
                                             int64_t owner) {
    Transaction transaction(m_db);
    if (transaction.BeginResult() != SQLITE_OK)
        return FailTake(transaction.BeginResult());
    Statement find(m_db, (std::string("SELECT size, modified, image_id, upload_server, data_server, cookie, "
                                      "owner FROM picture WHERE ") +
                          kIdentityMatch + " AND path = ?6")
                             .c_str());
    if (!find.Ok())
        return FailTake(find.PrepareResult());
    BindIdentity(find, identity);
    find.Bind(6, record.path);
    int rc = find.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return FailTake(rc);
    Claim claim = Claim::New;
    if (rc == SQLITE_ROW) {
        int64_t holder = find.Int(6);
        if (holder != 0 && holder != owner && IsProcessRunning(holder)) {
            record.owner = holder;
            return Claim::HeldByOther;
        }
        if (static_cast<uint64_t>(find.Int(0)) == record.size && find.Int(1) == record.modified) {
            record.imageID = find.Text(2);
            record.uploadServer = find.Text(3);
            record.server = find.Text(4);
            record.cookie = find.Text(5);
            claim = Claim::Resumed;
        }
    }
    if (claim == Claim::New)
        record.imageID = record.uploadServer = record.server = record.cookie = "";
    record.state = 0;
    record.owner = owner;
    // An upsert keeps the row, and with it the order in which the picture was first recorded.
    Statement write(m_db, "INSERT INTO picture (server, session_id, uid, session_album_name, session_album_id, "
                          "path, size, modified, album_name, album_id, image_id, upload_server, data_server, "
                          "cookie, state, owner) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                          "?13, ?14, ?15, ?16) ON CONFLICT (server, session_id, uid, session_album_name, "
                          "session_album_id, path) DO UPDATE SET size = ?7, modified = ?8, album_name = ?9, "
                          "album_id = ?10, image_id = ?11, upload_server = ?12, data_server = ?13, "
                          "cookie = ?14, state = ?15, owner = ?16");
    if (!write.Ok())
        return FailTake(write.PrepareResult());
    BindIdentity(write, identity);
    write.Bind(6, record.path);
    write.Bind(7, static_cast<int64_t>(record.size));
    write.Bind(8, record.modified);
    write.Bind(9, record.albumName);
    write.Bind(10, record.albumID);
    write.Bind(11, record.imageID);
    write.Bind(12, record.uploadServer);
    write.Bind(13, record.server);
    write.Bind(14, record.cookie);
    write.Bind(15, static_cast<int64_t>(record.state));
    write.Bind(16, owner);
    if (!Run(write))
        return Claim::Failed;
    rc = transaction.Commit();
    if (rc != SQLITE_OK)
        return FailTake(rc);
    return claim;
}

bool SqliteJournalStore::Update(const JournalIdentity& identity, const JournalRecord& record) {
    Statement update(m_db, (std::string("UPDATE picture SET image_id = ?7, upload_server = ?8, data_server = ?9, "
                                        "cookie = ?10, state = ?11 WHERE ") +
                            kIdentityMatch + " AND path = ?6")
                               .c_str());
    if (!update.Ok())
        return Fail(update.PrepareResult());
    BindIdentity(update, identity);
    update.Bind(6, record.path);
    update.Bind(7, record.imageID);
    update.Bind(8, record.uploadServer);
    update.Bind(9, record.server);
    update.Bind(10, record.cookie);
    update.Bind(11, static_cast<int64_t>(record.state));
    return Run(update);
}

bool SqliteJournalStore::Erase(const JournalIdentity& identity, const std::string& path) {
    Statement erase(m_db, (std::string("DELETE FROM picture WHERE ") + kIdentityMatch + " AND path = ?6").c_str());
    if (!erase.Ok())
        return Fail(erase.PrepareResult());
    BindIdentity(erase, identity);
    erase.Bind(6, path);
    return Run(erase);
}

std::optional<std::vector<JournalRecord>> SqliteJournalStore::List(const JournalIdentity& identity) {
    Statement list(m_db, (std::string("SELECT path, size, modified, album_name, album_id, image_id, "
                                      "upload_server, data_server, cookie, state, owner FROM picture WHERE ") +
                          kIdentityMatch + " ORDER BY seq")
                             .c_str());
    if (!list.Ok()) {
        Fail(list.PrepareResult());
        return std::nullopt;
    }
    BindIdentity(list, identity);
    std::vector<JournalRecord> records;
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
        JournalRecord record;
        record.path = list.Text(0);
        record.size = static_cast<uint64_t>(list.Int(1));
        record.modified = list.Int(2);
        record.albumName = list.Text(3);
        record.albumID = list.Text(4);
        record.imageID = list.Text(5);
        record.uploadServer = list.Text(6);
        record.server = list.Text(7);
        record.cookie = list.Text(8);
        record.state = static_cast<int>(list.Int(9));
        record.owner = list.Int(10);
        records.push_back(std::move(record));
    }
    if (rc != SQLITE_DONE) {
        Fail(rc);
        return std::nullopt;
    }
    return records;
}

bool SqliteJournalStore::Release(int64_t owner) {
    Statement release(m_db, "UPDATE picture SET owner = 0 WHERE owner = ?1");
    if (!release.Ok())
        return Fail(release.PrepareResult());
    release.Bind(1, owner);
    return Run(release);
}

} // namespace

std::unique_ptr<JournalStore> JournalStore::Open(const std::string& path, std::string* error) {
    sqlite3* db = nullptr;
    sqlite::OpenResult opened = sqlite::OpenSharedFile(path, kBusyTimeoutMs, &db);
    if (!opened.Ok()) {
        if (error != nullptr)
            *error = opened.systemError != 0 ? std::strerror(opened.systemError) : sqlite3_errstr(opened.sqliteResult);
        return nullptr;
    }
    auto store = std::make_unique<SqliteJournalStore>(db);
    if (!store->InitSchema()) {
        if (error != nullptr)
            *error = store->GetLastError();
        return nullptr;
    }
    return store;
}

} // namespace platform
