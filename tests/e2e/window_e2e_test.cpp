// 'pxupload window' as a desktop runs it: under a private X server, on a private session bus
// (dbus-run-session), against the reference server (tools/refserver) on 127.0.0.1. The window opens,
// an upload specification with automatic start uploads byte for byte while isUploadComplete answers
// 0 and then 1 over the bus, a second host cannot take the bus name, SIGTERM and the close button end
// the program through the control's tear-down (its column state stored), and without a display the
// program says so and exits with 2.
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/child_process.h"
#include "tests/support/e2e_support.h"
#include "tests/support/loopback_servers.h"
#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/geometry.h"
#include "views/picture_browser_model.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

using e2e::RandomBytes;
using e2e::WaitFor;
using refserver::Json;
using testsupport::ChildProcess;
namespace fs = std::filesystem;

constexpr double kStartSeconds = 30.0; // a sanitized build under Xvfb starts slowly
constexpr double kRunSeconds = 60.0;
constexpr const char* kTitle = "Pixolane Picture Upload";

// What the leak checker may ignore in the program: caches that the font, GLib and bus libraries keep
// for the life of the process.
constexpr const char* kLeakSuppressions =
    "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"
    "leak:libfontconfig.so\nleak:libpango\nleak:libcairo.so\nleak:libharfbuzz.so\nleak:libgio-2.0.so\n"
    "leak:libdbus-1.so\nleak:libX11.so\nleak:libatk\nleak:libepoxy\n";

std::string ReadText(const std::string& path) {
    return refserver::ReadFile(path);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A session bus of the test's own: dbus-run-session around a holder that writes the bus address and
// stays until the test asks it to go (or the test process is gone).
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const std::string& folder)
        : m_addressFile(folder + "/bus-address"), m_stopFile(folder + "/bus-stop") {
        const std::string holder = "echo \"$DBUS_SESSION_BUS_ADDRESS\" > " + ShellQuote(m_addressFile) +
                                   "; while [ ! -e " + ShellQuote(m_stopFile) + " ] && kill -0 " +
                                   std::to_string(getpid()) + " 2>/dev/null; do sleep 0.1; done";
        m_process = std::make_unique<ChildProcess>(
            std::vector<std::string>{"dbus-run-session", "--", "sh", "-c", holder},
            ChildProcess::Options{{}, folder + "/bus-out.txt", folder + "/bus-out.txt"});
        WaitFor([this] { return ReadText(m_addressFile).find('=') != std::string::npos; }, kStartSeconds);
        m_address = ReadText(m_addressFile);
        while (!m_address.empty() && m_address.back() == '\n')
            m_address.pop_back();
    }
    ~PrivateSessionBus() {
        std::ofstream(m_stopFile) << "stop";
        if (!m_process->Wait(10))
            m_process->Stop();
    }
    const std::string& Address() const { return m_address; }

private:
    std::string m_addressFile;
    std::string m_stopFile;
    std::unique_ptr<ChildProcess> m_process;
    std::string m_address;
};

