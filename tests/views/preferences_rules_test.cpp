// The preferences dialog's decisions without its window: the system proxy's description from plain
// values and from the Internet settings in a registry store of the test's own, the fields as the
// stored preferences open them, what is enabled, the manual proxy's checks, what OK stores, and what
// a commit does to a real upload session against the reference server.
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "foundation/registry_key.h"
#include "net/proxy_settings.h"
#include "net/system_proxy_settings.h"
#include "net/win_sock_library.h"
#include "platform/registry.h"
#include "tests/foundation/registry_test_store.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/ref_server.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_job.h"
#include "upload/upload_queue.h"
#include "views/preferences_rules.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char* kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                           "HTTPS_PROXY", "no_proxy",   "NO_PROXY"};

// Each test has an empty registry store, no proxy variables and no override, all put back after.
class PreferencesRules : public RegistryTestStore {
protected:
    void SetUp() override {
        RegistryTestStore::SetUp();
        for (const char* name : kProxyVariables) {
            if (const char* value = std::getenv(name))
                m_savedVariables.emplace_back(name, value);
            unsetenv(name);
        }
        SetProxySettings(nullptr);
    }
    void TearDown() override {
        SetProxySettings(nullptr);
        for (const auto& [name, value] : m_savedVariables)
            setenv(name.c_str(), value.c_str(), 1);
        RegistryTestStore::TearDown();
    }

    static void WriteInternetSettings(int enable, const std::string& server) {
        CRegistryKey key(kRootCurrentUser, kInternetSettingsKey, CRegistryKey::Open::Create);
        key.WriteInteger("ProxyEnable", enable);
        key.WriteString("ProxyServer", server);
    }

    static CNameValueDocument Stored() {
        CNameValueDocument document;
        LoadPreferences(document);
        return document;
    }

private:
    std::vector<std::pair<std::string, std::string>> m_savedVariables;
};

TEST_F(PreferencesRules, TheSystemProxyDescriptionFromWhatTheSettingsSay) {
    struct Row {
        bool enabled;
        const char* host;
        int port;
        const char* text;
        bool usable;
    };
    const Row kRows[] = {
        {false, "proxy1", 8080, "<disabled>", false},             // not enabled: whatever the host
        {true, "proxy1", 8080, "proxy1:8080", true},              // host and port
        {true, "proxy1", 0, "<settings are invalid>", false},     // no usable port
        {true, "proxy1", 70000, "<settings are invalid>", false}, // above the last port
        {true, "proxy1", -1, "<settings are invalid>", false},    // below the first
        {true, "", 8080, "<settings are invalid>", false},        // no host
        {true, "p", 65535, "p:65535", true},                      // the last port is a port
        {true, "p", 1, "p:1", true},                              // and the first
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message() << row.enabled << " " << row.host << " " << row.port);
        SystemProxyDescription description = DescribeSystemProxy(row.enabled, row.host, row.port);
        EXPECT_EQ(description.text, row.text);
        EXPECT_EQ(description.usable, row.usable);
    }
}

TEST_F(PreferencesRules, TheSystemProxyDescriptionFromTheInternetSettings) {
    struct Row {
        int enable;
        const char* server;
        const char* text;
        bool usable;
    };
    const Row kRows[] = {
        {1, "host", "host:80", true},                       // no port: the scheme's default
        {1, "host:0", "<settings are invalid>", false},     // port 0 counts as none
        {1, "host:70000", "<settings are invalid>", false}, // and so does one too large
        {1, "http=h:8080;https=s:443", "h:8080", true},     // the entry for http
        {1, "ftp=f:21;https=s:443", "<disabled>", false},   // no entry for http: not enabled
        {0, "proxy1:8080", "<disabled>", false},            // switched off
        {1, "https=s:443;http=h2:3128", "h2:3128", true},   // wherever the entry stands
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.server);
        WriteInternetSettings(row.enable, row.server);
        SystemProxyDescription description = DescribeSystemProxy(CSystemProxySettings());
        EXPECT_EQ(description.text, row.text);
        EXPECT_EQ(description.usable, row.usable);
    }
    // An override installed from the preferences says nothing about the system's own settings.
    WriteInternetSettings(0, "");
    SetProxySettings(std::make_unique<CManualProxySettings>("manual.example", 3128));
    EXPECT_EQ(DescribeSystemProxy(CSystemProxySettings()).text, "<disabled>");
}

