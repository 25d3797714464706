// The host program as a user runs it: its exit status and what it prints, with a registry store of
// its own in a temporary XDG_CONFIG_HOME (on Windows, the user's preferences moved aside meanwhile).

#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/child_process.h"
#include "tests/support/e2e_support.h"
#include "tests/support/scoped_temp_folder.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr double kRunSeconds = 60.0; // longest run of the program before the test gives up on it

struct Result {
    int status; // -1 when the program did not exit by itself in time
    std::string out;
    std::string err;
};

// What the program wrote: text, whose lines end in CR LF on Windows; read as "\n" once every line
// is seen to.
std::string ReadText(const std::string& path) {
    std::string text = testsupport::ReadWholeFile(path);
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

// A path as the program names it: in the system's own form (on Windows with backslashes).
std::string Native(fs::path path) {
    return path.make_preferred().string();
}

using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

class CommandLineProgram : public ::testing::Test {
protected:
    void SetUp() override {
        m_temp = std::make_unique<testsupport::ScopedTempFolder>("pxupload-cli");
        ASSERT_FALSE(m_temp->Path().empty());
        m_folder = m_temp->Path();
        m_state = std::make_unique<e2e::ProgramStateAside>();
    }
    void TearDown() override {
        m_state.reset();
        m_temp.reset();
    }

    // Without a display: bare pxupload would open the host window when there is one.
    Result Run(const std::vector<std::string>& words, const Environment& extra = {}) {
        testsupport::ChildProcess::Options options;
        options.environment = {{"XDG_CONFIG_HOME", m_folder.string()},
                               {"XDG_STATE_HOME", (m_folder / "state").string()}};
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                                 "DISPLAY", "WAYLAND_DISPLAY"})
            options.environment.emplace_back(name, std::nullopt);
        options.environment.insert(options.environment.end(), extra.begin(), extra.end());
        const std::string out = (m_folder / "out.txt").string(), err = (m_folder / "err.txt").string();
        options.outputPath = out;
        options.errorPath = err;
        const std::string in = (m_folder / "in.txt").string();
        std::ofstream(in).flush(); // nothing to read
        std::vector<std::string> argv = {PXUPLOAD_PATH};
        argv.insert(argv.end(), words.begin(), words.end());
        int status = -1;
        {
            testsupport::ChildProcess program(std::move(argv), options, in);
            EXPECT_TRUE(program.Started());
            if (program.Wait(kRunSeconds))
                status = program.ExitCode();
        }
        return {status, ReadText(out), ReadText(err)};
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_temp;
    std::unique_ptr<e2e::ProgramStateAside> m_state;
    fs::path m_folder;
};

} // namespace

TEST_F(CommandLineProgram, VersionAndHelp) {
    Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "pxupload 2.0.4.0\n");

    Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: pxupload [OPTIONS] COMMAND [ARGUMENTS]\n\nCommands:\n"
                             "  upload PATH...         upload the pictures",
                             0),
              0u)
        << help.out;
    EXPECT_NE(help.out.find("  --version              show the version\n\n"
                            "Parameters (names are case-sensitive) and their defaults:\n"
                            "  Server                    (empty)\n"),
              std::string::npos)
        << help.out;
    // Every parameter with its default, one per line.
    for (const char* row : {"  Server                    (empty)\n", "  MaxConnections            4\n",
                            "  Timeout                   0\n", "  SendStats                 false\n",
                            "  IconSize                  48\n", "  BackgroundColor           #eeeeee\n",
                            "  ALinkColor                #ff00ff\n", "  UploadSpec                (empty)\n"})
        EXPECT_NE(help.out.find(row), std::string::npos) << row;
}

