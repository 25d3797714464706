#include "platform/sqlite_file.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform::sqlite {

namespace {

int MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

// Two processes that open a new file at once both switch it to WAL; the switch can report "busy"
// without waiting in SQLite's busy handler, so it is tried again here within the same bound.
int SwitchToWal(sqlite3* db, int busyTimeoutMs) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs);;) {
        Statement wal(db, "PRAGMA journal_mode = WAL");
        int rc = wal.Ok() ? wal.Step() : wal.PrepareResult();
        if (rc == SQLITE_ROW)
            return SQLITE_OK;
        bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
        if (!busy || std::chrono::steady_clock::now() >= deadline)
            return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

OpenResult OpenSharedFile(const std::string& path, int busyTimeoutMs, sqlite3** result) {
    *result = nullptr;
    if (int error = MakeFolders(path))
        return {error, SQLITE_OK};
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return {errno, SQLITE_OK};
    close(fd);

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, busyTimeoutMs);
        rc = SwitchToWal(db, busyTimeoutMs);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return {0, rc};
    }
    *result = db;
    return {};
}

} // namespace platform::sqlite