TEST_F(PreferencesRules, TheFieldsOpenWithTheStoredValues) {
    CNameValueDocument stored;
    PreferencesState fresh = MakeOpeningState(stored, "/pictures/now", true);
    // Nothing stored: start automatically, alert, the picture browser, the last folder, the system.
    EXPECT_TRUE(fresh.autoStart);
    EXPECT_TRUE(fresh.showAlert);
    EXPECT_FALSE(fresh.oldFileDialog);
    EXPECT_FALSE(fresh.browseDirSpecified);
    EXPECT_EQ(fresh.proxy, ProxyChoice::System);
    EXPECT_EQ(fresh.folder, "/pictures/now");

    stored.SetValue("autostart", "false");
    stored.SetValue("alertDone", "true");
    stored.SetValue("oldfiledialog", "true");
    stored.SetValue("browsedirspecified", "true");
    stored.SetValue("browseDir", "/pictures/stored");
    stored.SetValue("proxyAddress", "proxy.example");
    stored.SetValue("proxyPort", "3128");
    stored.SetValue("proxyUsername", "ann");
    stored.SetValue("proxyPassword", "secret");
    PreferencesState state = MakeOpeningState(stored, "/pictures/now", true);
    EXPECT_FALSE(state.autoStart);
    EXPECT_FALSE(state.showAlert);
    EXPECT_TRUE(state.oldFileDialog);
    EXPECT_TRUE(state.browseDirSpecified);
    // The folder edit shows the list's current folder, not the stored one.
    EXPECT_EQ(state.folder, "/pictures/now");
    EXPECT_EQ(state.address, "proxy.example");
    EXPECT_EQ(state.port, "3128");
    EXPECT_EQ(state.username, "ann");
    EXPECT_EQ(state.password, "secret");

    struct Row {
        const char* proxyState; // null: absent
        bool systemUsable;
        ProxyChoice choice;
    };
    const Row kRows[] = {
        {nullptr, true, ProxyChoice::System},  // absent reads as the system's settings
        {nullptr, false, ProxyChoice::Direct}, // which cannot be chosen when unusable
        {"system", true, ProxyChoice::System},
        {"system", false, ProxyChoice::Direct},
        {"", false, ProxyChoice::Direct},
        {"manual", false, ProxyChoice::Manual},
        {"none", true, ProxyChoice::Direct},
        {"bogus", true, ProxyChoice::Direct}, // any other text is no proxy
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message()
                     << (row.proxyState ? row.proxyState : "(absent)") << " " << row.systemUsable);
        CNameValueDocument document;
        if (row.proxyState != nullptr)
            document.SetValue("proxyState", row.proxyState);
        EXPECT_EQ(MakeOpeningState(document, "", row.systemUsable).proxy, row.choice);
    }
}

TEST_F(PreferencesRules, EnablingFollowsTheFolderAndProxyChoices) {
    PreferencesState state;
    state.browseDirSpecified = false;
    EXPECT_FALSE(GetEnabling(state).folder);
    state.browseDirSpecified = true;
    EXPECT_TRUE(GetEnabling(state).folder);

    struct Row {
        ProxyChoice choice;
        bool addressAndPort;
        bool credentials;
    };
    const Row kRows[] = {
        {ProxyChoice::Direct, false, false},
        {ProxyChoice::System, false, true}, // the system's proxy may ask for credentials too
        {ProxyChoice::Manual, true, true},
    };
    for (const Row& row : kRows) {
        state.proxy = row.choice;
        EXPECT_EQ(GetEnabling(state).addressAndPort, row.addressAndPort) << static_cast<int>(row.choice);
        EXPECT_EQ(GetEnabling(state).usernameAndPassword, row.credentials) << static_cast<int>(row.choice);
    }
}