class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"dbus-run-session", "gdbus", "xdotool"})
            if (testsupport::FindProgram(program).empty())
                GTEST_SKIP() << program << " is not installed (scripts/deps installs it)";
        m_config = m_folder.Path() + "/config";
        m_suppressions = m_folder.Put("lsan.supp", kLeakSuppressions);
        fs::create_directory(m_folder.Path() + "/pictures");
        m_bus = std::make_unique<PrivateSessionBus>(m_folder.Path());
        ASSERT_FALSE(m_bus->Address().empty()) << ReadText(m_folder.Path() + "/bus-out.txt");
    }
    void TearDown() override { m_bus.reset(); }

    // The program's environment: the test's display and bus, its own preferences, no proxy.
    ChildProcess::Options Environment(const std::string& name) const {
        ChildProcess::Options options;
        options.environment = {
            {"XDG_CONFIG_HOME", m_config},
            {"XDG_STATE_HOME", m_folder.Path() + "/state"},
            {"DBUS_SESSION_BUS_ADDRESS", m_bus->Address()},
            {"LSAN_OPTIONS", "suppressions=" + m_suppressions},
            {"NO_AT_BRIDGE", "1"},
            {"http_proxy", std::nullopt},
            {"HTTP_PROXY", std::nullopt},
            {"https_proxy", std::nullopt},
            {"HTTPS_PROXY", std::nullopt},
            {"no_proxy", std::nullopt},
            {"NO_PROXY", std::nullopt},
        };
        options.outputPath = OutPath(name);
        options.errorPath = ErrPath(name);
        return options;
    }
    std::string OutPath(const std::string& name) const { return m_folder.Path() + "/" + name + ".out"; }
    std::string ErrPath(const std::string& name) const { return m_folder.Path() + "/" + name + ".err"; }

    std::unique_ptr<ChildProcess> Start(const std::string& name, std::vector<std::string> words,
                                        std::optional<ChildProcess::Options> options = std::nullopt) {
        words.insert(words.begin(), PXUPLOAD_PATH);
        auto program = std::make_unique<ChildProcess>(std::move(words), options.value_or(Environment(name)));
        EXPECT_TRUE(program->Started());
        return program;
    }

    // The output of a short command, run with the test's bus and preferences; "" when it failed.
    std::string Capture(const std::string& command) const {
        std::string line = "env DBUS_SESSION_BUS_ADDRESS=" + ShellQuote(m_bus->Address()) +
                           " XDG_CONFIG_HOME=" + ShellQuote(m_config) +
                           " LSAN_OPTIONS=" + ShellQuote("suppressions=" + m_suppressions) + " " + command +
                           " 2>/dev/null";
        std::string out;
        if (FILE* pipe = popen(line.c_str(), "r")) {
            char buffer[512];
            size_t got = 0;
            while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
                out.append(buffer, got);
            if (pclose(pipe) != 0)
                return "";
        }
        return out;
    }

    // isUploadComplete over the bus: "(0,)" or "(1,)", "" while no one serves it.
    std::string AskComplete() const {
        std::string answer = Capture("gdbus call --session --dest example.pixolane.Uploader --object-path "
                                     "/example/pixolane/Uploader --method "
                                     "example.pixolane.IPixolaneUploadPlugin.isUploadComplete");
        while (!answer.empty() && answer.back() == '\n')
            answer.pop_back();
        return answer;
    }

    // The X window of the host once it is shown; "" when none came.
    std::string WaitForWindow() const {
        std::string id = Capture("timeout " + std::to_string(static_cast<int>(kStartSeconds)) +
                                 " xdotool search --sync --onlyvisible --name " + ShellQuote(kTitle));
        // The last window listed is the top-level one.
        while (!id.empty() && id.back() == '\n')
            id.pop_back();
        size_t last = id.rfind('\n');
        return last == std::string::npos ? id : id.substr(last + 1);
    }

    // A small JPEG and then bytes that differ from picture to picture.
    std::string AddPicture(const std::string& name, size_t size) {
        const std::string path = m_folder.Path() + "/pictures/" + name;
        static const testpictures::Bytes head = testpictures::EncodeJpeg({});
        std::string bytes(head.begin(), head.end());
        if (size > bytes.size())
            bytes += RandomBytes(size - bytes.size(), static_cast<unsigned>(m_bytes.size() + 7));
        std::ofstream(path, std::ios::binary) << bytes;
        m_bytes[path] = std::move(bytes);
        return path;
    }

    // The screen as a person sees it, saved under PX_WINDOW_SCREENSHOTS when it names a folder, else
    // in the test's folder (which goes with the test). Returns whether the shot was taken.
    bool Screenshot(const std::string& name) const {
        const char* folder = std::getenv("PX_WINDOW_SCREENSHOTS");
        std::string path = (folder != nullptr ? std::string(folder) : m_folder.Path()) + "/" + name + ".png";
        return std::system(("import -window root " + ShellQuote(path) + " 2>/dev/null").c_str()) == 0;
    }

    // Whether `pxupload prefs` shows a stored (not default) width of the name column.
    bool ColumnWidthStored() const {
        std::string prefs = Capture(std::string(PXUPLOAD_PATH) + " prefs");
        size_t line = prefs.find("columns/nameWidth");
        if (line == std::string::npos)
            return false;
        std::string text = prefs.substr(line, prefs.find('\n', line) - line);
        return text.find("(default)") == std::string::npos;
    }

    // Where the upload list put its pieces, from the last layout the program traced ("--trace ui"), in
    // screen coordinates. Nothing until the list has been laid out.
    struct ListLayout {
        CUIRect pause, remove, retry, rows, choose, preferences;
        int rowHeight = 0;
        int statusLeft = 0, statusRight = 0;
        CUIPoint Centre(const CUIRect& r) const { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
        CUIPoint Row(int index) const { return {rows.left + 40, rows.top + index * rowHeight + rowHeight / 2}; }
        CUIPoint Status(int index) const { return {statusLeft + 6, Row(index).y}; }
    };
    std::optional<ListLayout> ReadLayout(const std::string& name, const std::string& window) const {
        const std::string trace = ReadText(ErrPath(name));
        size_t at = trace.rfind("upload list layout: ");
        if (at == std::string::npos)
            return std::nullopt;
        ListLayout layout;
        CUIRect* boxes[] = {&layout.pause, &layout.remove, &layout.retry, &layout.rows, &layout.choose,
                            &layout.preferences};
        if (std::sscanf(trace.c_str() + at,
                        "upload list layout: pause %d,%d,%d,%d remove %d,%d,%d,%d retry %d,%d,%d,%d rows "
                        "%d,%d,%d,%d row %d status %d,%d choose %d,%d,%d,%d preferences %d,%d,%d,%d",
                        &boxes[0]->left, &boxes[0]->top, &boxes[0]->right, &boxes[0]->bottom, &boxes[1]->left,
                        &boxes[1]->top, &boxes[1]->right, &boxes[1]->bottom, &boxes[2]->left, &boxes[2]->top,
                        &boxes[2]->right, &boxes[2]->bottom, &boxes[3]->left, &boxes[3]->top, &boxes[3]->right,
                        &boxes[3]->bottom, &layout.rowHeight, &layout.statusLeft, &layout.statusRight,
                        &boxes[4]->left, &boxes[4]->top, &boxes[4]->right, &boxes[4]->bottom, &boxes[5]->left,
                        &boxes[5]->top, &boxes[5]->right, &boxes[5]->bottom) != 27 ||
            layout.rowHeight <= 0)
            return std::nullopt;
        // The list fills the control, which sits on the page at its margin of 8 pixels.
        const std::optional<CUIPoint> frame = WindowOrigin(window);
        if (!frame)
            return std::nullopt;
        const CUIPoint origin{frame->x + 8, frame->y + 8};
        for (CUIRect* box : boxes)
            *box = box->Offset(origin.x, origin.y);
        layout.statusLeft += origin.x;
        layout.statusRight += origin.x;
        return layout;
    }

    // The screen position of the top-left corner of a window's client area (no window manager: no
    // frame); nothing when it cannot be asked.
    std::optional<CUIPoint> WindowOrigin(const std::string& window) const {
        int x = 0, y = 0;
        const std::string geometry = Capture("xdotool getwindowgeometry " + window);
        const size_t position = geometry.find("Position: ");
        if (position == std::string::npos || std::sscanf(geometry.c_str() + position, "Position: %d,%d", &x, &y) != 2)
            return std::nullopt;
        return CUIPoint{x, y};
    }

    // A real click of the first button where a person would put the pointer.
    static bool Click(CUIPoint at, int button = 1) {
        const std::string x = std::to_string(at.x), y = std::to_string(at.y);
        return std::system(("xdotool mousemove " + std::to_string(at.x + 3) + " " + std::to_string(at.y + 2) +
                            " sleep 0.05 mousemove --sync " + x + " " + y + " sleep 0.1 click " +
                            std::to_string(button))
                               .c_str()) == 0;
    }

    // Every byte the server has read from the program's connections, counted as it arrives.
    static int64_t BytesIn(const RefServer& server) { return e2e::State(server)["bytes_in"].AsInt(); }

    testsupport::ScopedTempFolder m_folder{"px-window-e2e"};
    std::string m_config;
    std::string m_suppressions;
    std::unique_ptr<PrivateSessionBus> m_bus;
    std::map<std::string, std::string> m_bytes; // path -> the bytes written there
};

