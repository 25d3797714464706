// 'pxupload upload' as a user runs it against the reference server (tools/refserver) on 127.0.0.1:
// its exit status, what it prints, what the server stored, and a Ctrl-C in the middle of a transfer.
// The program runs with a registry store and a journal of its own in temporary XDG_CONFIG_HOME and
// XDG_STATE_HOME folders, and no proxy.
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/e2e_support.h"
#include "tests/support/loopback.h"
#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"
#include "tests/support/scoped_temp_folder.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <gtest/gtest.h>

namespace {

using e2e::RandomBytes;
using e2e::Requests;
using e2e::Seconds;
using e2e::State;
using e2e::WaitFor;

namespace fs = std::filesystem;
using refserver::Json;

// Longest run of the program before the test gives up on it.
constexpr double kRunSeconds = 30.0;

// A path as the program names it: in the system's own form (on Windows with backslashes).
std::string Native(fs::path path) {
    return path.make_preferred().string();
}

// What the program wrote to a file: text, whose lines end in CR LF on Windows; the test reads them
// as "\n" once it has seen that every line does.
std::string ReadText(const std::string& path) {
    std::string text = refserver::ReadFile(path);
#ifdef _WIN32
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines += '\n';
            ++i;
            continue;
        }
        EXPECT_NE(text[i], '\n') << path << ": a line without its CR at " << i << "\n" << text;
        lines += text[i];
    }
    return lines;
#else
    return text;
#endif
}

struct Result {
    int status = -1; // exit status; -1 when the program did not exit by itself
    std::string out;
    std::string err;
};

// One run of the program, started without waiting for it.
class Program {
public:
    Program(const fs::path& folder, const std::vector<std::string>& words) : m_folder(folder) {
        testsupport::ChildProcess::Options options;
        // The program must reach the server directly and keep its preferences in the test's folder
        // (on Windows, where it has the user's, ProgramStateAside keeps them apart).
        options.environment = {{"XDG_CONFIG_HOME", folder.string()}, {"XDG_STATE_HOME", (folder / "state").string()}};
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
            options.environment.emplace_back(name, std::nullopt);
        options.outputPath = OutPath();
        options.errorPath = ErrPath();
        std::vector<std::string> arguments = {PXUPLOAD_PATH};
        arguments.insert(arguments.end(), words.begin(), words.end());
        std::ofstream(InPath()).flush(); // nothing to read
        m_child = std::make_unique<testsupport::ChildProcess>(std::move(arguments), options, InPath());
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_child->Started(); }
#ifndef _WIN32
    void Signal(int number) const { ::kill(static_cast<pid_t>(m_child->ProcessId()), number); }
#endif
    // Ends the program at once: nothing of it runs after that.
    void Kill() { m_child->Kill(); }
    bool WasKilled() { return m_child->GetState() == testsupport::ChildProcess::State::Killed; }

    // Waits for the program to exit by itself; status -1 when it did not within the time.
    Result Wait(double seconds = kRunSeconds) {
        Result result;
        if (m_child->Wait(seconds))
            result.status = m_child->ExitCode();
        result.out = ReadText(OutPath());
        result.err = ReadText(ErrPath());
        return result;
    }

private:
    std::string OutPath() const { return (m_folder / "out.txt").string(); }
    std::string ErrPath() const { return (m_folder / "err.txt").string(); }
    std::string InPath() const { return (m_folder / "in.txt").string(); }

    fs::path m_folder;
    std::unique_ptr<testsupport::ChildProcess> m_child; // stopped, if still running, when the run goes
};

class UploadCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        m_temp = std::make_unique<testsupport::ScopedTempFolder>("pxupload-upload-cli");
        ASSERT_FALSE(m_temp->Path().empty());
        m_folder = m_temp->Path();
        fs::create_directory(m_folder / "pictures");
        m_state = std::make_unique<e2e::ProgramStateAside>();
    }
    void TearDown() override {
        m_state.reset();
        m_temp.reset();
    }

    // A picture of `size` bytes: a small JPEG, so that the program takes it for one, then bytes
    // that differ from picture to picture.
    std::string AddPicture(const std::string& name, size_t size) {
        fs::path path = m_folder / "pictures" / name;
        static const testpictures::Bytes head = testpictures::EncodeJpeg({});
        std::string bytes(head.begin(), head.end());
        if (size > bytes.size())
            bytes += RandomBytes(size - bytes.size(), static_cast<unsigned>(m_bytes.size() + 100));
        std::ofstream(path, std::ios::binary) << bytes;
        m_bytes[Native(path)] = std::move(bytes);
        return Native(path);
    }

    static std::vector<std::string> Parameters(const RefServer& server, int maxConnections) {
        return {"--param", "Server=" + server.Server(),
                "--param", "SessionID=cli session",
                "--param", "UID=cli-user",
                "--param", "AuthenticationID=cli-auth",
                "--param", "MaxConnections=" + std::to_string(maxConnections)};
    }

    Result Run(const std::vector<std::string>& words) {
        Program program(m_folder, words);
        EXPECT_TRUE(program.Started());
        return program.Wait();
    }

    // The picture's one complete record on the server holds exactly its bytes.
    void ExpectStoredExactly(const RefServer& server, const Json& state, const std::string& path) {
        int complete = 0;
        for (const auto& [id, record] : state["pictures"].Members()) {
            if (record["filename"].AsString() != path || !record["complete"].AsBool())
                continue;
            ++complete;
            EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(path)) << path << " stored as " << id;
        }
        EXPECT_EQ(complete, 1) << path;
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_temp;
    std::unique_ptr<e2e::ProgramStateAside> m_state;
    fs::path m_folder;
    std::map<std::string, std::string> m_bytes; // path -> the bytes written there
};

TEST_F(UploadCommandLine, AFolderOfPicturesUploadsAndExitsWithZero) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
        paths.push_back(AddPicture("holiday " + std::to_string(i) + ".jpg", 60000 + 40000 * i));
    std::ofstream(m_folder / "pictures" / "notes.txt") << "not a picture";

    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 3))
        words.push_back(word);
    words.push_back(Native(m_folder / "pictures"));
    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Uploading 5 pictures to " + server.Server() + " over 3 connections\n"),
              std::string::npos)
        << result.out;
    for (const std::string& path : paths)
        EXPECT_NE(result.out.find("uploaded " + path + " ("), std::string::npos) << path << "\n"
                                                                                 << result.out;
    EXPECT_NE(result.out.find("\nUploaded 5 of 5 pictures ("), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("failed"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");

    Json state = State(server);
    for (const std::string& path : paths)
        ExpectStoredExactly(server, state, path);
    EXPECT_EQ(Requests(state, "UploadImage"), 5);
    EXPECT_EQ(state["connections"]["current"].AsInt(), 0);
}

#ifndef _WIN32
// The names are UTF-8 bytes, Linux's narrow text; on Windows narrow text is the ANSI code page.
TEST_F(UploadCommandLine, NonAsciiFolderAndFileNamesUploadUnderTheirFullNames) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string folder = "\xc3\x89t\xc3\xa9 \xc3\xa0 No\xc3\xabl"; // UTF-8 accented letters and spaces
    fs::create_directory(m_folder / "pictures" / folder);
    const std::string inFolder = AddPicture(folder + "/a b.jpg", 65000);
    const std::string alone = AddPicture("f\xc3\xbcr Oma.jpg", 45000);

    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 2))
        words.push_back(word);
    // Given with "." and ".." in them: the pictures are named by their tidied full paths.
    words.push_back(Native(m_folder / "pictures" / "." / folder / ".." / folder) + "/");
    words.push_back(Native(m_folder / "pictures" / folder / ".." / ("f\xc3\xbcr Oma.jpg")));
    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Uploading 2 pictures to "), std::string::npos) << result.out;
    for (const std::string& path : {inFolder, alone})
        EXPECT_NE(result.out.find("uploaded " + path + " ("), std::string::npos) << path << "\n"
                                                                                 << result.out;
    EXPECT_EQ(result.err, "");
    Json state = State(server);
    ExpectStoredExactly(server, state, inFolder);
    ExpectStoredExactly(server, state, alone);
}
#endif

