// The upload journal's file on Windows, where there is no SQLite: a text file of one record a line,
// rewritten whole for every change. The user's processes take turns through a named mutex of the file;
// a change is written to a file beside it and moved over the journal in one step, so a reader sees the
// old journal or the new one, and a process killed mid-change (its mutex then abandoned) leaves the old
// one whole.

#include "platform/journal_store.h"
#include "platform/user_folders.h"

#include <cerrno>
#include <cstdlib>
#include <windows.h>

namespace platform {
namespace {

constexpr const char kHeader[] = "Pixolane upload journal 1";
constexpr DWORD kLockTimeoutMs = 15000; // how long a change waits for another process's
constexpr size_t kMaxJournalFile = 64 * 1024 * 1024; // far beyond any queue; a larger file is not ours
constexpr size_t kFieldCount = 16;

struct Entry {
    JournalIdentity identity;
    JournalRecord record;
};

bool SameIdentity(const JournalIdentity& a, const JournalIdentity& b) {
    return a.server == b.server && a.sessionID == b.sessionID && a.uid == b.uid && a.albumName == b.albumName &&
           a.albumID == b.albumID;
}

std::string SystemText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result.empty() ? "system error " + std::to_string(error) : result;
}

// Fields are separated by tabs and records by line breaks, so those (and the escape itself) are escaped.
void AppendField(std::string& line, const std::string& field) {
    for (char c : field) {
        switch (c) {
        case '%': line += "%25"; break;
        case '\t': line += "%09"; break;
        case '\n': line += "%0A"; break;
        case '\r': line += "%0D"; break;
        default: line += c;
        }
    }
}

bool Unescape(std::string_view field, std::string* out) {
    out->clear();
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            *out += field[i];
            continue;
        }
        if (i + 2 >= field.size())
            return false;
        std::string hex(field.substr(i + 1, 2));
        char* end = nullptr;
        long value = std::strtol(hex.c_str(), &end, 16);
        if (hex.size() != 2 || end != hex.c_str() + 2)
            return false;
        *out += static_cast<char>(value);
        i += 2;
    }
    return true;
}

bool ParseInteger(const std::string& text, int64_t* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size())
        return false;
    *value = parsed;
    return true;
}

std::string Serialise(const std::vector<Entry>& entries) {
    std::string text = std::string(kHeader) + "\n";
    for (const Entry& entry : entries) {
        const JournalIdentity& id = entry.identity;
        const JournalRecord& r = entry.record;
        const std::string fields[kFieldCount] = {
            id.server, id.sessionID, id.uid, id.albumName, id.albumID, r.path,
            std::to_string(r.size), std::to_string(r.modified), r.albumName, r.albumID, r.imageID,
            r.uploadServer, r.server, r.cookie, std::to_string(r.state), std::to_string(r.owner),
        };
        for (size_t i = 0; i < kFieldCount; ++i) {
            if (i != 0)
                text += '\t';
            AppendField(text, fields[i]);
        }
        text += '\n';
    }
    return text;
}

// False when the text is not a journal.
bool Parse(const std::string& text, std::vector<Entry>* entries) {
    entries->clear();
    size_t headerEnd = text.find('\n');
    if (headerEnd == std::string::npos || text.compare(0, headerEnd, kHeader) != 0)
        return false;
    for (size_t start = headerEnd + 1; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            return false; // a journal always ends with its line break
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        std::string fields[kFieldCount];
        size_t count = 0;
        for (size_t from = 0;;) {
            size_t tab = line.find('\t', from);
            if (count == kFieldCount || !Unescape(line.substr(from, tab - from), &fields[count]))
                return false;
            ++count;
            if (tab == std::string_view::npos)
                break;
            from = tab + 1;
        }
        if (count != kFieldCount)
            return false;
        Entry entry;
        entry.identity = {fields[0], fields[1], fields[2], fields[3], fields[4]};
        JournalRecord& r = entry.record;
        r.path = fields[5];
        int64_t size = 0, state = 0;
        if (!ParseInteger(fields[6], &size) || !ParseInteger(fields[7], &r.modified) ||
            !ParseInteger(fields[14], &state) || !ParseInteger(fields[15], &r.owner))
            return false;
        r.size = static_cast<uint64_t>(size);
        r.state = static_cast<int>(state);
        r.albumName = fields[8];
        r.albumID = fields[9];
        r.imageID = fields[10];
        r.uploadServer = fields[11];
        r.server = fields[12];
        r.cookie = fields[13];
        entries->push_back(std::move(entry));
    }
    return true;
}

