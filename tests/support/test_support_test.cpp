#include "tests/support/child_process.h"
#include "tests/support/loopback.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const char* const kVariable = "PX_TEST_SUPPORT_VARIABLE";

TEST(ScopedTempFolder, IsPrivateFreshAndGoesWithEverythingInIt) {
    std::string path;
    {
        ScopedTempFolder folder("pxsupport");
        ScopedTempFolder other("pxsupport");
        path = folder.Path();
        ASSERT_FALSE(path.empty());
        EXPECT_NE(path, other.Path());
        EXPECT_TRUE(std::filesystem::is_directory(path));
        EXPECT_TRUE(std::filesystem::is_empty(path));
        EXPECT_EQ(std::filesystem::path(path).filename().string().rfind("pxsupport-", 0), 0u) << path;
        // The real path, in the system's form.
        EXPECT_EQ(std::filesystem::canonical(path).make_preferred().string(), path);
#ifdef _WIN32
        EXPECT_EQ(path.find('/'), std::string::npos) << path;
        const std::string inner = path + "\\deep\\er\\file.bin";
#else
        const std::string inner = path + "/deep/er/file.bin";
#endif

        // Folders on the way are made; bytes come back as written, NULs and line ends included.
        const std::string bytes("a\0b\r\nc", 6);
        EXPECT_EQ(folder.Put("deep/er/file.bin", bytes), inner);
        EXPECT_EQ(folder / "deep/er/file.bin", inner);
        EXPECT_EQ(folder.Read("deep/er/file.bin"), bytes);
        EXPECT_EQ(ReadWholeFile(folder / "deep/er/file.bin"), bytes);
        folder.Put("deep/er/file.bin", "short");
        EXPECT_EQ(folder.Read("deep/er/file.bin"), "short"); // replaced, not overwritten in place
        EXPECT_EQ(folder.Read("missing"), "");

        // A folder the test closed to itself does not keep the tree alive.
        folder.Put("closed/inner.txt", "x");
        std::filesystem::permissions(path + "/closed", std::filesystem::perms::none);
        // Nor does a read-only file, which Windows deletes only once it is writable again.
        std::filesystem::permissions(folder.Put("read-only.txt", "x"), std::filesystem::perms::owner_read);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(ScopedTempFolder, SetsModificationTimes) {
    ScopedTempFolder folder;
    const std::string file = folder.Put("a.txt");
    ASSERT_TRUE(SetModificationTime(file, 1100000000));
    const auto written = std::filesystem::last_write_time(file);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(written).time_since_epoch());
    EXPECT_EQ(seconds.count(), 1100000000);
    EXPECT_FALSE(SetModificationTime(folder / "missing", 1));
}

TEST(ScopedEnv, PutsBackWhatWasThereIncludingNothing) {
    PutEnv(kVariable, std::nullopt);
    {
        ScopedEnv env(kVariable, "first");
        EXPECT_EQ(GetEnv(kVariable), "first");
        env.Set(kVariable, "second");
        env.Set(kVariable, std::string()); // empty is a value, not unset
        EXPECT_EQ(GetEnv(kVariable), "");
        {
            ScopedEnv inner;
            inner.Unset(kVariable);
            EXPECT_EQ(GetEnv(kVariable), std::nullopt);
            inner.Set("PX_TEST_SUPPORT_OTHER", static_cast<const char*>(nullptr));
        }
        EXPECT_EQ(GetEnv(kVariable), "");
        env.Restore();
        EXPECT_EQ(GetEnv(kVariable), std::nullopt);
        env.Set(kVariable, "third");
    }
    // Changed several times, it ends as it was before the first change.
    EXPECT_EQ(GetEnv(kVariable), std::nullopt);

    PutEnv(kVariable, "kept");
    { ScopedEnv env(kVariable, std::nullopt); }
    EXPECT_EQ(GetEnv(kVariable), "kept");
    PutEnv(kVariable, std::nullopt);
}

TEST(Loopback, StreamCarriesBytesBothWaysAndSeesTheEnd) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.IsListening());
    ASSERT_NE(listener.Port(), 0);
    LoopbackStream client = LoopbackStream::Connect(listener.Port());
    ASSERT_TRUE(client.IsOpen());
    LoopbackStream server = listener.Accept(10);
    ASSERT_TRUE(server.IsOpen());

    // Larger than any socket buffer, so the sender must keep going while the other side reads.
    std::string big(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 4096);
    std::thread sender([&] { EXPECT_TRUE(client.SendAll(big)); });
    EXPECT_EQ(server.ReceiveExactly(big.size(), 10), big);
    sender.join();

    // Nothing to read: a bounded wait that says so.
    EXPECT_FALSE(server.WaitReadable(0.05));
    EXPECT_EQ(server.Receive(0.05).status, LoopbackStream::Status::TimedOut);

    // After a shutdown of one direction the other still works.
    ASSERT_TRUE(server.SendAll("reply"));
    server.ShutdownWrite();
    EXPECT_EQ(client.ReceiveUntilClosed(10), "reply");
    EXPECT_EQ(client.Receive(1).status, LoopbackStream::Status::Closed);
    ASSERT_TRUE(client.SendAll("late"));
    EXPECT_EQ(server.ReceiveExactly(4, 10), "late");

    // A closed peer: the end is seen, and a send fails without killing the test.
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(server.Receive(10).status, LoopbackStream::Status::Closed);
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i)
        failed = !server.SendAll(std::string(64 * 1024, 'x'));
    EXPECT_TRUE(failed);
}