TEST_F(WindowProgram, UploadSpecWithAutomaticStartUploadsAndTheBusSaysWhenComplete) {
    // The server waits before it answers the first identifier request, so that the run is certainly
    // under way when the test first asks.
    RefServer server({"--fault", R"({"servlet":"GetImageID","delay":2,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string first = AddPicture("first.jpg", 70000);
    const std::string second = AddPicture("second.jpg", 120000);
    const std::string third = AddPicture("third.jpg", 90000);
    const std::string spec =
        m_folder.Put("spec.xml", "<upload><image><file>" + first + "</file></image><image><file>" + second +
                                     "</file><albumName>Trip</albumName></image><image><file>" + third +
                                     "</file></image></upload>");
    const std::string page = m_folder.Put(
        "page.html", "<object width=500 height=360><param name=Server value=" + server.Server() +
                         "><param name=AlbumName value=Everyday><param name=AlbumID value=42>"
                         "<param name=OverrideUserPrefs value=true><param name=Paused value=false></object>");

    std::unique_ptr<ChildProcess> program = Start(
        "host", {"window", "--page", page, "--param", "UploadSpec=" + spec, "--param", "SessionID=window",
                 "--param", "UID=window-user", "--param", "AuthenticationID=window-auth"});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    // The page around the object: 8 pixels on every side of its 500 x 360.
    EXPECT_NE(Capture("xdotool getwindowgeometry " + window).find("Geometry: 516x376"), std::string::npos)
        << Capture("xdotool getwindowgeometry " + window);

    // Not yet complete while the first picture waits for its identifier, then complete.
    ASSERT_TRUE(WaitFor([this] { return !AskComplete().empty(); }, kStartSeconds))
        << ReadText(ErrPath("host"));
    EXPECT_EQ(AskComplete(), "(0,)");
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds))
        << ReadText(ErrPath("host"));

    // Every picture once, complete, byte for byte. (The server keeps no album names: the album carried
    // forward is the control's unit tests' to check.)
    Json state = e2e::State(server);
    std::map<std::string, std::string> idByPath;
    for (const auto& [id, record] : state["pictures"].Members()) {
        if (!record["complete"].AsBool())
            continue;
        EXPECT_EQ(idByPath.count(record["filename"].AsString()), 0u) << record["filename"].AsString();
        idByPath[record["filename"].AsString()] = id;
        EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(record["filename"].AsString())) << id;
    }
    EXPECT_EQ(idByPath.size(), 3u);
    // The upload specification was read, so it is gone.
    EXPECT_FALSE(fs::exists(spec));

    // SIGTERM while the run's modal Transfer Status dialog is open: the dialog ends first, then the
    // tear-down runs, the column state is stored, and the program ends well.
    EXPECT_NE(Capture("timeout 30 xdotool search --sync --onlyvisible --name 'Transfer Status'"), "");
    EXPECT_FALSE(ColumnWidthStored());
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->GetState(), ChildProcess::State::Exited);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
    EXPECT_TRUE(ColumnWidthStored());
    EXPECT_EQ(AskComplete(), ""); // nobody serves the name any more
}

