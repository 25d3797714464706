// A program run by a test as a child process: started from an argument list (never through a shell)
// with the test's environment and the changes it asks for, waited for with a time-out, stopped, and
// asked how it ended. A child still running when the object goes is stopped and waited for, so no
// test leaves a process behind.
//
// On Windows a program that ends in ".exe" (or is found as one) is started with CreateProcess; Stop()
// asks its windows to close, and ends it as Kill() does when it has none or stays. Any other program
// is a Linux one, which Wine cannot start and wait for: it goes to the host broker
// (tests/support/host_broker.py, at PX_HOST_BROKER, "127.0.0.1:PORT" or "PORT"), which starts it in
// a process group of its own on the Linux side and answers over one loopback connection per child;
// Windows paths in its arguments, environment values and output paths become Unix paths there.
// Without a broker such a program is not started.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    struct Options {
        // Changes to the test's own environment: a value sets the variable, nothing removes it.
        std::vector<std::pair<std::string, std::optional<std::string>>> environment;
        // When given, the child's standard output, and its standard error, go to these files, made
        // anew; the same path for both takes them together in the order written.
        std::string outputPath;
        std::string errorPath;
    };
    enum class State {
        NotStarted, // the program could not be started (not found, not executable)
        Running,
        Exited, // ended by itself; ExitCode() says with which status
        Killed, // ended by Stop() or Kill(), or by any other outside force
    };

    // argv[0] is the program: a path, or a bare name looked up in the search path.
    // When `inputPath` is given, the child reads its standard input from that file.
    explicit ChildProcess(std::vector<std::string> argv, Options options = {},
                          const std::string& inputPath = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_state != State::NotStarted; }
    // The state now, without waiting.
    State GetState();
    // Waits up to `seconds` (negative: for ever) for the child to end; true when it has.
    bool Wait(double seconds);
    // The status the child exited with; -1 unless it exited by itself.
    int ExitCode() const { return m_state == State::Exited ? m_exitCode : -1; }
    // Asks the child to end (it may tidy up first) and waits up to `seconds`; then kills it if it is
    // still there.
    void Stop(double seconds = 10);
    // Ends the child at once, without letting it tidy up, and waits for it.
    void Kill();
    // The system's id of the child's process; -1 when it did not start. A Linux program started
    // through the host broker has its Linux id, which means nothing to Windows.
    int64_t ProcessId() const { return m_processId; }

private:
    // Takes the child's end when it has come, waiting for it when `block`; whether it has.
    bool Reap(bool block);

    State m_state = State::NotStarted;
    int m_exitCode = -1;
    intptr_t m_process = -1; // the system's process id (Windows: its handle, or the broker connection)
    bool m_brokered = false; // Windows: the child runs on the Linux side, under the host broker
    bool m_ending = false;   // Windows: Stop() or Kill() ended it, so it did not exit by itself
    int64_t m_processId = -1;
};

// The path under which the programs a ChildProcess starts see `path`: itself on Linux; on Windows,
// for the Linux programs, the Unix path the host broker gives ("C:/x" -> "/root/.wine/drive_c/x"),
// for texts such as configuration files that name paths.
std::string HostPath(const std::string& path);

// The path of the program running now (the test itself), to run parts of a test as another process.
std::string ThisProgram();
// The arguments that run this test program again with only the test `name` ("Suite.Name"), disabled
// tests included: a part of a test that must run in a process of its own is such a test, named
// DISABLED_... so that it runs only when asked for.
std::vector<std::string> ThisProgramRunning(const std::string& name);

// The full path of a program in the search path (or in `extraFolders`, looked at afterwards); ""
// when none is there. On Windows a ".exe" in PATH or the Windows folders among `extraFolders` comes
// first; otherwise the host broker looks in the Linux search path and the Unix folders, and the
// answer is a Unix path ("/usr/bin/python3"), which ChildProcess hands back to the broker.
std::string FindProgram(const std::string& name, const std::vector<std::string>& extraFolders = {});

} // namespace testsupport