TEST(Loopback, ListenerTimesOutAndPortsTellWhoListens) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.IsListening());
    EXPECT_FALSE(listener.Accept(0.05).IsOpen());
    EXPECT_TRUE(LoopbackAccepts(listener.Port()));
    const uint16_t port = listener.Port();
    listener.Close();
    EXPECT_FALSE(LoopbackAccepts(port));
    EXPECT_FALSE(LoopbackStream::Connect(port).IsOpen());
    const uint16_t free = FreeLoopbackPort();
    EXPECT_NE(free, 0);
    EXPECT_FALSE(LoopbackAccepts(free));

    // A moved stream is the same connection; the moved-from one is closed.
    LoopbackListener again;
    LoopbackStream first = LoopbackStream::Connect(again.Port());
    LoopbackStream accepted = again.Accept(10);
    LoopbackStream moved = std::move(first);
    EXPECT_FALSE(first.IsOpen());
    ASSERT_TRUE(moved.SendAll("m"));
    EXPECT_EQ(accepted.ReceiveExactly(1, 10), "m");
}

class ChildProcessTest : public ::testing::Test {
protected:
    static std::vector<std::string> Helper(std::vector<std::string> args) {
        args.insert(args.begin(), PX_CHILD_HELPER_PATH);
        return args;
    }
    ScopedTempFolder m_folder;
};

TEST_F(ChildProcessTest, ExitStatusesComeBack) {
    for (int code : {0, 1, 3, 77}) {
        ChildProcess child(Helper({"exit", std::to_string(code)}));
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.Wait(30)) << code;
        EXPECT_EQ(child.GetState(), ChildProcess::State::Exited);
        EXPECT_EQ(child.ExitCode(), code);
    }
    ChildProcess missing({m_folder / "no-such-program"});
    EXPECT_FALSE(missing.Started());
    EXPECT_EQ(missing.GetState(), ChildProcess::State::NotStarted);
    EXPECT_TRUE(missing.Wait(1));
    EXPECT_EQ(missing.ExitCode(), -1);
}

TEST_F(ChildProcessTest, EnvironmentChangesReachTheChildOnly) {
    ScopedEnv env(kVariable, "inherited");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::optional<std::string>>> changes;
        const char* seen;
    } cases[] = {
        {"inherited as it is", {}, "inherited"},
        {"set", {{kVariable, "changed"}}, "changed"},
        {"removed", {{kVariable, std::nullopt}}, "(unset)"},
        {"the last change wins", {{kVariable, "a"}, {kVariable, "b"}}, "b"},
        {"other changes leave it", {{"PX_TEST_SUPPORT_OTHER", "x"}}, "inherited"},
    };
    for (const Case& c : cases) {
        ChildProcess child(Helper({"env", kVariable}),
                           {.environment = c.changes, .outputPath = m_folder / "out.txt", .errorPath = ""});
        ASSERT_TRUE(child.Wait(30)) << c.what;
        EXPECT_EQ(child.ExitCode(), 0) << c.what;
        EXPECT_EQ(m_folder.Read("out.txt"), c.seen) << c.what;
    }
    EXPECT_EQ(GetEnv(kVariable), "inherited");
}