TEST_F(UploadCommandLine, AFailedPictureIsNamedWithTheServersTextAndExitsWithOne) {
    RefServer server(
        {"--fault", R"({"servlet":"UploadImage","error":2,"times":1,"message":"damaged picture"})"});
    ASSERT_TRUE(server.IsListening());
    // One connection: the first picture in name order is the one refused.
    const std::string refused = AddPicture("a.jpg", 70000);
    const std::string fine = AddPicture("b.jpg", 90000);

    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.insert(words.end(), {refused, fine});
    Result result = Run(words);
    ASSERT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("failed   " + refused + ": damaged picture\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("uploaded " + fine + " ("), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\nUploaded 1 of 2 pictures ("), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 picture failed:\n  " + refused + ": damaged picture\n"), std::string::npos)
        << result.out;

    Json state = State(server);
    ExpectStoredExactly(server, state, fine);
    EXPECT_EQ(Requests(state, "UploadImage"), 2);
    EXPECT_EQ(Requests(state, "GetImageID"), 2);
}

TEST_F(UploadCommandLine, UsageErrorsExitWithTwoAndSendNothing) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string picture = AddPicture("c.jpg", 50000);
    struct Case {
        std::vector<std::string> words;
        std::string says; // on standard error
    };
    const Case cases[] = {
        // No server to send to.
        {{"upload", "--param", "SessionID=s", picture}, "upload needs the server"},
        // Nothing to send.
        {{"upload", "--param", "Server=" + server.Server()}, "upload needs at least one PATH"},
        // A parameter the control does not have.
        {{"upload", "--param", "Server=" + server.Server(), "--param", "Servr=x", picture},
         "unknown parameter 'Servr'"},
        // A URL where the host belongs: the text says what to write instead.
        {{"upload", "--param", "Server=http://" + server.Server() + "/", picture},
         "not 'http://" + server.Server() + "/': write --param Server=" + server.Server() + "\n"},
        {{"upload", "--param", "Server=" + server.Server() + "/upload", picture},
         "write --param Server=" + server.Server() + "\n"},
        {{"upload", "--param", "Server=https:///", picture}, "write --param Server=HOST[:PORT]\n"},
    };
    for (const Case& c : cases) {
        Result result = Run(c.words);
        EXPECT_EQ(result.status, 2) << c.says << "\n" << result.out << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
    EXPECT_EQ(Requests(State(server), "GetImageID"), 0);
}

#ifndef _WIN32
// A Ctrl-C reaches a Windows console program as a console control event, which a test can only send
// to a process group on the console it shares with the child, the test included: the case stays a
// Linux one, with a real SIGINT.
TEST_F(UploadCommandLine, InterruptPausesCleanlyAndExitsWith130) {
    // The upload's link stalls after 300000 body bytes: the server keeps them and never answers, so
    // the interrupt certainly lands in the middle of the transfer.
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":300000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("long.jpg", 1000000);
    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.push_back(path);

    Program program(m_folder, words);
    ASSERT_TRUE(program.Started());
    auto partHeld = [&server] {
        Json state = State(server);
        for (const auto& [id, record] : state["pictures"].Members())
            if (record["received"].AsInt() > 0)
                return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(partHeld, kRunSeconds));
    program.Signal(SIGINT);
    Result result = program.Wait();
    ASSERT_EQ(result.status, 130) << result.out << result.err;
    EXPECT_NE(result.out.find("Interrupted: pausing...\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\nUploaded 0 of 1 picture ("), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 picture was not finished (paused).\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("uploaded "), std::string::npos) << result.out;

    // Nothing left open; the server keeps a proper part of the picture, byte for byte.
    ASSERT_TRUE(WaitFor([&server] {
        Json state = State(server);
        return state["connections"]["current"].AsInt() == 0 && state["in_flight"]["current"].AsInt() == 0;
    }));
    Json state = State(server);
    EXPECT_EQ(Requests(state, "UploadImage"), 1);
    EXPECT_EQ(state["outcomes"]["UploadImage"]["stalled"].AsInt(), 1);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_EQ(record["filename"].AsString(), path);
    EXPECT_FALSE(record["complete"].AsBool());
    const int64_t held = record["received"].AsInt();
    EXPECT_GT(held, 290000);
    EXPECT_LT(held, 300000);
    EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(path).substr(0, static_cast<size_t>(held)));
}
#endif

