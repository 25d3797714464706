// The control's start-up without a window: the automatic-start decision, the steps of the start-up
// task over a real (paused) queue, what the server check shows and when it gives up, and the
// once-only report of a failed authorization.
#include "control/authorization_listener.h"
#include "control/startup_task.h"
#include "foundation/exception.h"
#include "net/network_exception.h"
#include "platform/resources.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_exception.h"
#include "upload/upload_job.h"
#include "upload/upload_queue.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string StringResource(uint32_t id) {
    return platform::LoadStringResource(id).value_or("(missing " + std::to_string(id) + ")");
}

// Records what the steps ask of the control; the preferences dialog answers from a script.
class RecordingSite : public IStartupSite {
public:
    void SetBusy(bool busy) override { calls.push_back(busy ? "busy" : "idle"); }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        calls.push_back("box " + caption + ": " + text);
        if (onMessage)
            onMessage();
    }
    int RunPreferences() override {
        calls.push_back("preferences");
        if (preferenceAnswers.empty())
            return 0;
        int answer = preferenceAnswers.front();
        preferenceAnswers.erase(preferenceAnswers.begin());
        return answer;
    }
    void ReportAddError(const std::string& path, const CException& error) override {
        calls.push_back("add error " + path + ": " + error.GetCode());
    }
    void ShowInitialisationError(const std::string& text) override { calls.push_back("init error " + text); }

    std::vector<std::string> calls;
    std::vector<int> preferenceAnswers;
    std::function<void()> onMessage;
};

// A step that records that it ran and ends as it was told.
class ScriptedStep : public CStartupStep {
public:
    enum class Outcome { Succeed, TextError, Throw, CancelAndSucceed };
    ScriptedStep(std::string name, Outcome outcome, std::vector<std::string>& log,
                 CStartupCancellation* cancellation = nullptr)
        : m_name(std::move(name)), m_outcome(outcome), m_log(log), m_cancellation(cancellation) {}

    std::optional<std::string> Run(IStartupSite&, UploadQueue& queue, const CStartupCancellation&) override {
        m_log.push_back(m_name + (queue.IsPaused() ? " (paused)" : " (running)"));
        switch (m_outcome) {
        case Outcome::Succeed:
            return std::nullopt;
        case Outcome::TextError:
            return "the " + m_name + " failed";
        case Outcome::Throw:
            throw PxNoFileUploadException();
        case Outcome::CancelAndSucceed:
            m_cancellation->Cancel();
            return std::nullopt;
        }
        return std::nullopt;
    }

private:
    std::string m_name;
    Outcome m_outcome;
    std::vector<std::string>& m_log;
    CStartupCancellation* m_cancellation;
};

class StartupTest : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_parameters.d_albumName = "Page album";
        m_parameters.d_albumID = "77";
        m_parameters.d_maxConnections = 1;
        // Pictures are the files named .jpg that exist: enough for the steps, which only ask.
        m_queue = std::make_unique<UploadQueue>(
            m_parameters, UploadEndpoint::FromParameters(m_parameters, "test agent"),
            [](const std::string& path) {
                return path.ends_with(".jpg") && std::filesystem::is_regular_file(path);
            });
        // As the control leaves it before the task runs.
        m_queue->Pause();
    }
    void TearDown() override {
        m_queue->Pause(); // no sender thread outlives the test's queue
        m_queue.reset();
        CataloguesInstalled::TearDown();
    }

    // The task over the test's queue and site, holding one pause of its own as the control does.
    std::unique_ptr<StartupTask> MakeTask(bool automaticStart) {
        return std::make_unique<StartupTask>(m_site, *m_queue, m_cancellation, automaticStart);
    }

    PluginParameters m_parameters;
    std::unique_ptr<UploadQueue> m_queue;
    RecordingSite m_site;
    std::shared_ptr<CStartupCancellation> m_cancellation = std::make_shared<CStartupCancellation>();
    testsupport::ScopedTempFolder m_folder;
};