// The mutex's name: the file's full path, case-folded, hashed.
std::string MutexName(const std::string& fullPath) {
    std::string folded = fullPath;
    CharUpperBuffA(folded.data(), static_cast<DWORD>(folded.size()));
    uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (unsigned char c : folded) {
        hash ^= c == '/' ? '\\' : c;
        hash *= 1099511628211ULL;
    }
    char name[64];
    wsprintfA(name, "Local\\PixolaneJournal-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xffffffff));
    return name;
}

DWORD MakeFolders(const std::string& path) {
    size_t start = path.size() >= 2 && path[1] == ':' ? 3 : 0;
    for (size_t at = path.find_first_of("\\/", start); at != std::string::npos && at != 0;
         at = path.find_first_of("\\/", at + 1)) {
        if (!CreateDirectoryA(path.substr(0, at).c_str(), nullptr)) {
            DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
                return error;
        }
    }
    return ERROR_SUCCESS;
}

class Win32JournalStore : public JournalStore {
public:
    Win32JournalStore(std::string path, HANDLE mutex) : m_path(std::move(path)), m_mutex(mutex) {}
    ~Win32JournalStore() override { CloseHandle(m_mutex); }

    // Makes the file when it is missing and checks that it is a journal.
    bool Init();

    Claim Take(const JournalIdentity& identity, JournalRecord& record, int64_t owner) override;
    bool Update(const JournalIdentity& identity, const JournalRecord& record) override;
    bool Erase(const JournalIdentity& identity, const std::string& path) override;
    std::optional<std::vector<JournalRecord>> List(const JournalIdentity& identity) override;
    bool Release(int64_t owner) override;
    std::string GetLastError() const override { return m_error; }

private:
    // Runs `change` on the entries with the file's turn held; `change` returns whether to write them
    // back, and false from here means the change failed (m_error says why).
    template <typename Change>
    bool Change(Change&& change);
    bool Lock();
    void Unlock() { ReleaseMutex(m_mutex); }
    // Reads the entries; a missing file is an empty journal when `missingIsEmpty`.
    bool Read(std::vector<Entry>* entries, bool missingIsEmpty);
    bool Write(const std::vector<Entry>& entries);
    bool Fail(const std::string& text) {
        m_error = text;
        return false;
    }
    bool FailSystem(DWORD error) { return Fail(SystemText(error)); }

    std::string m_path;
    HANDLE m_mutex;
    std::string m_error;
};

bool Win32JournalStore::Lock() {
    switch (WaitForSingleObject(m_mutex, kLockTimeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its holder died; the file is whole all the same
        return true;
    case WAIT_TIMEOUT:
        return Fail("the journal is busy");
    default:
        return FailSystem(::GetLastError());
    }
}

bool Win32JournalStore::Read(std::vector<Entry>* entries, bool missingIsEmpty) {
    entries->clear();
    HANDLE file = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        return missingIsEmpty && error == ERROR_FILE_NOT_FOUND ? true : FailSystem(error);
    }
    LARGE_INTEGER size;
    std::string text;
    bool ok = GetFileSizeEx(file, &size) != 0;
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (ok && static_cast<uint64_t>(size.QuadPart) > kMaxJournalFile) {
        CloseHandle(file);
        return Fail("not a journal file");
    }
    if (ok) {
        text.resize(static_cast<size_t>(size.QuadPart));
        size_t done = 0;
        while (ok && done < text.size()) {
            DWORD read = 0;
            ok = ReadFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &read, nullptr) != 0;
            if (!ok)
                error = ::GetLastError();
            else if (read == 0)
                break;
            done += read;
        }
        text.resize(done);
    }
    CloseHandle(file);
    if (!ok)
        return FailSystem(error);
    if (text.empty() && missingIsEmpty)
        return true; // made by a process that died before it wrote the header
    if (!Parse(text, entries))
        return Fail("not a journal file");
    return true;
}