TEST_F(UploadCommandLine, AnUploadThatStallsHalfWayResumesFromTheServersOffset) {
    // The server keeps the first half of the body and then says nothing: the stall is noticed after
    // the 2 s time-out, the offset query finds the half, and the rest goes on a new request.
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":150000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("stalls.jpg", 300000);
    std::vector<std::string> words = {"upload", "--param", "Timeout=2000"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.push_back(path);
    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("uploaded " + path + " ("), std::string::npos) << result.out;

    Json state = State(server);
    ExpectStoredExactly(server, state, path);
    EXPECT_EQ(state["outcomes"]["UploadImage"]["stalled"].AsInt(), 1);
    EXPECT_EQ(Requests(state, "UploadImage"), 2);
    EXPECT_EQ(Requests(state, "GetImageID"), 1);
    // The second upload started where the server's bytes ended, not from the start.
    // Its log note reads "<ImageID> +<bytes> at <offset> -> <held>/<size>".
    long long resumedAt = -1;
    for (const Json& entry : state["log"].Items()) {
        const std::string& note = entry["note"].AsString();
        size_t at = note.find(" at ");
        long long offset = -1;
        if (entry["servlet"].AsString() == "UploadImage" && at != std::string::npos &&
            std::sscanf(note.c_str() + at, " at %lld", &offset) == 1 && offset > 0)
            resumedAt = offset;
    }
    EXPECT_GT(resumedAt, 0);
    EXPECT_LE(resumedAt, 150000);
}

TEST_F(UploadCommandLine, ASilentServerFailsThePictureWithinTheTimeoutAndItsRetries) {
    // A peer that accepts, reads whatever comes and never answers.
    testsupport::LoopbackListener listener;
    ASSERT_TRUE(listener.IsListening());
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    std::thread peer([&] {
        std::vector<testsupport::LoopbackStream> open;
        while (!stop) {
            testsupport::LoopbackStream stream = listener.Accept(0.05);
            if (stream.IsOpen()) {
                ++connections;
                open.push_back(std::move(stream));
            }
            for (testsupport::LoopbackStream& s : open)
                if (s.IsOpen() && s.Receive(0).status == testsupport::LoopbackStream::Status::Closed)
                    s.Close();
        }
    });
    const std::string path = AddPicture("unanswered.jpg", 40000);
    const std::string server = "127.0.0.1:" + std::to_string(listener.Port());
    Program program(m_folder, {"upload", "--param", "Server=" + server, "--param", "SessionID=s", "--param",
                               "UID=u", "--param", "AuthenticationID=a", "--param", "Timeout=2000",
                               "--param", "MaxConnections=1", path});
    ASSERT_TRUE(program.Started());
    double started = Seconds();
    // Six attempts of 2 s and pauses of 1 + 4 + 9 + 16 + 25 s: about 67 s.
    Result result = program.Wait(120);
    double took = Seconds() - started;
    stop = true;
    peer.join();
    ASSERT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("failed   " + path + ": Network error: Connection attempt timed out."),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("(10060)"), std::string::npos) << result.out;
    EXPECT_EQ(connections, 6);
    EXPECT_GE(took, 6 * 2.0 + 55.0 - 1.0);
    EXPECT_LT(took, 6 * 2.0 + 55.0 + 20.0);
}