TEST_F(WindowProgram, AKilledWindowGoesOnWithItsUnfinishedPicturesWhenOpenedAgain) {
    // The first body stalls half-way at the server, so the kill lands in the middle of it.
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":400000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("interrupted.jpg", 900000);
    const std::vector<std::string> words = {"window", "--param", "Server=" + server.Server(), "--param",
                                            "SessionID=window", "--param", "UID=window-user", "--param",
                                            "AuthenticationID=window-auth", "--param", "OverrideUserPrefs=true",
                                            "--param", "Paused=false"};
    auto held = [&server, &path] {
        Json state = e2e::State(server);
        for (const auto& [id, record] : state["pictures"].Members())
            if (record["filename"].AsString() == path)
                return record["received"].AsInt();
        return int64_t{0};
    };
    {
        std::vector<std::string> first = words;
        first.push_back(path);
        std::unique_ptr<ChildProcess> program = Start("first", first);
        ASSERT_TRUE(WaitFor([&] { return held() >= 390000; }, kRunSeconds)) << ReadText(ErrPath("first"));
        program->Kill();
    }
    const int64_t before = held();

    // Opened again without the picture: the journal brings it back, and it goes on from the offset.
    std::unique_ptr<ChildProcess> again = Start("again", words);
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("again"));
    Json state = e2e::State(server);
    EXPECT_EQ(e2e::Requests(state, "GetImageID"), 1);
    EXPECT_EQ(e2e::Requests(state, "GetImageOffset"), 1);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_TRUE(record["complete"].AsBool());
    EXPECT_GE(before, 390000);
    EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(path));
    again->Stop(kRunSeconds);
    EXPECT_EQ(again->ExitCode(), 0) << ReadText(ErrPath("again"));
}

TEST_F(WindowProgram, TheWindowEmptyUploadingAndComplete) {
    if (testsupport::FindProgram("import").empty())
        GTEST_SKIP() << "import is not installed (scripts/deps installs imagemagick)";
    // The pointer out of the way, so that no tooltip of an earlier test's button is in the shots.
    EXPECT_EQ(std::system("xdotool mousemove 1000 740"), 0);
    // A slow link, so that the upload is certainly seen under way.
    RefServer server({"--fault", R"({"servlet":"UploadImage","slow":150000})"});
    ASSERT_TRUE(server.IsListening());
    std::vector<std::string> words = {"window", "--param", "Server=" + server.Server(), "--param",
                                      "AlbumName=Summer 2026", "--param", "OverrideUserPrefs=true",
                                      "--param", "Paused=false"};
    {
        std::unique_ptr<ChildProcess> empty = Start("empty", words);
        ASSERT_NE(WaitForWindow(), "") << ReadText(ErrPath("empty"));
        ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(0,)"; }, kStartSeconds));
        EXPECT_TRUE(Screenshot("window-empty"));
        empty->Stop(kRunSeconds);
        EXPECT_EQ(empty->ExitCode(), 0) << ReadText(ErrPath("empty"));
    }
    for (const char* name : {"harbour.jpg", "market.jpg", "lighthouse.jpg"})
        words.push_back(AddPicture(name, 250000));
    std::unique_ptr<ChildProcess> program = Start("uploading", words);
    ASSERT_NE(WaitForWindow(), "") << ReadText(ErrPath("uploading"));
    auto received = [&server] {
        Json state = e2e::State(server);
        int64_t bytes = 0;
        for (const auto& [id, record] : state["pictures"].Members())
            bytes += record["received"].AsInt();
        return bytes;
    };
    ASSERT_TRUE(WaitFor([&] { return received() > 100000; }, kRunSeconds)) << ReadText(ErrPath("uploading"));
    EXPECT_TRUE(Screenshot("window-uploading"));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("uploading"));
    EXPECT_NE(Capture("timeout 30 xdotool search --sync --onlyvisible --name 'Transfer Status'"), "");
    // Mapped is not yet painted: the shot is for a person, so it waits for the paint to land.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(Screenshot("window-complete"));
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("uploading"));
}

