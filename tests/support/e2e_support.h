// Small things the end-to-end tests share: picture bytes that differ from test to test, a wait for
// a condition with a deadline, the reference server's counters, and the program's own state moved
// aside while a test runs it.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"
#include "tests/support/scoped_env.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

namespace e2e {

// `size` bytes from a generator seeded with `seed`: a picture's content, the same in every run.
inline std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

inline double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Polls `condition` until it holds or `seconds` have passed; true when it held.
inline bool WaitFor(const std::function<bool()>& condition, double seconds = 10.0) {
    for (double deadline = Seconds() + seconds;;) {
        if (condition())
            return true;
        if (Seconds() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The server's /_state.
inline refserver::Json State(const RefServer& server) {
    return refserver::Json::Parse(refserver::ControlExchange(server.Port(), "GET", "/_state"));
}

// Requests the server has seen for one servlet.
inline int64_t Requests(const refserver::Json& state, const char* servlet) {
    const refserver::Json& count = state["requests"][servlet];
    return count.IsNull() ? 0 : count.AsInt();
}

// The state the program keeps for the user between runs, moved aside for one test and put back
// afterwards, so that the test starts from none and leaves the user's own as it was. On Linux the
// tests give the program XDG folders of their own instead, and this does nothing. Windows has no
// such variables: the program keeps its preferences below the key
// HKEY_CURRENT_USER\Software\Pixolane\UploadPlugin and its journal in the local application
// data folder's "pixolane". The user's are kept beside them (the folder renamed, the key exported
// by reg.exe) until the test ends; when a test died before putting them back, the kept copy is the
// user's and what is there now the dead test's, which goes.
class ProgramStateAside {
public:
    ProgramStateAside() {
#ifdef _WIN32
        std::error_code error;
        if (Base().empty())
            return;
        if (std::filesystem::exists(SavedFolder(), error))
            std::filesystem::remove_all(Folder(), error);
        else if (std::filesystem::exists(Folder(), error))
            std::filesystem::rename(Folder(), SavedFolder(), error);
        if (!std::filesystem::exists(SavedKey(), error))
            Reg({"export", kKey, SavedKey(), "/y"}); // fails when the user has no such key
        Reg({"delete", kKey, "/f"});
#endif
    }
    ~ProgramStateAside() {
#ifdef _WIN32
        std::error_code error;
        if (Base().empty())
            return;
        Reg({"delete", kKey, "/f"});
        if (std::filesystem::exists(SavedKey(), error) && Reg({"import", SavedKey()}))
            std::filesystem::remove(SavedKey(), error);
        std::filesystem::remove_all(Folder(), error);
        if (std::filesystem::exists(SavedFolder(), error))
            std::filesystem::rename(SavedFolder(), Folder(), error);
        std::filesystem::remove(Base() + "/pixolane-test-reg.log", error);
#endif
    }
    ProgramStateAside(const ProgramStateAside&) = delete;
    ProgramStateAside& operator=(const ProgramStateAside&) = delete;

private:
#ifdef _WIN32
    static constexpr const char* kKey = "HKCU\\Software\\Pixolane\\UploadPlugin";
    static std::string Base() { return testsupport::GetEnv("LOCALAPPDATA").value_or(""); }
    static std::string Folder() { return Base() + "/pixolane"; }
    static std::string SavedFolder() { return Base() + "/pixolane.kept-during-test"; }
    static std::string SavedKey() { return Base() + "/pixolane-preferences.kept-during-test.reg"; }
    // Whether reg.exe did what it was asked.
    static bool Reg(std::vector<std::string> words) {
        words.insert(words.begin(), "reg.exe");
        testsupport::ChildProcess::Options options;
        options.outputPath = options.errorPath = Base() + "/pixolane-test-reg.log";
        testsupport::ChildProcess reg(std::move(words), options);
        return reg.Wait(60) && reg.ExitCode() == 0;
    }
#endif
};

} // namespace e2e