TEST_F(UploadCommandLine, FilesThatAreNoPicturesAreRefusedWhenAddedAndTheRestGo) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string good = AddPicture("good.jpg", 80000);
    const fs::path pictures = m_folder / "pictures";
    std::ofstream(pictures / "noise.jpg", std::ios::binary) << RandomBytes(30000, 7);
    std::ofstream(pictures / "one.jpg", std::ios::binary) << "\xff";
    std::ofstream(pictures / "empty.jpeg", std::ios::binary);
    // Only the start-of-image marker: no header follows it.
    std::ofstream(pictures / "marker.jpg", std::ios::binary) << "\xff\xd8\xff";
    // A real JPEG without a picture's name, and a link to the good picture.
    fs::copy_file(good, pictures / "good.bin");
#ifndef _WIN32
    // (Wine makes no symbolic links.)
    fs::create_symlink(good, pictures / "link.jpg");
#endif

    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    for (const char* name : {"noise.jpg", "one.jpg", "empty.jpeg", "marker.jpg", "good.bin"})
        words.push_back(Native(pictures / name));
#ifndef _WIN32
    words.push_back(Native(pictures / "link.jpg"));
#endif
    words.push_back(good);
    Result result = Run(words);
    ASSERT_EQ(result.status, 1) << result.out << result.err;
    for (const char* name : {"noise.jpg", "one.jpg", "empty.jpeg", "marker.jpg"})
        EXPECT_NE(result.err.find("pxupload: " + Native(pictures / name) +
                                  ": named as a JPEG picture, but its content is not one\n"),
                  std::string::npos)
            << name << "\n"
            << result.err;
    EXPECT_NE(result.err.find("pxupload: " + Native(pictures / "good.bin") + ": not a JPEG picture\n"),
              std::string::npos)
        << result.err;
    // The link and the file are one picture, uploaded once.
    EXPECT_NE(result.out.find("Uploading 1 picture to "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\nUploaded 1 of 1 picture ("), std::string::npos) << result.out;
    Json state = State(server);
    EXPECT_EQ(Requests(state, "GetImageID"), 1);
    EXPECT_EQ(Requests(state, "UploadImage"), 1);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    EXPECT_TRUE(server.StoredBytes(state["pictures"].Members()[0].first) == m_bytes.at(good));

    // A folder gives its pictures and names the files that only look like ones.
    Result folder = Run({"upload", "--param", "Server=" + server.Server(), "--param", "SessionID=s",
                         "--param", "UID=u", "--param", "AuthenticationID=a", Native(pictures)});
    EXPECT_EQ(folder.status, 1) << folder.out << folder.err;
    EXPECT_NE(folder.err.find(Native(pictures / "noise.jpg") + ": named as a JPEG picture"),
              std::string::npos)
        << folder.err;
    EXPECT_EQ(folder.err.find("good.bin"), std::string::npos) << folder.err;
    EXPECT_NE(folder.out.find("Uploading 1 picture to "), std::string::npos) << folder.out;
}

// The bytes the server holds of the picture with the client's path `path` (its first record).
int64_t HeldBytes(const RefServer& server, const std::string& path) {
    Json state = State(server);
    for (const auto& [id, record] : state["pictures"].Members())
        if (record["filename"].AsString() == path)
            return record["received"].AsInt();
    return 0;
}

// The declared body lengths of the "UploadImage" requests the server saw, in order.
std::vector<int64_t> UploadLengths(const Json& state) {
    std::vector<int64_t> lengths;
    for (const Json& entry : state["log"].Items())
        if (entry["servlet"].AsString() == "UploadImage")
            lengths.push_back(std::stoll(entry["content_length"].AsString()));
    return lengths;
}

// Where a reference server is started again and again: a port that was free a moment ago, so that a
// restarted server answers where the first one did, a store kept outside the server's own folder,
// and the server naming itself as the data server, which a restart must keep too.
struct Placement {
    std::string port; // empty when no port could be found
    std::string store;
    std::vector<std::string> arguments;
};

Placement PlaceForRestarts(const fs::path& folder) {
    testsupport::LoopbackListener probe;
    if (!probe.IsListening())
        return {};
    Placement place;
    place.port = std::to_string(probe.Port());
    place.store = (folder / "server store").string();
    place.arguments = {"--port", place.port, "--store", place.store, "--second-server", "127.0.0.1:" + place.port};
    return place;
}

// Starts the upload, waits until the server holds at least `held` bytes of the picture and kills the
// program outright: nothing of it runs after that, as when the machine loses power.
void KillMidUpload(const fs::path& folder, const std::vector<std::string>& words, const RefServer& server,
                   const std::string& path, int64_t held) {
    Program program(folder, words);
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(WaitFor([&] { return HeldBytes(server, path) >= held; }, kRunSeconds));
    program.Kill();
    EXPECT_TRUE(program.WasKilled());
}

TEST_F(UploadCommandLine, AKilledUploadGoesOnFromTheServersOffsetWhenRunAgain) {
    // The first request's link stalls after 20 MB of the 50 MB picture, so the kill lands mid-body.
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":20000000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("panorama.jpg", 50000000);
    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.push_back(path);
    KillMidUpload(m_folder, words, server, path, 19000000);
    const int64_t held = HeldBytes(server, path);

    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("going on with 1 picture of an earlier run\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("uploaded " + path + " ("), std::string::npos) << result.out;

    // One identifier, and the second body started where the server stopped receiving: it holds each
    // byte once, and exactly the picture's bytes.
    Json state = State(server);
    EXPECT_EQ(Requests(state, "GetImageID"), 1);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 1);
    // Besides the picture's bytes, a body holds the form fields and part headers: well under 4 KB.
    std::vector<int64_t> lengths = UploadLengths(state);
    ASSERT_EQ(lengths.size(), 2u);
    EXPECT_GT(lengths[0], 50000000);
    EXPECT_GT(lengths[1], 50000000 - held);
    EXPECT_LT(lengths[1], 50000000 - held + 4096);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    EXPECT_EQ(state["pictures"].Members()[0].second["received"].AsInt(), 50000000);
    ExpectStoredExactly(server, state, path);

    // A completed picture leaves the journal: a third run has nothing to go on with.
    Result again = Run({"upload", "--resume", "--param", "Server=" + server.Server(), "--param",
                        "SessionID=cli session", "--param", "UID=cli-user", "--param", "AuthenticationID=cli-auth"});
    EXPECT_EQ(again.status, 1) << again.out << again.err;
    EXPECT_NE(again.err.find("--resume: the journal holds no unfinished picture of this session"), std::string::npos)
        << again.err;
}

TEST_F(UploadCommandLine, AFileChangedSinceTheKilledRunStartsOverWithANewIdentifier) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":100000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("edited.jpg", 400000);
    std::vector<std::string> words = {"upload"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.push_back(path);
    KillMidUpload(m_folder, words, server, path, 90000);

    // Edited in the meantime: the bytes the server holds belong to the old picture.
    AddPicture("edited.jpg", 300000);
    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("going on with"), std::string::npos) << result.out;
    Json state = State(server);
    EXPECT_EQ(Requests(state, "GetImageID"), 2);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 0);
    ExpectStoredExactly(server, state, path);
}

TEST_F(UploadCommandLine, ResumeWithoutPathsFinishesThePicturesOfItsOwnSessionOnly) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":100000,"times":2})"});
    ASSERT_TRUE(server.IsListening());
    const std::string mine = AddPicture("mine.jpg", 300000);
    const std::string theirs = AddPicture("theirs.jpg", 300000);
    auto words = [&server](const std::string& session) {
        return std::vector<std::string>{"upload",  "--param", "Server=" + server.Server(), "--param",
                                        "SessionID=" + session, "--param", "UID=cli-user", "--param",
                                        "AuthenticationID=cli-auth"};
    };
    std::vector<std::string> first = words("mine");
    first.push_back(mine);
    KillMidUpload(m_folder, first, server, mine, 90000);
    std::vector<std::string> second = words("theirs");
    second.push_back(theirs);
    KillMidUpload(m_folder, second, server, theirs, 90000);

    std::vector<std::string> resume = words("mine");
    resume.insert(resume.begin() + 1, "--resume");
    Result result = Run(resume);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Uploading 1 picture to "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("uploaded " + mine + " ("), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find(theirs), std::string::npos) << result.out;
    Json state = State(server);
    ExpectStoredExactly(server, state, mine);
    for (const auto& [id, record] : state["pictures"].Members()) {
        if (record["filename"].AsString() == theirs) {
            EXPECT_FALSE(record["complete"].AsBool());
        }
    }

    // The other session's picture is still there for its own session to finish.
    std::vector<std::string> theirsResume = words("theirs");
    theirsResume.insert(theirsResume.begin() + 1, "--resume");
    Result other = Run(theirsResume);
    ASSERT_EQ(other.status, 0) << other.out << other.err;
    ExpectStoredExactly(server, State(server), theirs);
}