TEST_F(WindowProgram, PauseStopsTheTransfersAndResumeGoesOnFromTheServersOffset) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("paused.jpg", 2500000);
    // The program's own cap keeps its socket buffers nearly empty, so that what the server receives
    // is what the program sends.
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--trace", "ui", "--limit-rate", "200K", "--param", "Server=" + server.Server(),
                       "--param", "OverrideUserPrefs=true", "--param", "Paused=false", path});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([&] { return BytesIn(server) > 300000; }, kRunSeconds)) << ReadText(ErrPath("host"));
    std::optional<ListLayout> layout = ReadLayout("host", window);
    ASSERT_TRUE(layout) << ReadText(ErrPath("host"));
    ASSERT_TRUE(Click(layout->Centre(layout->pause)));

    // Once what was under way has landed, nothing more comes.
    int64_t settled = -1;
    ASSERT_TRUE(WaitFor(
        [&] {
            int64_t before = BytesIn(server);
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            settled = BytesIn(server);
            return settled == before;
        },
        kRunSeconds));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(BytesIn(server), settled) << "the server received bytes while paused";
    EXPECT_LT(settled, 2400000);
    EXPECT_EQ(AskComplete(), "(0,)");
    EXPECT_TRUE(Screenshot("window-paused"));

    // Resume shares the place of Pause.
    ASSERT_TRUE(Click(layout->Centre(layout->pause)));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("host"));
    Json state = e2e::State(server);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_TRUE(record["complete"].AsBool());
    EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(path));
    // The second body went on where the server had stopped receiving: one picture, two bodies.
    EXPECT_EQ(e2e::Requests(state, "GetImageID"), 1);
    EXPECT_GE(e2e::Requests(state, "UploadImage"), 2);
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, AFileDroppedFromAnotherProgramIsQueuedAndUploaded) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("dropped from elsewhere.jpg", 300000);
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--trace", "ui", "--param", "Server=" + server.Server(), "--param",
                       "OverrideUserPrefs=true", "--param", "Paused=false"});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(0,)"; }, kStartSeconds));
    std::optional<ListLayout> layout = ReadLayout("host", window);
    ASSERT_TRUE(layout) << ReadText(ErrPath("host"));

    // Another X client offers the file; the pointer drags it from there onto the list.
    ChildProcess source({"/usr/bin/python3", std::string(PX_SOURCE_DIR) + "/tests/ui/x_client.py", "drag", "700",
                         "300", path},
                        ChildProcess::Options{{}, ErrPath("source"), ErrPath("source")});
    ASSERT_TRUE(source.Started());
    const CUIPoint target = layout->Centre(layout->rows);
    const std::string script = "xdotool search --sync --onlyvisible --name 'drag source' >/dev/null && "
                               "xdotool sleep 0.5 mousemove --sync 740 340 sleep 0.2 mousedown 1 sleep 0.2 "
                               "mousemove --sync 750 350 sleep 0.2 mousemove --sync 600 300 sleep 0.2 "
                               "mousemove --sync " +
                               std::to_string(target.x + 20) + " " + std::to_string(target.y + 10) +
                               " sleep 0.3 mousemove --sync " + std::to_string(target.x) + " " +
                               std::to_string(target.y) + " sleep 1.0 mouseup 1";
    ASSERT_EQ(std::system(("timeout 30 sh -c " + ShellQuote(script)).c_str()), 0) << ReadText(ErrPath("source"));

    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("host"));
    Json state = e2e::State(server);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_EQ(record["filename"].AsString(), path);
    EXPECT_TRUE(record["complete"].AsBool());
    EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(path));
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, RemoveAnsweredYesTakesThePictureOutAndStartSendsTheRest) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string removed = AddPicture("removed.jpg", 80000);
    const std::string kept = AddPicture("kept.jpg", 90000);
    // Without automatic start both wait, so the question comes before anything is sent.
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--trace", "ui", "--param", "Server=" + server.Server(), "--param",
                       "OverrideUserPrefs=true", "--param", "Paused=true", removed, kept});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(0,)"; }, kStartSeconds));
    std::optional<ListLayout> layout = ReadLayout("host", window);
    ASSERT_TRUE(layout) << ReadText(ErrPath("host"));

    // The first row, then Remove, then Yes (No is the box's default button).
    ASSERT_TRUE(Click(layout->Row(0)));
    ASSERT_TRUE(Click(layout->Centre(layout->remove)));
    ASSERT_EQ(std::system(("timeout 30 sh -c " + ShellQuote(gui::PressKeysIn("^Remove\\?$", "alt+y"))).c_str()), 0)
        << ReadText(ErrPath("host"));
    // Start shares the place of Pause; the run it starts holds only the picture that is left.
    ASSERT_TRUE(WaitFor([&] { return Capture("xdotool search --onlyvisible --name '^Remove'").empty(); }, 30));
    ASSERT_TRUE(Click(layout->Centre(layout->pause)));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("host"));
    Json state = e2e::State(server);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    const auto& [id, record] = state["pictures"].Members()[0];
    EXPECT_EQ(record["filename"].AsString(), kept);
    EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(kept));
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, AFailedPicturesStatusOpensTransferFailedWithItsError) {
    if (testsupport::FindProgram("xclip").empty())
        GTEST_SKIP() << "xclip is not installed (scripts/deps installs it)";
    // Every identifier request is refused with a code that ends the picture at once.
    RefServer server({"--fault", R"({"servlet":"GetImageID","error":3,"message":"Album closed"})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("refused.jpg", 60000);
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--trace", "ui", "--param", "Server=" + server.Server(), "--param",
                       "OverrideUserPrefs=true", "--param", "Paused=false", path});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    std::optional<ListLayout> layout = ReadLayout("host", window);
    ASSERT_TRUE(layout) << ReadText(ErrPath("host"));

    // The run's end shows the Transfer Status dialog first (its failure variant), and the page is
    // told the upload is not complete: no picture went. The dialog goes with Escape.
    EXPECT_NE(Capture("timeout 30 xdotool search --sync --onlyvisible --name '^Transfer Status$'"), "")
        << ReadText(ErrPath("host"));
    EXPECT_EQ(AskComplete(), "(0,)");
    ASSERT_EQ(std::system(("timeout 30 sh -c " + ShellQuote(gui::PressKeysIn("^Transfer Status$", "Escape"))).c_str()),
              0);
    ASSERT_TRUE(WaitFor(
        [&] { return Capture("xdotool search --onlyvisible --name '^Transfer Status$'").empty(); }, 30));
    ASSERT_TRUE(Click(layout->Status(0)));
    // The dialog names the picture; its text, copied as a person would, ends with the error's code.
    const std::string dialog =
        Capture("timeout 30 xdotool search --sync --onlyvisible --name '^Transfer Failed: refused.jpg$' | tail -1");
    ASSERT_NE(dialog, "") << ReadText(ErrPath("host"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // mapped is not yet painted
    // Selected with the mouse from the first line to past the last, as a person would to copy it.
    const std::string id = dialog.substr(0, dialog.find('\n'));
    const std::string select = "xdotool mousemove --window " + id + " 14 14 mousedown 1 sleep 0.2 mousemove --window " +
                               id + " 200 150 sleep 0.2 mousemove --window " + id + " 400 185 sleep 0.2 mouseup 1";
    ASSERT_EQ(std::system(("timeout 30 sh -c " + ShellQuote(select)).c_str()), 0) << ReadText(ErrPath("host"));
    std::string copied;
    ASSERT_TRUE(WaitFor(
        [&] {
            copied = Capture("timeout 5 xclip -o -selection primary");
            return copied.find("Error Reference Code:") != std::string::npos;
        },
        30))
        << copied;
    EXPECT_EQ(copied.find("Please check the Error Reference Code(s) listed below."), 0u) << copied;
    // The server's own words for the refusal are the picture's error.
    EXPECT_NE(copied.find("Error Reference Code:\r\nAlbum closed"), std::string::npos) << copied;
    EXPECT_TRUE(Screenshot("window-transfer-failed"));
    ASSERT_EQ(std::system(("timeout 30 sh -c " +
                           ShellQuote(gui::PressKeysIn("^Transfer Failed: refused.jpg$", "Escape")))
                              .c_str()),
              0);
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, ChoosePicturesQueuesExactlyTheTwoTickedAndRemembersTheirFolder) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string folder = m_folder.Path() + "/pictures";
    const std::string first = AddPicture("a harbour.jpg", 60000);
    const std::string skipped = AddPicture("b market.jpg", 60000);
    const std::string third = AddPicture("c lighthouse.jpg", 60000);
    // The list's browse folder is where the browser opens.
    Capture(std::string(PXUPLOAD_PATH) + " prefs set browseDir " + ShellQuote(folder));
    ASSERT_NE(Capture(std::string(PXUPLOAD_PATH) + " prefs").find(folder), std::string::npos);
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--trace", "ui", "--param", "Server=" + server.Server(), "--param",
                       "OverrideUserPrefs=true", "--param", "Paused=true"});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(0,)"; }, kStartSeconds));
    std::optional<ListLayout> layout = ReadLayout("host", window);
    ASSERT_TRUE(layout) << ReadText(ErrPath("host"));

    ASSERT_TRUE(Click(layout->Centre(layout->choose)));
    std::string browser = Capture("timeout 30 xdotool search --sync --onlyvisible --name '^Choose Pictures$' | tail -1");
    while (!browser.empty() && browser.back() == '\n')
        browser.pop_back();
    ASSERT_NE(browser, "") << ReadText(ErrPath("host"));
    // Its layout as it traced it, in its client area.
    CUIRect grid, add;
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string trace = ReadText(ErrPath("host"));
            const size_t at = trace.rfind("picture browser layout: ");
            return at != std::string::npos &&
                   std::sscanf(trace.c_str() + at, "picture browser layout: grid %d,%d,%d,%d add %d,%d,%d,%d",
                               &grid.left, &grid.top, &grid.right, &grid.bottom, &add.left, &add.top, &add.right,
                               &add.bottom) == 8 &&
                   grid.Width() >= CPictureGrid::kCellWidth;
        },
        kStartSeconds));
    std::this_thread::sleep_for(std::chrono::milliseconds(700)); // mapped is not yet painted
    std::optional<CUIPoint> origin = WindowOrigin(browser);
    ASSERT_TRUE(origin);
    const int columns = CPictureGrid::GetColumns(grid.Width());
    auto tick = [&](size_t index) {
        const CUIRect box = CPictureGrid::GetTickRect().Offset(CPictureGrid::GetCellRect(index, columns).left,
                                                               CPictureGrid::GetCellRect(index, columns).top);
        return CUIPoint{origin->x + grid.left + (box.left + box.right) / 2,
                        origin->y + grid.top + (box.top + box.bottom) / 2};
    };
    // The folder lists its pictures by name: the first and the third are ticked.
    ASSERT_TRUE(Click(tick(0)));
    ASSERT_TRUE(Click(tick(2)));
    EXPECT_TRUE(Screenshot("browser-in-window"));
    ASSERT_TRUE(Click({origin->x + (add.left + add.right) / 2, origin->y + (add.top + add.bottom) / 2}));
    ASSERT_TRUE(WaitFor(
        [&] { return Capture("xdotool search --onlyvisible --name '^Choose Pictures$'").empty(); }, 30));

    // Queued and waiting: Start sends exactly those two.
    ASSERT_TRUE(Click(layout->Centre(layout->pause)));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("host"));
    Json state = e2e::State(server);
    std::vector<std::string> sent;
    for (const auto& [id, record] : state["pictures"].Members()) {
        sent.push_back(record["filename"].AsString());
        EXPECT_TRUE(server.StoredBytes(id) == m_bytes.at(record["filename"].AsString()));
    }
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (std::vector<std::string>{first, third})) << "not " << skipped;
    // The folder is a recent folder now.
    const std::string prefs = Capture(std::string(PXUPLOAD_PATH) + " prefs");
    const size_t recent = prefs.find("Recent");
    ASSERT_NE(recent, std::string::npos) << prefs;
    EXPECT_NE(prefs.find(folder, recent), std::string::npos) << prefs;
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, AManualProxyChosenInThePreferencesCarriesTheNextUploads) {
    if (!loopback::Installed("tinyproxy"))
        GTEST_SKIP() << "tinyproxy is not installed (scripts/deps installs it)";
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const uint16_t proxyPort = loopback::FreePort();
    const std::string proxyLog = m_folder.Path() + "/tinyproxy.log";
    const std::string conf = m_folder.Put(
        "tinyproxy.conf", "Port " + std::to_string(proxyPort) +
                              "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\nPidFile \"" +
                              m_folder.Path() + "/tinyproxy.pid\"\nLogFile \"" + proxyLog + "\"\nLogLevel Info\n");
    loopback::Child proxy({"tinyproxy", "-d", "-c", conf}, proxyPort);
    ASSERT_TRUE(loopback::Accepts(proxyPort));

    const std::string path = AddPicture("through the proxy.jpg", 120000);
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--trace", "ui", "--param", "Server=" + server.Server(), "--param",
                       "OverrideUserPrefs=true", "--param", "Paused=true", path});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(0,)"; }, kStartSeconds));
    std::optional<ListLayout> layout = ReadLayout("host", window);
    ASSERT_TRUE(layout) << ReadText(ErrPath("host"));

    // The Preferences link, then the manual proxy with its address and port, as a person types them.
    ASSERT_TRUE(Click(layout->Centre(layout->preferences)));
    std::string dialog = Capture("timeout 30 xdotool search --sync --onlyvisible --name '^Preferences$' | tail -1");
    while (!dialog.empty() && dialog.back() == '\n')
        dialog.pop_back();
    ASSERT_NE(dialog, "") << ReadText(ErrPath("host"));
    const std::string typing = gui::PressKeysIn("^Preferences$", "alt+m") +
                               " && xdotool key alt+a && xdotool type 127.0.0.1 && xdotool key alt+p && "
                               "xdotool type " +
                               std::to_string(proxyPort) + " && xdotool sleep 0.3 key Return";
    ASSERT_EQ(std::system(("timeout 30 sh -c " + ShellQuote(typing)).c_str()), 0) << typing;
    ASSERT_TRUE(
        WaitFor([&] { return Capture("xdotool search --onlyvisible --name '^Preferences$'").empty(); }, 30))
        << "the dialog did not end with OK";
    const std::string prefs = Capture(std::string(PXUPLOAD_PATH) + " prefs");
    EXPECT_NE(prefs.find("manual"), std::string::npos) << prefs;

    // Start: the picture's requests go through the proxy, which logs each one it forwards.
    ASSERT_TRUE(Click(layout->Centre(layout->pause)));
    ASSERT_TRUE(WaitFor([this] { return AskComplete() == "(1,)"; }, kRunSeconds)) << ReadText(ErrPath("host"));
    const std::string log = ReadText(proxyLog);
    for (const char* servlet : {"GetImageID", "UploadImage"})
        EXPECT_NE(log.find(std::string("/") + servlet + " HTTP/1.1"), std::string::npos) << servlet << "\n" << log;
    Json state = e2e::State(server);
    ASSERT_EQ(state["pictures"].Members().size(), 1u);
    EXPECT_TRUE(server.StoredBytes(state["pictures"].Members()[0].first) == m_bytes.at(path));
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, ASecondHostRunsWithoutTheBusName) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    std::unique_ptr<ChildProcess> first = Start("first", {"window", "--param", "Server=" + server.Server()});
    ASSERT_TRUE(WaitFor([this] { return !AskComplete().empty(); }, kStartSeconds))
        << ReadText(ErrPath("first"));
    EXPECT_EQ(AskComplete(), "(0,)"); // nothing added yet

    std::unique_ptr<ChildProcess> second =
        Start("second", {"window", "--param", "Server=" + server.Server()});
    ASSERT_TRUE(WaitFor([&] { return !ReadText(ErrPath("second")).empty(); }, kStartSeconds));
    EXPECT_EQ(ReadText(ErrPath("second")),
              "pxupload: could not take the session-bus name example.pixolane.Uploader: the name is owned by "
              "another program; isUploadComplete is not offered\n");
    EXPECT_EQ(second->GetState(), ChildProcess::State::Running);
    // The first still answers.
    EXPECT_EQ(AskComplete(), "(0,)");

    second->Stop(kRunSeconds);
    EXPECT_EQ(second->ExitCode(), 0) << ReadText(ErrPath("second"));
    first->Stop(kRunSeconds);
    EXPECT_EQ(first->ExitCode(), 0) << ReadText(ErrPath("first"));
}