TEST_F(PreferencesRules, TheManualProxyNeedsAnAddressAndAPortInRange) {
    using Field = PreferencesInputError::Field;
    struct Row {
        ProxyChoice choice;
        const char* address;
        const char* port;
        std::optional<uint32_t> text;
        Field field;
    };
    const Row kRows[] = {
        {ProxyChoice::Manual, "proxy", "", std::nullopt, Field::Address},      // no port: 80 later
        {ProxyChoice::Manual, "proxy", "1", std::nullopt, Field::Address},     // the first port
        {ProxyChoice::Manual, "proxy", "65535", std::nullopt, Field::Address}, // the last
        {ProxyChoice::Manual, "proxy", "0", 10072u, Field::Port},
        {ProxyChoice::Manual, "proxy", "70000", 10072u, Field::Port},
        {ProxyChoice::Manual, "proxy", "99999999999", 10072u, Field::Port}, // no overflow into range
        {ProxyChoice::Manual, "", "80", 10071u, Field::Address},
        {ProxyChoice::Manual, "", "0", 10071u, Field::Address},       // the address is looked at first
        {ProxyChoice::Direct, "", "0", std::nullopt, Field::Address}, // only the manual proxy is checked
        {ProxyChoice::System, "", "70000", std::nullopt, Field::Address},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(row.choice) << " '" << row.address << "' '" << row.port << "'");
        PreferencesState state;
        state.proxy = row.choice;
        state.address = row.address;
        state.port = row.port;
        std::optional<PreferencesInputError> error = CheckPreferencesInput(state);
        ASSERT_EQ(error.has_value(), row.text.has_value());
        if (error) {
            EXPECT_EQ(error->textId, *row.text);
            EXPECT_EQ(error->field, row.field);
        }
    }
}

TEST_F(PreferencesRules, StoringWritesTheChecksAndTheFolderOnlyWhileItMayBeEdited) {
    CNameValueDocument document;
    document.SetValue("browseDir", "/kept");
    PreferencesState state = MakeOpeningState(document, "/current", true);
    state.showAlert = false;
    state.autoStart = false;
    state.oldFileDialog = true;
    state.folder = "/typed";
    EXPECT_FALSE(StorePreferencesState(state, document));
    // Unticking the alert stores alertDone as true.
    EXPECT_EQ(document.GetValue("alertDone"), "true");
    EXPECT_EQ(document.GetValue("autostart"), "false");
    EXPECT_EQ(document.GetValue("oldfiledialog"), "true");
    EXPECT_EQ(document.GetValue("browsedirspecified"), "false");
    // The last folder accessed: the stored folder stays.
    EXPECT_EQ(document.GetValue("browseDir"), "/kept");

    state.showAlert = true;
    state.browseDirSpecified = true;
    EXPECT_FALSE(StorePreferencesState(state, document));
    EXPECT_EQ(document.GetValue("alertDone"), "false");
    EXPECT_EQ(document.GetValue("browsedirspecified"), "true");
    EXPECT_EQ(document.GetValue("browseDir"), "/typed");
}