TEST(AutomaticStart, ThePageOverridesTheStoredPreference) {
    struct Case {
        bool overrideUserPrefs;
        bool paused;
        bool autostart;
        bool starts;
    };
    const Case cases[] = {
        // The page decides: Paused alone counts, whatever the user stored.
        {true, false, false, true},
        {true, false, true, true},
        {true, true, true, false},
        {true, true, false, false},
        // The user's preference decides: Paused has no effect.
        {false, true, true, true},
        {false, false, true, true},
        {false, false, false, false},
        {false, true, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideAutomaticStart(c.overrideUserPrefs, c.paused, c.autostart), c.starts)
            << "override " << c.overrideUserPrefs << ", paused " << c.paused << ", autostart " << c.autostart;
}

TEST_F(StartupTest, StepsRunPausedInOrderAndAutomaticStartResumesOnceMore) {
    std::vector<std::string> log;
    std::unique_ptr<StartupTask> task = MakeTask(true);
    task->Append(std::make_unique<ScriptedStep>("check", ScriptedStep::Outcome::Succeed, log));
    // A failure that is not a text error does not stop the next step.
    task->Append(std::make_unique<ScriptedStep>("odd", ScriptedStep::Outcome::Throw, log));
    task->Append(std::make_unique<ScriptedStep>("spec", ScriptedStep::Outcome::Succeed, log));
    EXPECT_TRUE(task->Run());
    EXPECT_EQ(log, (std::vector<std::string>{"check (paused)", "odd (paused)", "spec (paused)"}));
    EXPECT_EQ(m_site.calls, (std::vector<std::string>{"busy", "idle", "busy", "idle", "busy", "idle"}));
    // The task's resume and the automatic start's took both pauses away.
    EXPECT_FALSE(m_queue->IsPaused());
}

TEST_F(StartupTest, WithoutAutomaticStartTheControlsPauseStays) {
    std::vector<std::string> log;
    std::unique_ptr<StartupTask> task = MakeTask(false);
    task->Append(std::make_unique<ScriptedStep>("check", ScriptedStep::Outcome::Succeed, log));
    EXPECT_TRUE(task->Run());
    EXPECT_TRUE(m_queue->IsPaused());
    // One resume is the user's to give.
    m_queue->Resume();
    EXPECT_FALSE(m_queue->IsPaused());
}

TEST_F(StartupTest, ATextErrorStopsTheStepsAndIsShownOnceWithTheQueueLeftPaused) {
    std::vector<std::string> log;
    std::unique_ptr<StartupTask> task = MakeTask(true);
    task->Append(std::make_unique<ScriptedStep>("check", ScriptedStep::Outcome::TextError, log));
    task->Append(std::make_unique<ScriptedStep>("spec", ScriptedStep::Outcome::Succeed, log));
    EXPECT_TRUE(task->Run());
    EXPECT_EQ(log, (std::vector<std::string>{"check (paused)"}));
    EXPECT_EQ(m_site.calls, (std::vector<std::string>{"busy", "idle", "init error the check failed"}));
    EXPECT_TRUE(m_queue->IsPaused());
}

TEST_F(StartupTest, ACancelledTaskTouchesNothing) {
    std::vector<std::string> log;
    // Cancelled before it ran: the tear-down came first.
    {
        std::unique_ptr<StartupTask> task = MakeTask(true);
        task->Append(std::make_unique<ScriptedStep>("check", ScriptedStep::Outcome::Succeed, log));
        m_cancellation->Cancel();
        EXPECT_TRUE(task->Run());
        EXPECT_TRUE(log.empty());
        EXPECT_TRUE(m_site.calls.empty());
    }
    // Cancelled while a step ran (its dialog's loop ran the tear-down): nothing after that step.
    m_cancellation = std::make_shared<CStartupCancellation>();
    std::unique_ptr<StartupTask> task = MakeTask(true);
    task->Append(std::make_unique<ScriptedStep>("check", ScriptedStep::Outcome::CancelAndSucceed, log,
                                                m_cancellation.get()));
    task->Append(std::make_unique<ScriptedStep>("spec", ScriptedStep::Outcome::Succeed, log));
    EXPECT_TRUE(task->Run());
    EXPECT_EQ(log, (std::vector<std::string>{"check (paused)"}));
    EXPECT_EQ(m_site.calls, (std::vector<std::string>{"busy"}));
}

// --- The server check ----------------------------------------------------------------------------

class ServerCheckTest : public StartupTest {
protected:
    // A resolver that fails the first `failures` times with a host that is not found.
    ServerCheckTask::Resolver FailingTimes(int failures) {
        return [this, failures](const std::string& uri) {
            m_resolved.push_back(uri);
            if (static_cast<int>(m_resolved.size()) <= failures)
                throw CHostNotFoundException("nowhere.invalid");
        };
    }
    std::string FirstBox() const { return "box " + StringResource(10073) + ": " + StringResource(10074); }
    std::string LaterBox() const { return "box " + StringResource(10073) + ": " + StringResource(10075); }

    std::vector<std::string> m_resolved;
};

TEST_F(ServerCheckTest, AResolvingServerShowsNothing) {
    ServerCheckTask check("up.example:8080", FailingTimes(0));
    EXPECT_EQ(check.Run(m_site, *m_queue, *m_cancellation), std::nullopt);
    EXPECT_EQ(m_resolved, (std::vector<std::string>{"http://up.example:8080"}));
    EXPECT_TRUE(m_site.calls.empty());
}

TEST_F(ServerCheckTest, CancellingThePreferencesFailsWithTheLastErrorsText) {
    ServerCheckTask check("nowhere.invalid", FailingTimes(100));
    std::optional<std::string> error = check.Run(m_site, *m_queue, *m_cancellation);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, CHostNotFoundException("nowhere.invalid").GetText());
    EXPECT_EQ(m_site.calls, (std::vector<std::string>{FirstBox(), "preferences"}));
}