TEST_F(WindowProgram, ClosingTheWindowTearsDownAndExitsWithZero) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string picture = AddPicture("dropped.jpg", 50000);
    // A path given on the command line is added as if dropped; without automatic start it waits.
    std::unique_ptr<ChildProcess> program =
        Start("host", {"window", "--param", "Server=" + server.Server(), "--param", "OverrideUserPrefs=true",
                       "--param", "Paused=true", picture});
    const std::string window = WaitForWindow();
    ASSERT_NE(window, "") << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([this] { return !AskComplete().empty(); }, kStartSeconds));
    EXPECT_EQ(AskComplete(), "(0,)");

    ASSERT_EQ(
        std::system(("python3 " + ShellQuote(std::string(PX_SOURCE_DIR) + "/tests/e2e/close_window.py") +
                     " " + window)
                        .c_str()),
        0);
    ASSERT_TRUE(program->Wait(kRunSeconds)) << ReadText(ErrPath("host"));
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
    EXPECT_TRUE(ColumnWidthStored());
    // Paused throughout: nothing was sent.
    EXPECT_EQ(e2e::Requests(e2e::State(server), "UploadImage"), 0);
}

TEST_F(WindowProgram, AServerThatDoesNotResolveOffersThePreferencesThenDisablesTheControl) {
    // No Server: "http://" names no host, so the check fails as a look-up would, at once.
    std::unique_ptr<ChildProcess> program = Start("host", {"window", "--param", "OverrideUserPrefs=true"});
    ASSERT_NE(WaitForWindow(), "") << ReadText(ErrPath("host"));
    // The windows in their order: the failure (Return), the Preferences dialog (cancelled with
    // Escape, which gives up with the look-up's error), and the initialisation error (Return).
    const std::pair<const char*, const char*> answers[] = {
        {"Host not found", "Return"}, {"^Preferences$", "Escape"}, {"Initialization Error", "Return"}};
    for (const auto& [title, keys] : answers)
        ASSERT_EQ(std::system(("timeout 30 sh -c " + ShellQuote(gui::PressKeysIn(title, keys))).c_str()), 0)
            << title << "\n"
            << ReadText(ErrPath("host"));
    ASSERT_TRUE(WaitFor([this] { return !AskComplete().empty(); }, kStartSeconds));
    EXPECT_EQ(AskComplete(), "(0,)");
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("host"));
}