TEST_F(PreferencesRules, TheFiveProxyValuesAreWrittenOnlyWhenSomethingChanged) {
    const char* kProxyNames[] = {"proxyState", "proxyAddress", "proxyPort", "proxyUsername", "proxyPassword"};
    // Nothing stored and the system's settings kept: none of the five appears.
    CNameValueDocument document;
    PreferencesState state = MakeOpeningState(document, "", true);
    EXPECT_FALSE(StorePreferencesState(state, document));
    for (const char* name : kProxyNames)
        EXPECT_FALSE(document.HasValue(name)) << name;

    // One text differs: all five are written.
    state.password = "secret";
    EXPECT_TRUE(StorePreferencesState(state, document));
    for (const char* name : kProxyNames)
        EXPECT_TRUE(document.HasValue(name)) << name;
    EXPECT_EQ(document.GetValue("proxyState"), "system");
    EXPECT_EQ(document.GetValue("proxyPassword"), "secret");
    EXPECT_EQ(document.GetValue("proxyPort"), "");
    // The same again: no change.
    EXPECT_FALSE(StorePreferencesState(state, document));

    struct Row {
        ProxyChoice choice;
        const char* stored;
        bool changed;
    };
    const Row kRows[] = {
        {ProxyChoice::Manual, "manual", true},
        {ProxyChoice::Manual, "manual", false},
        {ProxyChoice::Direct, "none", true},
        {ProxyChoice::None, "system", true}, // no choice at all counts as the system's settings
        {ProxyChoice::System, "system", false},
    };
    for (const Row& row : kRows) {
        state.proxy = row.choice;
        EXPECT_EQ(StorePreferencesState(state, document), row.changed) << row.stored;
        EXPECT_EQ(document.GetValue("proxyState"), row.stored);
    }
}

TEST_F(PreferencesRules, ACommitSavesAndInstallsAChangedProxy) {
    CNameValueDocument document;
    PreferencesState state = MakeOpeningState(document, "", true);
    state.proxy = ProxyChoice::Manual;
    state.address = "proxy.example";
    state.port = "3128";
    EXPECT_EQ(CommitPreferences(state, document, nullptr), std::nullopt);
    EXPECT_EQ(Stored().GetValue("proxyState"), "manual");
    EXPECT_EQ(Stored().GetValue("proxyAddress"), "proxy.example");
    ASSERT_NE(GetProxySettings(), nullptr);
    int port = 0;
    EXPECT_EQ(GetProxyServer("http", port), "proxy.example");
    EXPECT_EQ(port, 3128);

    // Unchanged: the override is not installed again (one installed meanwhile stays).
    SetProxySettings(std::make_unique<CNoProxySettings>());
    std::shared_ptr<const CProxySettings> before = GetProxySettings();
    state.autoStart = false;
    EXPECT_EQ(CommitPreferences(state, document, nullptr), std::nullopt);
    EXPECT_EQ(GetProxySettings(), before);
    EXPECT_EQ(Stored().GetValue("autostart"), "false");
}

TEST_F(PreferencesRules, AFailedSaveGivesItsTextAndTheProxyStillApplies) {
    // A store that cannot be opened: its folder is a file.
    testsupport::ScopedTempFolder folder;
    const std::string blocked = folder.Put("not-a-folder", "x");
    platform::SetRegistryPath(blocked + "/registry.db");
    CNameValueDocument document;
    PreferencesState state = MakeOpeningState(document, "", true);
    state.proxy = ProxyChoice::Direct;
    std::optional<std::string> error = CommitPreferences(state, document, nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->rfind("Registry error: ", 0), 0u) << *error;
    // What the user confirmed is in force for this run.
    ASSERT_NE(GetProxySettings(), nullptr);
    EXPECT_FALSE(GetProxySettings()->IsProxyEnabled("http"));
    EXPECT_EQ(document.GetValue("proxyState"), "none");
}

TEST(FolderStatusText, LongPathsAreCutToThirtyFourCharactersAndAnEllipsis) {
    const std::string thirtyFive = "/home/ann/Pictures/Holidays/2026/ab"; // 35 characters
    ASSERT_EQ(thirtyFive.size(), 35u);
    EXPECT_EQ(MakeFolderStatusText(thirtyFive), thirtyFive);
    EXPECT_EQ(MakeFolderStatusText(thirtyFive + "c"), thirtyFive.substr(0, 34) + "...");
    EXPECT_EQ(MakeFolderStatusText("/home/ann/Pictures/Holidays/2026/summer/beach"),
              "/home/ann/Pictures/Holidays/2026/s...");
    EXPECT_EQ(MakeFolderStatusText("/"), "/");
    EXPECT_EQ(MakeFolderStatusText(""), "");
}