TEST_F(ChildProcessTest, OutputGoesToFilesApartOrTogether) {
    {
        ChildProcess apart(
            Helper({"print", "to out", "to err"}),
            {.environment = {}, .outputPath = m_folder / "out", .errorPath = m_folder / "err"});
        ASSERT_TRUE(apart.Wait(30));
    }
    EXPECT_EQ(m_folder.Read("out"), "to out");
    EXPECT_EQ(m_folder.Read("err"), "to err");
    {
        ChildProcess together(
            Helper({"print", "first ", "second"}),
            {.environment = {}, .outputPath = m_folder / "both", .errorPath = m_folder / "both"});
        ASSERT_TRUE(together.Wait(30));
    }
    EXPECT_EQ(m_folder.Read("both"), "first second");
}

TEST_F(ChildProcessTest, AHangingChildIsWaitedForWithinTheTimeAndStopped) {
    ChildProcess child(Helper({"hang"}));
    ASSERT_TRUE(child.Started());
    EXPECT_FALSE(child.Wait(0.1));
    EXPECT_EQ(child.GetState(), ChildProcess::State::Running);
    EXPECT_EQ(child.ExitCode(), -1);
    child.Kill();
    EXPECT_EQ(child.GetState(), ChildProcess::State::Killed);
    EXPECT_EQ(child.ExitCode(), -1);

    ChildProcess stopped(Helper({"hang"}));
    stopped.Stop(10);
    EXPECT_EQ(stopped.GetState(), ChildProcess::State::Killed);
}

// Run as a child by the test below: leaves its mark in the file it is told of.
TEST(ThisProgramChild, DISABLED_LeavesItsMark) {
    std::optional<std::string> mark = GetEnv("PX_TEST_SUPPORT_MARK");
    ASSERT_TRUE(mark);
    ASSERT_TRUE(WriteWholeFile(*mark, "ran alone"));
}

TEST_F(ChildProcessTest, ThisProgramRunsOneOfItsOwnTests) {
    ChildProcess child(ThisProgramRunning("ThisProgramChild.DISABLED_LeavesItsMark"),
                       {.environment = {{"PX_TEST_SUPPORT_MARK", m_folder / "mark"}},
                        .outputPath = m_folder / "log",
                        .errorPath = m_folder / "log"});
    ASSERT_TRUE(child.Started());
    EXPECT_GT(child.ProcessId(), 0);
    ASSERT_TRUE(child.Wait(60));
    EXPECT_EQ(child.ExitCode(), 0) << m_folder.Read("log");
    EXPECT_EQ(m_folder.Read("mark"), "ran alone");
    EXPECT_NE(m_folder.Read("log").find("1 test"), std::string::npos) << m_folder.Read("log");

    ChildProcess failing(ThisProgramRunning("ThisProgramChild.DISABLED_LeavesItsMark"),
                         {.environment = {{"PX_TEST_SUPPORT_MARK", std::nullopt}},
                          .outputPath = m_folder / "log",
                          .errorPath = ""});
    ASSERT_TRUE(failing.Wait(60));
    EXPECT_NE(failing.ExitCode(), 0);
}

#ifndef _WIN32
TEST(FindProgram, LooksInTheSearchPathThenTheExtraFolders) {
    ScopedTempFolder folder;
    const std::string program = folder.Put("bin/px-support-tool", "#!/bin/sh\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    folder.Put("bin/px-support-data", "not a program");

    ScopedEnv env("PATH", "/nonexistent:" + folder.Path() + "/bin");
    EXPECT_EQ(FindProgram("px-support-tool"), folder.Path() + "/bin/px-support-tool");
    EXPECT_EQ(FindProgram("px-support-data"), "");
    EXPECT_EQ(FindProgram("px-support-missing"), "");
    EXPECT_EQ(FindProgram(program), program);
    env.Set("PATH", "/nonexistent");
    EXPECT_EQ(FindProgram("px-support-tool"), "");
    EXPECT_EQ(FindProgram("px-support-tool", {folder.Path() + "/bin"}),
              folder.Path() + "/bin/px-support-tool");
}
#else
TEST(FindProgram, LooksInTheSearchPathThenTheExtraFoldersForExePrograms) {
    ScopedTempFolder folder;
    const std::string program = folder.Put("bin/px-support-tool.exe", "MZ");
    folder.Put("bin/px-support-data", "not a program");

    ScopedEnv env("PATH", "C:\\nonexistent;" + folder.Path() + "/bin");
    env.Set("PX_HOST_BROKER", std::nullopt); // Windows programs only
    EXPECT_EQ(FindProgram("px-support-tool"), folder.Path() + "/bin/px-support-tool.exe");
    EXPECT_EQ(FindProgram("px-support-tool.exe"), folder.Path() + "/bin/px-support-tool.exe");
    EXPECT_EQ(FindProgram("px-support-data"), "");
    EXPECT_EQ(FindProgram("px-support-missing"), "");
    EXPECT_EQ(FindProgram(program), program);
    EXPECT_EQ(FindProgram(folder / "bin/px-support-tool"), program);
    env.Set("PATH", "C:\\nonexistent");
    EXPECT_EQ(FindProgram("px-support-tool"), "");
    EXPECT_EQ(FindProgram("px-support-tool", {folder.Path() + "/bin"}),
              folder.Path() + "/bin/px-support-tool.exe");
}

// Linux programs run on the Linux side, under the host broker that the Wine run starts.
class HostBrokerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!GetEnv("PX_HOST_BROKER"))
            GTEST_SKIP() << "no host broker (PX_HOST_BROKER) for Linux programs";
    }
    ScopedTempFolder m_folder;
};