TEST_F(ServerCheckTest, ConfirmedPreferencesTryAgainUntilTheNameResolves) {
    ServerCheckTask check("up.example", FailingTimes(2));
    m_site.preferenceAnswers = {1, 1};
    EXPECT_EQ(check.Run(m_site, *m_queue, *m_cancellation), std::nullopt);
    EXPECT_EQ(m_resolved.size(), 3u);
    EXPECT_EQ(m_site.calls, (std::vector<std::string>{FirstBox(), "preferences", LaterBox(), "preferences"}));
}

TEST_F(ServerCheckTest, AnEmptyServerFailsAsAConnectionToItWould) {
    // "http://" alone names no host: the URI is refused before any look-up.
    ServerCheckTask check("");
    std::optional<std::string> error = check.Run(m_site, *m_queue, *m_cancellation);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, CHTTPInvalidURIException("http://").GetText());
    EXPECT_EQ(m_site.calls.front(), FirstBox());
}

TEST_F(ServerCheckTest, ATearDownDuringTheBoxEndsTheStepSilently) {
    ServerCheckTask check("nowhere.invalid", FailingTimes(100));
    m_site.preferenceAnswers = {1, 1, 1};
    m_site.onMessage = [this] { m_cancellation->Cancel(); };
    EXPECT_EQ(check.Run(m_site, *m_queue, *m_cancellation), std::nullopt);
    EXPECT_EQ(m_site.calls, (std::vector<std::string>{FirstBox()}));
}

// --- The upload specification ----------------------------------------------------------------------