TEST_F(WindowProgram, AloneWithADisplayTheProgramIsTheWindow) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    std::unique_ptr<ChildProcess> program = Start("bare", {"--param", "Server=" + server.Server()});
    ASSERT_NE(WaitForWindow(), "") << ReadText(ErrPath("bare"));
    ASSERT_TRUE(WaitFor([this] { return !AskComplete().empty(); }, kStartSeconds));
    program->Stop(kRunSeconds);
    EXPECT_EQ(program->ExitCode(), 0) << ReadText(ErrPath("bare"));
}

TEST_F(WindowProgram, WithoutADisplayItSaysSoAndExitsWithTwo) {
    ChildProcess::Options options = Environment("nodisplay");
    options.environment.push_back({"DISPLAY", std::nullopt});
    options.environment.push_back({"WAYLAND_DISPLAY", std::nullopt});
    std::unique_ptr<ChildProcess> program = Start("nodisplay", {"window"}, options);
    ASSERT_TRUE(program->Wait(kStartSeconds));
    EXPECT_EQ(program->ExitCode(), 2);
    EXPECT_EQ(ReadText(ErrPath("nodisplay")),
              "pxupload: no display: the window needs one (DISPLAY); 'pxupload upload' works without\n");
    EXPECT_EQ(ReadText(OutPath("nodisplay")), "");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