TEST_F(HostBrokerTest, FindsLinuxProgramsAsUnixPaths) {
    const std::string shell = FindProgram("sh");
    ASSERT_FALSE(shell.empty());
    EXPECT_EQ(shell[0], '/') << shell;
    EXPECT_EQ(FindProgram(shell), shell);
    EXPECT_EQ(FindProgram("px-support-missing"), "");
    EXPECT_EQ(FindProgram("/nonexistent/sh"), "");
    // Extra Unix folders are looked at after the Linux search path.
    EXPECT_EQ(FindProgram("px-support-missing", {"/usr/bin", "/bin"}), "");
    EXPECT_FALSE(FindProgram("ls", {"/nonexistent"}).empty());
}

TEST_F(HostBrokerTest, ExitStatusEnvironmentAndOutputCrossOver) {
    ScopedEnv env(kVariable, "inherited");
    // The output path is a Windows path: the broker turns it into the Unix one of the same file.
    ChildProcess child({"sh", "-c",
                        "printf '%s|%s|' \"$" + std::string(kVariable) +
                            "\" \"${PX_TEST_SUPPORT_OTHER-unset}\"; printf err >&2; exit 7"},
                       {.environment = {{kVariable, "changed"}, {"PX_TEST_SUPPORT_OTHER", std::nullopt}},
                        .outputPath = m_folder / "both.txt",
                        .errorPath = m_folder / "both.txt"});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Wait(30));
    EXPECT_EQ(child.GetState(), ChildProcess::State::Exited);
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_EQ(m_folder.Read("both.txt"), "changed|unset|err");

    // A Windows path as an argument reaches the Linux program as the same file.
    m_folder.Put("in.txt", "across");
    ChildProcess copy({"cp", m_folder / "in.txt", m_folder / "out.txt"});
    ASSERT_TRUE(copy.Wait(30));
    EXPECT_EQ(copy.ExitCode(), 0);
    EXPECT_EQ(m_folder.Read("out.txt"), "across");

    ChildProcess missing({"/nonexistent/program"});
    EXPECT_FALSE(missing.Started());
    EXPECT_EQ(missing.GetState(), ChildProcess::State::NotStarted);
}

TEST_F(HostBrokerTest, AHangingLinuxChildIsStoppedOrKilled) {
    ChildProcess child({"sleep", "100"});
    ASSERT_TRUE(child.Started());
    EXPECT_FALSE(child.Wait(0.2));
    EXPECT_EQ(child.GetState(), ChildProcess::State::Running);
    child.Stop(10);
    EXPECT_EQ(child.GetState(), ChildProcess::State::Killed);
    EXPECT_EQ(child.ExitCode(), -1);

    // One that ignores the request to end is killed after the time given.
    ChildProcess stubborn({"sh", "-c", "trap '' TERM; sleep 100"});
    ASSERT_TRUE(stubborn.Started());
    const auto start = std::chrono::steady_clock::now();
    stubborn.Stop(0.5);
    EXPECT_EQ(stubborn.GetState(), ChildProcess::State::Killed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));

    ChildProcess killed({"sleep", "100"});
    killed.Kill();
    EXPECT_EQ(killed.GetState(), ChildProcess::State::Killed);
}
#endif

} // namespace
