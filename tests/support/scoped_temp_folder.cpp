#include "tests/support/scoped_temp_folder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr int kNameAttempts = 100; // a clash with another test's folder is rare; a hundred in a row is not

std::string RandomPart() {
    static std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string part(8, 'x');
    for (char& c : part)
        c = kLetters[random() % (sizeof kLetters - 1)];
    return part;
}

} // namespace

ScopedTempFolder::ScopedTempFolder(std::string_view prefix) {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) {
        ADD_FAILURE() << "no temporary folder: " << error.message();
        return;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        fs::path candidate = base / (std::string(prefix) + "-" + RandomPart());
        // create_directory is false without an error when the name is taken: try another.
        if (!fs::create_directory(candidate, error)) {
            if (error) {
                ADD_FAILURE() << "cannot make " << candidate.string() << ": " << error.message();
                return;
            }
            continue;
        }
        // Only the user may look inside, as with any private temporary folder.
        fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
        // string(), not generic_string(): the system's own separators, as its calls give paths back.
        m_path = fs::canonical(candidate, error).make_preferred().string();
        if (error) {
            ADD_FAILURE() << "cannot resolve " << candidate.string() << ": " << error.message();
            m_path = candidate.make_preferred().string();
        }
        return;
    }
    ADD_FAILURE() << "no free folder name under " << base.string();
}

ScopedTempFolder::~ScopedTempFolder() {
    if (m_path.empty())
        return;
    std::error_code error;
    // Files a test made read-only, or folders it closed to the user, must not keep the folder alive.
    for (auto it =
             fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        if (it->is_symlink(error))
            continue;
        if (it->is_directory(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        else // Windows deletes no read-only file
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    error.clear();
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(m_path, error);
    if (error)
        ADD_FAILURE() << "could not remove " << m_path << ": " << error.message();
}

std::string ScopedTempFolder::operator/(const std::string& name) const {
#ifdef _WIN32
    std::string native = name;
    std::replace(native.begin(), native.end(), '/', '\\');
    return m_path + '\\' + native;
#else
    return m_path + '/' + name;
#endif
}

std::string ScopedTempFolder::Put(const std::string& name, std::string_view bytes) const {
    std::string path = *this / name;
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    if (!WriteWholeFile(path, bytes))
        ADD_FAILURE() << "cannot write " << path;
    return path;
}

std::string ScopedTempFolder::Read(const std::string& name) const {
    return ReadWholeFile(*this / name);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

#ifndef _WIN32 // Windows: scoped_env_win32.cpp, over SetFileTime, which also takes folders
bool SetModificationTime(const std::string& path, int64_t secondsSince1970) {
    using namespace std::chrono;
    const sys_seconds when{seconds{secondsSince1970}};
    std::error_code error;
    fs::last_write_time(path, file_clock::from_sys(when), error);
    return !error;
}
#endif

} // namespace testsupport