// A real queue moving a picture to the reference server over a slow link, whose pauses and resumes
// are heard through the queue's state observer.
class PreferencesSession : public PreferencesRules {
protected:
    void SetUp() override {
        PreferencesRules::SetUp();
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
    }
    void TearDown() override {
        if (m_queue)
            m_queue->Pause(); // no sender thread outlives the queue
        m_queue.reset();
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
        PreferencesRules::TearDown();
    }

    // The queue running one picture, once its transfer is under way; false when it never got going.
    bool StartUpload(const RefServer& server) {
        PluginParameters parameters;
        parameters.d_server = server.Server();
        parameters.d_maxConnections = 1;
        m_queue = std::make_unique<UploadQueue>(
            parameters, UploadEndpoint(parameters.d_server, "prefs test", 10.0, false));
        m_queue->AddStateObserver([this](bool paused) { m_states.push_back(paused); });
        testpictures::JpegOptions options;
        options.width = 640; // some 100 KB: half a minute on the slow link
        options.height = 480;
        options.noise = 60;
        testpictures::Bytes jpeg = testpictures::EncodeJpeg(options);
        const std::string path = m_pictures.Put("slow.jpg", std::string(jpeg.begin(), jpeg.end()));
        m_queue->Add(path, "");
        m_job = m_queue->Find(path);
        return WaitFor([&] { return m_job->GetBytesDone() > 0; });
    }
    bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            m_queue->Refresh();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    testsupport::ScopedTempFolder m_pictures;
    std::unique_ptr<UploadQueue> m_queue;
    std::shared_ptr<UploadJob> m_job;
    std::vector<bool> m_states;
};

TEST_F(PreferencesSession, SavingWithoutAProxyChangeLeavesTheRunningSessionAlone) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","slow":4000})"});
    ASSERT_TRUE(server.IsListening());
    ASSERT_TRUE(StartUpload(server));
    ASSERT_EQ(m_queue->GetSession().GetThreadCount(), 1u);

    CQueuePreferencesSession session(*m_queue);
    CNameValueDocument document;
    PreferencesState state = MakeOpeningState(document, "", true);
    state.proxy = ProxyChoice::Direct;
    state.autoStart = false;
    // The first commit stores the direct connection, which the stored default (system) was not.
    EXPECT_EQ(CommitPreferences(state, document, &session), std::nullopt);
    EXPECT_EQ(m_states, (std::vector<bool>{true, false}));
    EXPECT_FALSE(m_queue->IsPaused());
    // The picture goes on after the new connection was made.
    ASSERT_TRUE(
        WaitFor([&] { return m_job->GetBytesDone() > 0 && m_queue->GetSession().GetThreadCount() == 1; }));

    // The same proxy, other preferences: no pause, no resume; the transfer keeps its thread.
    m_states.clear();
    state.autoStart = true;
    state.showAlert = false;
    EXPECT_EQ(CommitPreferences(state, document, &session), std::nullopt);
    EXPECT_TRUE(m_states.empty());
    EXPECT_FALSE(m_queue->IsPaused());
    EXPECT_EQ(Stored().GetValue("alertDone"), "true");
    // The same picture still on its way, on the thread it had.
    m_queue->Refresh();
    EXPECT_EQ(m_queue->Find(m_job->GetPath()), m_job);
    EXPECT_EQ(m_job->GetStatus(), UploadStatus::Pending);
    EXPECT_EQ(m_queue->GetSession().GetThreadCount(), 1u);
}

TEST_F(PreferencesSession, AChangedProxyLeavesAPausedSessionPaused) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","slow":4000})"});
    ASSERT_TRUE(server.IsListening());
    ASSERT_TRUE(StartUpload(server));
    m_queue->Pause();
    m_states.clear();

    CQueuePreferencesSession session(*m_queue);
    CNameValueDocument document;
    PreferencesState state = MakeOpeningState(document, "", true);
    state.proxy = ProxyChoice::Direct;
    state.username = "ann";
    EXPECT_EQ(CommitPreferences(state, document, &session), std::nullopt);
    EXPECT_TRUE(m_states.empty());
    EXPECT_TRUE(m_queue->IsPaused());
}

} // namespace