bool Win32JournalStore::Write(const std::vector<Entry>& entries) {
    std::string text = Serialise(entries);
    std::string next = m_path + ".new";
    HANDLE file = CreateFileA(next.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FailSystem(::GetLastError());
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    CloseHandle(file);
    if (ok) {
        // A scanner or indexer may hold the journal open for a moment.
        for (int attempt = 0;; ++attempt) {
            if (MoveFileExA(next.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            error = ::GetLastError();
            if (attempt == 50 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
                break;
            Sleep(10);
        }
    }
    DeleteFileA(next.c_str());
    return FailSystem(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
}

template <typename ChangeFunction>
bool Win32JournalStore::Change(ChangeFunction&& change) {
    if (!Lock())
        return false;
    std::vector<Entry> entries;
    // A journal deleted meanwhile is empty, and the change makes it again.
    bool ok = Read(&entries, true);
    if (ok && change(entries))
        ok = Write(entries);
    Unlock();
    return ok;
}

bool Win32JournalStore::Init() {
    if (!Lock())
        return false;
    std::vector<Entry> entries;
    bool ok = Read(&entries, true);
    // A new file (or an empty one) gets its header.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (ok && entries.empty() &&
        (!GetFileAttributesExA(m_path.c_str(), GetFileExInfoStandard, &data) ||
         (data.nFileSizeLow == 0 && data.nFileSizeHigh == 0)))
        ok = Write(entries);
    Unlock();
    return ok;
}

JournalStore::Claim Win32JournalStore::Take(const JournalIdentity& identity, JournalRecord& record, int64_t owner) {
    Claim claim = Claim::New;
    bool ok = Change([&](std::vector<Entry>& entries) {
        Entry* found = nullptr;
        for (Entry& entry : entries) {
            if (SameIdentity(entry.identity, identity) && entry.record.path == record.path)
                found = &entry;
        }
        if (found != nullptr) {
            int64_t holder = found->record.owner;
            if (holder != 0 && holder != owner && IsProcessRunning(holder)) {
                record.owner = holder;
                claim = Claim::HeldByOther;
                return false;
            }
            if (found->record.size == record.size && found->record.modified == record.modified) {
                record.imageID = found->record.imageID;
                record.uploadServer = found->record.uploadServer;
                record.server = found->record.server;
                record.cookie = found->record.cookie;
                claim = Claim::Resumed;
            }
        }
        if (claim == Claim::New)
            record.imageID = record.uploadServer = record.server = record.cookie = "";
        record.state = 0;
        record.owner = owner;
        // A record taken again keeps its place, the order in which the picture was first recorded.
        if (found != nullptr)
            found->record = record;
        else
            entries.push_back({identity, record});
        return true;
    });
    return ok ? claim : Claim::Failed;
}

bool Win32JournalStore::Update(const JournalIdentity& identity, const JournalRecord& record) {
    return Change([&](std::vector<Entry>& entries) {
        bool changed = false;
        for (Entry& entry : entries) {
            if (SameIdentity(entry.identity, identity) && entry.record.path == record.path) {
                entry.record.imageID = record.imageID;
                entry.record.uploadServer = record.uploadServer;
                entry.record.server = record.server;
                entry.record.cookie = record.cookie;
                entry.record.state = record.state;
                changed = true;
            }
        }
        return changed;
    });
}

bool Win32JournalStore::Erase(const JournalIdentity& identity, const std::string& path) {
    return Change([&](std::vector<Entry>& entries) {
        size_t before = entries.size();
        std::erase_if(entries, [&](const Entry& entry) {
            return SameIdentity(entry.identity, identity) && entry.record.path == path;
        });
        return entries.size() != before;
    });
}

std::optional<std::vector<JournalRecord>> Win32JournalStore::List(const JournalIdentity& identity) {
    std::vector<JournalRecord> records;
    bool ok = Change([&](std::vector<Entry>& entries) {
        for (const Entry& entry : entries) {
            if (SameIdentity(entry.identity, identity))
                records.push_back(entry.record);
        }
        return false;
    });
    if (!ok)
        return std::nullopt;
    return records;
}

bool Win32JournalStore::Release(int64_t owner) {
    return Change([&](std::vector<Entry>& entries) {
        bool changed = false;
        for (Entry& entry : entries) {
            if (entry.record.owner == owner) {
                entry.record.owner = 0;
                changed = true;
            }
        }
        return changed;
    });
}

} // namespace

std::unique_ptr<JournalStore> JournalStore::Open(const std::string& path, std::string* error) {
    auto report = [error](const std::string& text) {
        if (error != nullptr)
            *error = text;
        return nullptr;
    };
    char full[MAX_PATH * 4];
    DWORD length = path.empty() ? 0 : GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return report(SystemText(length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE));
    std::string fullPath(full, length);
    if (DWORD made = MakeFolders(fullPath))
        return report(SystemText(made));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName(fullPath).c_str());
    if (mutex == nullptr)
        return report(SystemText(::GetLastError()));
    auto store = std::make_unique<Win32JournalStore>(fullPath, mutex);
    if (!store->Init())
        return report(store->GetLastError());
    return store;
}

} // namespace platform