TEST_F(StartupTest, UploadSpecCarriesTheAlbumNameForwardAndSkipsWhatIsNoPicture) {
    const std::string first = m_folder.Put("first.jpg", "1");
    const std::string second = m_folder.Put("second.jpg", "2");
    const std::string third = m_folder.Put("third.jpg", "3");
    const std::string notes = m_folder.Put("notes.txt", "not a picture");
    std::filesystem::create_directory(m_folder.Path() + "/folder.jpg");
    const std::string spec =
        m_folder.Put("spec.xml", "<upload>"
                                 "<image><file>" +
                                     first +
                                     "</file></image>"
                                     "<image><file>" +
                                     second +
                                     "</file><albumName>Trip</albumName></image>"
                                     // Skipped pictures give no album name to those after them.
                                     "<image><file>" +
                                     notes +
                                     "</file><albumName>Notes</albumName></image>"
                                     "<image><file>" +
                                     m_folder.Path() +
                                     "/folder.jpg</file><albumName>Folder</albumName></image>"
                                     "<image><file>" +
                                     third +
                                     "</file></image>"
                                     "</upload>");

    UploadSpecTask task(spec);
    EXPECT_EQ(task.Run(m_site, *m_queue, *m_cancellation), std::nullopt);
    EXPECT_TRUE(m_site.calls.empty());
    EXPECT_EQ(m_queue->GetDisplayOrder(), (std::vector<std::string>{first, second, third}));
    struct Expected {
        std::string path;
        std::string albumName;
        std::string albumID;
    };
    const Expected expected[] = {
        // No album of its own: the page's album pair.
        {first, "Page album", "77"},
        // Its own album, with no identifier.
        {second, "Trip", ""},
        // None named: the second's album goes on, still without an identifier.
        {third, "Trip", ""},
    };
    for (const Expected& e : expected) {
        std::shared_ptr<UploadJob> job = m_queue->Find(e.path);
        ASSERT_NE(job, nullptr) << e.path;
        EXPECT_EQ(job->GetItem().GetAlbumName(), e.albumName) << e.path;
        EXPECT_EQ(job->GetItem().GetAlbumID(), e.albumID) << e.path;
    }
    // Read, so gone.
    EXPECT_FALSE(std::filesystem::exists(spec));
}

TEST_F(StartupTest, AMissingOrBrokenUploadSpecAddsAndSaysNothing) {
    UploadSpecTask missing(m_folder.Path() + "/none.xml");
    EXPECT_EQ(missing.Run(m_site, *m_queue, *m_cancellation), std::nullopt);
    const std::string picture = m_folder.Put("a.jpg", "1");
    const std::string broken = m_folder.Put("broken.xml", "<upload><image><file>" + picture + "</file>");
    UploadSpecTask task(broken);
    EXPECT_EQ(task.Run(m_site, *m_queue, *m_cancellation), std::nullopt);
    EXPECT_TRUE(m_site.calls.empty());
    EXPECT_TRUE(m_queue->GetDisplayOrder().empty());
}

// --- The authorization listener --------------------------------------------------------------------

class AuthorizationListenerTest : public CataloguesInstalled {};

TEST_F(AuthorizationListenerTest, OnlyTheFirstReportIsShownAndOnlyThroughThePoster) {
    std::vector<std::function<void()>> posted;
    std::mutex lock;
    std::vector<std::string> shown;
    CAuthorizationListener listener(
        [&](std::function<void()> call) {
            std::lock_guard guard(lock);
            posted.push_back(std::move(call));
        },
        [&](const std::string& caption, const std::string& text) { shown.push_back(caption + ": " + text); });

    // Reports come from connections' worker threads, several at once.
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i)
        workers.emplace_back(
            [&listener, i] { listener.Report(i % 2 == 0, CHostNotFoundException("nowhere.invalid")); });
    for (std::thread& worker : workers)
        worker.join();
    // Nothing is shown on the reporting threads.
    EXPECT_TRUE(shown.empty());
    ASSERT_EQ(posted.size(), 1u);
    posted.front()();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown.front().rfind(StringResource(10083) + ": ", 0), 0u) << shown.front();

    // Later reports, on any thread, show nothing.
    listener.Report(true, CHostNotFoundException("nowhere.invalid"));
    EXPECT_EQ(posted.size(), 1u);
}

TEST_F(AuthorizationListenerTest, TheProxysRefusalShowsTheErrorTheServersItsOwnText) {
    CHostNotFoundException error("proxy.invalid");
    EXPECT_EQ(CAuthorizationListener::TextFor(true, error), error.GetText());
    EXPECT_EQ(CAuthorizationListener::TextFor(false, error), StringResource(10084));
    EXPECT_NE(StringResource(10084).find("support@pixolane.example"), std::string::npos);
}

} // namespace
