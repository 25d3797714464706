// What the platform's SQLite files share: prepared statements and immediate transactions that clean
// up after themselves, and opening a file that every process of the user shares (made readable by
// the user alone, WAL journal, a busy timeout). Only the platform layer's own sources include this.
#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sqlite {

// One prepared statement, finalised when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_rc == SQLITE_OK; }
    int PrepareResult() const { return m_rc; }
    void Bind(int index, int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
    void Bind(int index, std::string_view text) {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void BindBlob(int index, const uint8_t* data, uint32_t size) {
        static const uint8_t kEmpty = 0; // a null pointer would store NULL rather than no bytes
        sqlite3_bind_blob(m_stmt, index, size != 0 ? data : &kEmpty, static_cast<int>(size),
                          SQLITE_TRANSIENT);
    }
    int Step() { return sqlite3_step(m_stmt); }
    void Reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    int64_t Int(int column) { return sqlite3_column_int64(m_stmt, column); }
    std::string Text(int column) {
        auto text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return text != nullptr ? std::string(text, sqlite3_column_bytes(m_stmt, column)) : std::string();
    }
    std::vector<uint8_t> Blob(int column) {
        auto data = static_cast<const uint8_t*>(sqlite3_column_blob(m_stmt, column));
        return data != nullptr ? std::vector<uint8_t>(data, data + sqlite3_column_bytes(m_stmt, column))
                               : std::vector<uint8_t>();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

// An immediate transaction: takes the write lock at once (waiting up to the busy timeout), so that a
// change never fails half-way for want of the lock; rolled back unless committed. Results are
// SQLite's codes.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_db(db) {
        m_rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    ~Transaction() {
        if (m_rc == SQLITE_OK && !m_done)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    int BeginResult() const { return m_rc; }
    int Commit() {
        int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            m_done = true;
        return rc;
    }

private:
    sqlite3* m_db;
    int m_rc;
    bool m_done = false;
};

// Why a shared file could not be opened: the system's error number while making its folders or the
// file, or else SQLite's result code.
struct OpenResult {
    int systemError = 0;
    int sqliteResult = SQLITE_OK;
    bool Ok() const { return systemError == 0 && sqliteResult == SQLITE_OK; }
};

// Opens `path`, making the folders that are missing (mode 0700) and the file (mode 0600) first, so
// that neither ever exists with wider rights; SQLite gives its journal files the rights of the file.
// Switches the file to WAL, so that readers go on while one process writes, with NORMAL
// synchronisation: every committed change survives a crash of the process. On success `*db` is the
// caller's to close.
OpenResult OpenSharedFile(const std::string& path, int busyTimeoutMs, sqlite3** db);

} // namespace platform::sqlite