TEST_F(UploadCommandLine, RetryTriesAPictureAgainAfterGrowingWaitsUntilTheServerIsBack) {
    // The service is unavailable for its first three answers, as during a restart.
    RefServer server({"--fault", R"({"servlet":"GetImageID","http":503,"times":3})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("patient.jpg", 120000);
    std::vector<std::string> words = {"upload", "--retry", "5"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.push_back(path);
    double started = Seconds();
    Result result = Run(words);
    double took = Seconds() - started;
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_NE(result.out.find(" s (attempt " + std::to_string(attempt) + " of 5): Service Unavailable\n"),
                  std::string::npos)
            << result.out;
    EXPECT_NE(result.out.find("retrying " + path + " in 1 s (attempt 1 of 5)"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("(attempt 4 of 5)"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("failed "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("uploaded " + path + " ("), std::string::npos) << result.out;
    // Waits of about 1, 2 and 4 s, each within a fifth.
    EXPECT_GT(took, (1 + 2 + 4) * 0.8);
    Json state = State(server);
    EXPECT_EQ(Requests(state, "GetImageID"), 4);
    ExpectStoredExactly(server, state, path);
}

TEST_F(UploadCommandLine, RetryLeavesAPictureTheServerRefusedAlone) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","error":2,"message":"damaged picture"})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("refused.jpg", 50000);
    std::vector<std::string> words = {"upload", "--retry", "3"};
    for (const std::string& word : Parameters(server, 1))
        words.push_back(word);
    words.push_back(path);
    Result result = Run(words);
    ASSERT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_EQ(result.out.find("retrying"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("failed   " + path + ": damaged picture\n"), std::string::npos) << result.out;
    EXPECT_EQ(Requests(State(server), "UploadImage"), 1);
}

TEST_F(UploadCommandLine, LimitRateCapsAllConnectionsTogetherAsTheServerMeasuresIt) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    std::vector<std::string> paths;
    for (int i = 0; i < 2; ++i)
        paths.push_back(AddPicture("capped " + std::to_string(i) + ".jpg", 600000));
    std::vector<std::string> words = {"upload", "--limit-rate", "300K"};
    for (const std::string& word : Parameters(server, 2))
        words.push_back(word);
    words.insert(words.end(), paths.begin(), paths.end());
    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;

    // From the first body's arrival to the last picture's completion, at the server.
    Json state = State(server);
    double first = 1e300, last = 0;
    for (const Json& entry : state["log"].Items())
        if (entry["servlet"].AsString() == "UploadImage")
            first = std::min(first, entry["time"].AsDouble());
    int64_t bytes = 0;
    for (const auto& [id, record] : state["pictures"].Members()) {
        last = std::max(last, record["updated"].AsDouble());
        bytes += record["received"].AsInt();
    }
    ASSERT_EQ(bytes, 1200000);
    double rate = static_cast<double>(bytes) / (last - first);
    EXPECT_GT(rate, 300 * 1024 * 0.9) << rate;
    EXPECT_LT(rate, 300 * 1024 * 1.1) << rate;
    for (const std::string& path : paths)
        ExpectStoredExactly(server, state, path);
}

TEST_F(UploadCommandLine, AKilledUploadGoesOnAfterTheServerRestartedWithItsStore) {
    const Placement place = PlaceForRestarts(m_folder);
    ASSERT_FALSE(place.port.empty());
    const std::string& port = place.port;
    const std::string& store = place.store;
    const std::vector<std::string>& placement = place.arguments;
    const std::string path = AddPicture("restarted.jpg", 2000000);
    std::vector<std::string> words = {"upload", "--param", "Server=127.0.0.1:" + port, "--param",
                                      "SessionID=cli session", "--param", "UID=cli-user", "--param",
                                      "AuthenticationID=cli-auth", "--param", "MaxConnections=1", path};
    int64_t held = 0;
    {
        std::vector<std::string> stalling = placement;
        stalling.insert(stalling.end(), {"--fault", R"({"servlet":"UploadImage","stall_after":700000,"times":1})"});
        RefServer first(stalling);
        ASSERT_TRUE(first.IsListening());
        ASSERT_EQ(first.Port(), port);
        KillMidUpload(m_folder, words, first, path, 690000);
        held = HeldBytes(first, path);
    }
    RefServer second(placement);
    ASSERT_TRUE(second.IsListening());
    EXPECT_EQ(HeldBytes(second, path), held) << "the store kept what the first server received";
    Result result = Run(words);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("going on with 1 picture of an earlier run\n"), std::string::npos) << result.out;
    Json state = State(second);
    EXPECT_EQ(Requests(state, "GetImageID"), 0);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 1);
    std::vector<int64_t> lengths = UploadLengths(state);
    ASSERT_EQ(lengths.size(), 1u);
    EXPECT_LT(lengths[0], 2000000 - held + 4096);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_TRUE(record["complete"].AsBool());
    EXPECT_TRUE(refserver::ReadFile(store + "/images/" + id) == m_bytes.at(path));
}

TEST_F(UploadCommandLine, RetrySurvivesTheServerBeingDownForTenSeconds) {
    const Placement place = PlaceForRestarts(m_folder);
    ASSERT_FALSE(place.port.empty());
    const std::string& port = place.port;
    const std::string& store = place.store;
    const std::vector<std::string>& placement = place.arguments;
    const std::string path = AddPicture("outage.jpg", 1500000);
    Program program(m_folder, {"upload", "--retry", "6", "--param", "Server=127.0.0.1:" + port, "--param",
                               "SessionID=cli session", "--param", "UID=cli-user", "--param",
                               "AuthenticationID=cli-auth", "--param", "MaxConnections=1", "--param",
                               "Timeout=2000", path});
    ASSERT_TRUE(program.Started());
    {
        std::vector<std::string> stalling = placement;
        stalling.insert(stalling.end(), {"--fault", R"({"servlet":"UploadImage","stall_after":500000,"times":1})"});
        RefServer first(stalling);
        ASSERT_TRUE(first.IsListening());
        ASSERT_TRUE(WaitFor([&] { return HeldBytes(first, path) >= 490000; }, kRunSeconds));
    } // the server goes away in the middle of the body
    std::this_thread::sleep_for(std::chrono::seconds(10));
    RefServer second(placement);
    ASSERT_TRUE(second.IsListening());
    Result result = program.Wait(120);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("uploaded " + path + " ("), std::string::npos) << result.out;
    Json state = State(second);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_TRUE(record["complete"].AsBool());
    EXPECT_TRUE(refserver::ReadFile(store + "/images/" + id) == m_bytes.at(path));
}

} // namespace