TEST_F(CommandLineProgram, UsageErrorsExitWithTwo) {
    Result unknown = Run({"config", "--param", "Bogus=1"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown parameter 'Bogus' in --param; the parameters are: Server, SessionID"),
              std::string::npos)
        << unknown.err;
    // The reason, then where to look, and nothing on standard output.
    const std::string missing = Native(m_folder / "missing.html");
    struct Refusal {
        std::vector<std::string> words;
        std::string err;
    } refusals[] = {
        {{}, "pxupload: no command given\nTry 'pxupload --help'.\n"},
        {{"frobnicate"}, "pxupload: unknown command 'frobnicate'\nTry 'pxupload --help'.\n"},
        {{"config", "--page", missing},
         "pxupload: can't read the page '" + missing + "'\nTry 'pxupload --help'.\n"},
        {{"properties"}, "pxupload: properties needs at least one PATH\nTry 'pxupload --help'.\n"},
        {{"prefs", "set", "autostart"},
         "pxupload: prefs takes no arguments, 'set NAME VALUE' or 'unset NAME'\nTry 'pxupload --help'.\n"},
    };
    for (const Refusal& refusal : refusals) {
        Result result = Run(refusal.words);
        EXPECT_EQ(result.status, 2) << refusal.err;
        EXPECT_EQ(result.err, refusal.err);
        EXPECT_EQ(result.out, "");
    }
    std::ofstream(m_folder / "page.html") << "<object><param name=\"Sever\" value=\"x\"></object>";
    Result inPage = Run({"config", "--page", Native(m_folder / "page.html")});
    EXPECT_EQ(inPage.status, 2);
    EXPECT_EQ(inPage.err.rfind("pxupload: unknown parameter 'Sever' in the page '" +
                                   Native(m_folder / "page.html") + "'; the parameters are: Server, ",
                               0),
              0u)
        << inPage.err;
}

TEST_F(CommandLineProgram, ConfigReadsThePageThenTheOptions) {
    std::ofstream(m_folder / "page.html") << "<object><param name=\"Server\" value=\"up.example:81\">"
                                             "<param name=\"MaxConnections\" value=\"9\">"
                                             "<param name=\"PageColor\" value=\"Red\"></object>";
    Result config = Run({"config", "--page", Native(m_folder / "page.html"), "--param", "Timeout=2500"});
    ASSERT_EQ(config.status, 0) << config.err;
    EXPECT_NE(config.out.find("Server = \"up.example:81\"\n"), std::string::npos);
    EXPECT_NE(config.out.find("PageColor = \"Red\"  (#ff0000)\n"), std::string::npos);
    EXPECT_NE(config.out.find("Sender threads: 4\n"), std::string::npos);
    EXPECT_NE(config.out.find("Time-out: 2.5 s\n"), std::string::npos);
    EXPECT_NE(config.out.find("Base URI: http://up.example:81/\n"), std::string::npos);
    EXPECT_NE(config.out.find("User-Agent: Pixolane Plugin/2.40 ["), std::string::npos);

    // A later --param wins over the page.
    Result later = Run({"config", "--page", Native(m_folder / "page.html"), "--param", "Server=other"});
    EXPECT_NE(later.out.find("Server = \"other\"\n"), std::string::npos);
}

TEST_F(CommandLineProgram, PrefsSetUnsetAndRefuse) {
    Result listing = Run({"prefs"});
    ASSERT_EQ(listing.status, 0) << listing.err;
    EXPECT_NE(listing.out.find("  autostart              \"true\"  (default)\n"), std::string::npos)
        << listing.out;
    EXPECT_EQ(listing.out.rfind("Preferences (HKEY_CURRENT_USER\\Software\\", 0), 0u) << listing.out;
    EXPECT_NE(listing.out.find("\n\nRecent folders:\n  (none)\n\nSystem proxy settings:\n  http: direct\n"
                               "  https: direct\n"),
              std::string::npos)
        << listing.out;

    EXPECT_EQ(Run({"prefs", "set", "autostart", "false"}).status, 0);
    EXPECT_NE(Run({"prefs"}).out.find("  autostart              \"false\"\n"), std::string::npos);
    EXPECT_EQ(Run({"prefs", "unset", "autostart"}).status, 0);
    EXPECT_NE(Run({"prefs"}).out.find("  autostart              \"true\"  (default)\n"), std::string::npos);

    struct Refusal {
        std::vector<std::string> words;
        const char* message;
    } refusals[] = {
        {{"prefs", "set", "autostart", "TRUE"}, "autostart takes \"true\" or \"false\""},
        {{"prefs", "set", "proxyState", "auto"}, "proxyState takes \"system\", \"manual\" or \"none\""},
        {{"prefs", "set", "proxyState", "manual"}, "You must supply a proxy host name or address"},
        {{"prefs", "set", "proxyPort", "0"}, "The port must be a number between 1 and 65535"},
        {{"prefs", "set", "proxyPort", "65536"}, "The port must be a number between 1 and 65535"},
        {{"prefs", "set", "nope", "1"}, "unknown preference 'nope'"},
    };
    for (const Refusal& refusal : refusals) {
        Result result = Run(refusal.words);
        EXPECT_EQ(result.status, 2) << refusal.message;
        EXPECT_NE(result.err.find(refusal.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(Run({"prefs", "set", "proxyAddress", "127.0.0.1"}).status, 0);
    EXPECT_EQ(Run({"prefs", "set", "proxyPort", "3128"}).status, 0);
    EXPECT_EQ(Run({"prefs", "set", "proxyState", "manual"}).status, 0);
    EXPECT_NE(Run({"prefs"}).out.find("  proxyState             \"manual\"\n"), std::string::npos);
    EXPECT_EQ(Run({"prefs", "frob"}).status, 2);

#ifndef _WIN32
    // The system settings come from the environment when the store has no Internet Settings key
    // (Windows has the key itself, whatever the environment says).
    Result withProxy = Run({"prefs"}, {{"http_proxy", "http://127.0.0.1:3128/"}});
    EXPECT_NE(withProxy.out.find("  http: 127.0.0.1:3128\n"), std::string::npos) << withProxy.out;
#endif
}

TEST_F(CommandLineProgram, PrefsHideTheProxyPasswordAndReadValuesAsValues) {
    const std::string row = "  proxyPassword          ";
    EXPECT_NE(Run({"prefs"}).out.find(row + "\"\"  (default)\n"), std::string::npos);
    ASSERT_EQ(Run({"prefs", "set", "proxyPassword", "s3cret-word"}).status, 0);
    Result hidden = Run({"prefs"});
    EXPECT_NE(hidden.out.find(row + "\"********\"\n"), std::string::npos) << hidden.out;
    EXPECT_EQ(hidden.out.find("s3cret-word"), std::string::npos) << hidden.out;
    Result shown = Run({"--show-password", "prefs"});
    EXPECT_NE(shown.out.find(row + "\"s3cret-word\"\n"), std::string::npos) << shown.out;
    EXPECT_NE(Run({"prefs", "--show-password"}).out.find("\"s3cret-word\""), std::string::npos);
    ASSERT_EQ(Run({"prefs", "unset", "proxyPassword"}).status, 0);
    EXPECT_NE(Run({"prefs"}).out.find(row + "\"\"  (default)\n"), std::string::npos);

    // A value that starts with a dash is the preference's value, checked as such, not an option.
    Result negative = Run({"prefs", "set", "proxyPort", "-1"});
    EXPECT_EQ(negative.status, 2);
    EXPECT_NE(negative.err.find("The port must be a number between 1 and 65535"), std::string::npos)
        << negative.err;
    EXPECT_EQ(negative.err.find("unknown option"), std::string::npos) << negative.err;
    ASSERT_EQ(Run({"prefs", "set", "proxyAddress", "--proxy.example"}).status, 0);
    EXPECT_NE(Run({"prefs"}).out.find("  proxyAddress           \"--proxy.example\"\n"), std::string::npos);
}

TEST_F(CommandLineProgram, PropertiesOfPicturesAndOtherFiles) {
    using namespace testpictures;
    JpegOptions options;
    options.width = 320;
    options.height = 200;
    options.app1 = {CameraExif(ByteOrder::Big).Build()};
    fs::path picture = m_folder / "harbour.jpg";
    WriteFile(Native(picture), EncodeJpeg(options));
    std::ofstream(m_folder / "notes.txt") << "not a picture";

    Result result = Run({"properties", Native(picture), Native(m_folder / "notes.txt")}, {{"TZ", "UTC"}});
    EXPECT_EQ(result.status, 1); // one path was not a picture
    EXPECT_EQ(result.out.rfind("harbour.jpg Properties\nFile\n  Name:      harbour.jpg\n  Location:  ", 0),
              0u)
        << result.out;
    EXPECT_NE(result.out.find("\nImage\n  Type:      "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\nDetails\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  Location:  " + Native(m_folder) + "\n"), std::string::npos);
    EXPECT_NE(result.out.find("  Size:      320 x 200\n"), std::string::npos);
    EXPECT_NE(result.out.find("  Colors:    Millions (24 bits)\n"), std::string::npos);
    EXPECT_NE(result.out.find("  Camera Make: Pixolane\n"), std::string::npos);
    EXPECT_NE(result.out.find("  Camera Orientation: Upper-Right\n"), std::string::npos);
    EXPECT_NE(result.err.find("notes.txt: not a picture"), std::string::npos) << result.err;

    EXPECT_EQ(Run({"properties", Native(picture)}).status, 0);
    EXPECT_EQ(Run({"properties"}).status, 2);
}
