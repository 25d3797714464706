#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10); // between looks at a child with a time-out

// The test's environment with `changes` applied, as NAME=VALUE texts.
std::vector<std::string>
ChildEnvironment(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool changed = false;
        for (const auto& change : changes)
            changed = changed || change.first == name;
        if (!changed)
            entries.push_back(std::move(text));
    }
    for (const auto& [name, value] : changes) {
        if (!value)
            continue;
        // A later change of the same name wins.
        std::erase_if(entries,
                      [&](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; });
        entries.push_back(name + "=" + *value);
    }
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool IsExecutable(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, Options options, const std::string& inputPath) {
    if (argv.empty())
        return;
    std::vector<std::string> environment = ChildEnvironment(options.environment);
    std::vector<char*> argPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    constexpr int kMade = O_WRONLY | O_CREAT | O_TRUNC;
    if (!inputPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.c_str(), O_RDONLY, 0);
    if (!options.outputPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputPath.c_str(), kMade, 0644);
    if (!options.errorPath.empty() && options.errorPath == options.outputPath)
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    else if (!options.errorPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorPath.c_str(), kMade, 0644);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, argPointers[0], &actions, nullptr, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return;
    m_process = pid;
    m_processId = pid;
    m_state = State::Running;
}

ChildProcess::~ChildProcess() {
    if (m_state == State::Running)
        Stop();
}

bool ChildProcess::Reap(bool block) {
    if (m_state != State::Running)
        return true;
    int status = 0;
    pid_t result;
    do
        result = ::waitpid(static_cast<pid_t>(m_process), &status, block ? 0 : WNOHANG);
    while (result < 0 && errno == EINTR);
    if (result == 0)
        return false;
    if (result < 0) {
        // Someone else took the child's end; what it was is lost.
        m_state = State::Killed;
        return true;
    }
    if (WIFEXITED(status)) {
        m_state = State::Exited;
        m_exitCode = WEXITSTATUS(status);
    } else {
        m_state = State::Killed;
    }
    return true;
}

ChildProcess::State ChildProcess::GetState() {
    Reap(false);
    return m_state;
}

bool ChildProcess::Wait(double seconds) {
    if (seconds < 0)
        return Reap(true);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

void ChildProcess::Stop(double seconds) {
    if (m_state != State::Running)
        return;
    ::kill(static_cast<pid_t>(m_process), SIGTERM); // only the process this object started
    if (!Wait(seconds))
        Kill();
}

void ChildProcess::Kill() {
    if (m_state != State::Running)
        return;
    ::kill(static_cast<pid_t>(m_process), SIGKILL); // only the process this object started
    Reap(true);
}

std::string HostPath(const std::string& path) {
    return path;
}

std::string ThisProgram() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

std::vector<std::string> ThisProgramRunning(const std::string& name) {
    return {ThisProgram(), "--gtest_filter=" + name, "--gtest_also_run_disabled_tests"};
}

std::string FindProgram(const std::string& name, const std::vector<std::string>& extraFolders) {
    if (name.find('/') != std::string::npos)
        return IsExecutable(name) ? name : "";
    std::vector<std::string> folders;
    std::string path = GetEnv("PATH").value_or("/usr/bin:/bin");
    for (size_t start = 0;;) {
        size_t end = path.find(':', start);
        folders.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    folders.insert(folders.end(), extraFolders.begin(), extraFolders.end());
    for (const std::string& folder : folders) {
        std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
        if (IsExecutable(candidate))
            return candidate.string();
    }
    return "";
}

} // namespace testsupport
