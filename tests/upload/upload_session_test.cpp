// The session's bookkeeping without a network: jobs added while the session is paused get no thread,
// and the test plays the sender threads' reports (status, progress) to check the counting, the
// totals, the derived values of a job, the queue's refresh counters and the upload commands.
#include "foundation/command_registry.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "pictures/picture_format_list.h"
#include "tests/support/e2e_support.h"
#include "tests/support/network_ready.h"
#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_commands.h"
#include "upload/upload_exception.h"
#include "upload/upload_job.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"
#include "upload/upload_session.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

UploadItemInfo ItemOf(const std::string& path) {
    UploadItemInfo item;
    item.SetPath(path);
    return item;
}

TEST(UploadJobTest, DerivedValuesFollowTheTimerAndTheBytes) {
    testsupport::ScopedTempFolder folder;
    UploadJob job(ItemOf(folder.PutSized("a.jpg", 1000)));
    EXPECT_EQ(job.GetSize(), 1000u);
    EXPECT_EQ(job.GetFileName(), "a.jpg");
    EXPECT_EQ(job.GetUploadTime().size(), 19u); // "YYYY-mm-dd HH:MM:SS"

    // Never ran: nothing known.
    EXPECT_EQ(job.GetEstimatedSecondsRemaining(100), -1);
    EXPECT_EQ(job.GetFractionDone(), 0.0);
    EXPECT_EQ(job.GetElapsedSeconds(), 0);

    job.StartTimer(100);
    job.StartTimer(150); // already running: the first start stays
    job.SetBytesDone(250);
    // 250 bytes in 10 s: 750 left at 25 B/s.
    EXPECT_DOUBLE_EQ(job.GetEstimatedSecondsRemaining(110), 30.0);
    EXPECT_DOUBLE_EQ(job.GetFractionDone(), 0.25);
    job.StopTimer(110);
    EXPECT_EQ(job.GetAccumulatedSeconds(), 10);
    EXPECT_EQ(job.GetElapsedSeconds(), 10);
    // Stopped: only the accumulated time counts, however late it is asked.
    EXPECT_DOUBLE_EQ(job.GetEstimatedSecondsRemaining(500), 30.0);

    // A second period adds to the first; elapsed spans both with the pause between.
    job.StartTimer(200);
    job.SetBytesDone(500);
    EXPECT_DOUBLE_EQ(job.GetEstimatedSecondsRemaining(210), 20.0); // 500 B in 20 s
    job.StopTimer(210);
    EXPECT_EQ(job.GetAccumulatedSeconds(), 20);
    EXPECT_EQ(job.GetFirstStartTime(), 100);
    EXPECT_EQ(job.GetElapsedSeconds(), 110);

    // Request headers are counted on top of the picture: the fraction stays at 1.
    job.SetBytesDone(1200);
    EXPECT_EQ(job.GetFractionDone(), 1.0);
    EXPECT_EQ(job.GetEstimatedSecondsRemaining(210), 0);

    job.ResetTimer();
    EXPECT_EQ(job.GetFirstStartTime(), 0);
    EXPECT_EQ(job.GetAccumulatedSeconds(), 0);
}

TEST(UploadJobTest, NoRateYetIsUnknownRatherThanZero) {
    testsupport::ScopedTempFolder folder;
    UploadJob job(ItemOf(folder.PutSized("b.jpg", 1000)));
    job.StartTimer(100);
    // Within the first second, or before any byte moved, there is no rate to divide by.
    EXPECT_EQ(job.GetEstimatedSecondsRemaining(100), -1);
    EXPECT_EQ(job.GetEstimatedSecondsRemaining(105), -1);
}

// Threads that a resume starts go for the network: the socket library is held and no proxy applies.
using EngineTest = NetworkReady;

class UploadSessionTest : public EngineTest {
protected:
    // Paused, so that no thread is made and the test plays the threads' reports.
    PxUploadSession session{UploadEndpoint("127.0.0.1:9", "test", 1.0, false), 2};
    testsupport::ScopedTempFolder folder;
    void SetUp() override {
        EngineTest::SetUp();
        session.Pause();
    }
    void TearDown() override {
        session.Pause(); // no thread outlives the socket library
        EngineTest::TearDown();
    }
};

TEST_F(UploadSessionTest, AddWithoutPathIsRefused) {
    EXPECT_THROW(session.Add(UploadItemInfo()), PxNoFileUploadException);
}

TEST_F(UploadSessionTest, TotalsCountCompletedFailedAndPending) {
    std::string a = folder.PutSized("a.jpg", 1000), b = folder.PutSized("b.jpg", 3000),
                c = folder.PutSized("c.jpg", 6000);
    for (const std::string& path : {a, b, c})
        session.Add(ItemOf(path));
    int notified = 0;
    session.AddObserver([&] { ++notified; });

    session.Progress(a, 400, false);
    session.Progress(a, 0, true); // nothing added, nothing told
    session.Progress(a, 200, true);
    EXPECT_EQ(notified, 2);
    session.Progress(b, 3000, false);
    session.SetStatus(b, UploadStatus::Complete, "");
    session.SetStatus(c, UploadStatus::Failed, "refused\r\n");
    EXPECT_EQ(notified, 5);
    session.Tick();

    const UploadJob& totals = session.GetTotals();
    EXPECT_EQ(totals.GetStatus(), UploadStatus::Pending);
    // The failed picture's size left the total; the complete one stays in it and in the bytes done.
    EXPECT_EQ(totals.GetSize(), 4000u);
    EXPECT_EQ(totals.GetBytesDone(), 3000u + 600u);
    // The complete job left the list at the tick; the failed one stays with its text.
    ASSERT_EQ(session.GetJobs().size(), 2u);
    EXPECT_EQ(session.GetJobs()[1]->GetErrorText(), "refused\r\n");

    // A picture's contribution is capped at its size (request headers counted as progress).
    session.Progress(a, 1500, false);
    session.Tick();
    EXPECT_EQ(totals.GetBytesDone(), 4000u);

    // Only a failed picture left: the run ended in failure; the totals stay for the user to see.
    session.SetStatus(a, UploadStatus::Complete, "");
    session.Tick();
    EXPECT_EQ(totals.GetStatus(), UploadStatus::Failed);
    EXPECT_EQ(totals.GetSize(), 4000u);

    // Removing the failed picture does not take its size out a second time; the run is complete,
    // shown whole once, and the totals return to nothing at the next tick.
    session.Remove(c);
    session.Tick();
    EXPECT_EQ(totals.GetStatus(), UploadStatus::Complete);
    EXPECT_EQ(totals.GetBytesDone(), 4000u);
    EXPECT_EQ(totals.GetSize(), 4000u);
    session.Tick();
    EXPECT_EQ(totals.GetSize(), 0u);
    EXPECT_EQ(totals.GetBytesDone(), 0u);
    EXPECT_FALSE(totals.IsTimerRunning());
}

TEST_F(UploadSessionTest, RemovingAPendingPictureTakesItsBytesOutOfTheTotals) {
    std::string a = folder.PutSized("a.jpg", 1000), b = folder.PutSized("b.jpg", 2000);
    session.Add(ItemOf(a));
    session.Add(ItemOf(b));
    session.Progress(a, 500, false);
    session.Remove(a);
    session.Tick();
    EXPECT_EQ(session.GetTotals().GetSize(), 2000u);
    EXPECT_EQ(session.GetTotals().GetBytesDone(), 0u);
    // Reports for a picture no longer listed are ignored.
    session.SetStatus(a, UploadStatus::Complete, "");
    session.Tick();
    EXPECT_EQ(session.GetTotals().GetStatus(), UploadStatus::Pending);
}

TEST_F(UploadSessionTest, PausesNestAndAThreadStartsOnlyWhenTheLastIsTakenBack) {
    session.Add(ItemOf(folder.PutSized("a.jpg", 10)));
    session.Pause(); // two pauses now
    EXPECT_TRUE(session.Resume());
    session.Tick();
    EXPECT_EQ(session.GetThreadCount(), 0u);
    EXPECT_TRUE(session.IsPaused());
    // The server on port 9 of loopback is not there: the thread will fail the picture, which is
    // all this test needs of it.
    EXPECT_FALSE(session.Resume());
    EXPECT_EQ(session.GetThreadCount(), 1u);
}

TEST_F(UploadSessionTest, StatisticsAreQueuedOnlyWhenAsked) {
    // The statistics flag is off: the session never makes a sender, so waiting finds nothing left.
    session.Add(ItemOf(folder.PutSized("a.jpg", 10)));
    session.SetStatus(folder.Path() + "/a.jpg", UploadStatus::Complete, "");
    EXPECT_TRUE(session.WaitForStatistics(0));
}

TEST_F(UploadSessionTest, ChangesAreMarkedForTheOwnerWhicheverThreadMadeThem) {
    std::string a = folder.PutSized("a.jpg", 100);
    session.Add(ItemOf(a));
    EXPECT_TRUE(session.TakeChanges());
    EXPECT_FALSE(session.TakeChanges()); // collected: nothing new
    // A report from another thread, as a sender thread makes it.
    std::thread reporter([&] { session.Progress(a, 10, true); });
    reporter.join();
    EXPECT_TRUE(session.TakeChanges());
    // A report that changes nothing marks nothing.
    session.Progress(a, 0, true);
    EXPECT_FALSE(session.TakeChanges());
    session.SetStatus(a, UploadStatus::Failed, "no\r\n");
    EXPECT_TRUE(session.TakeChanges());
}

// A session with a real sender thread against the reference server.
class SessionWithServerTest : public EngineTest {
protected:
    testsupport::ScopedTempFolder folder;
};

TEST_F(SessionWithServerTest, FinishedPicturesStatisticsReachTheServer) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    PxUploadSession session(UploadEndpoint(server.Server(), "test", 10.0, true), 1);
    const std::thread::id owner = std::this_thread::get_id();
    std::mutex lock;
    std::set<std::thread::id> told;
    session.AddObserver([&] {
        std::lock_guard guard(lock);
        told.insert(std::this_thread::get_id());
    });
    std::shared_ptr<UploadJob> job = session.Add(ItemOf(folder.PutSized("a.jpg", 5000)));
    ASSERT_TRUE(e2e::WaitFor([&] {
        session.Tick(); // the first tick starts the thread
        return job->GetStatus() != UploadStatus::Pending;
    }));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Complete) << job->GetErrorText();
    ASSERT_TRUE(session.WaitForStatistics(10.0));
    session.Pause();

    // The sender thread told the observers on its own thread; the owner collects the mark.
    {
        std::lock_guard guard(lock);
        EXPECT_TRUE(
            std::any_of(told.begin(), told.end(), [owner](std::thread::id id) { return id != owner; }));
    }
    EXPECT_TRUE(session.TakeChanges());

    std::istringstream log(server.Stats());
    std::vector<refserver::Json> lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(refserver::Json::Parse(line));
    ASSERT_EQ(lines.size(), 1u) << server.Stats();
    EXPECT_EQ(lines[0]["STAT_IMAGE_ID"].AsString(), job->GetItem().GetImageID());
    EXPECT_EQ(lines[0]["STAT_RAW_SIZE"].AsString(), "5000");
    EXPECT_EQ(lines[0]["STAT_ERROR"].AsString(), "");
    EXPECT_EQ(e2e::Requests(e2e::State(server), "UploadClientStats"), 1);
}

class UploadQueueTest : public EngineTest {
protected:
    static PluginParameters Parameters() {
        PluginParameters parameters;
        parameters.d_authenticationID = "A1";
        parameters.d_uid = "U1";
        parameters.d_sessionID = "S1";
        parameters.d_albumName = "Summer";
        parameters.d_albumID = "77";
        parameters.d_partnerID = "P";
        parameters.d_partnerSubID = "PS";
        parameters.d_campaignID = "C";
        parameters.d_maxConnections = 1;
        return parameters;
    }
    testsupport::ScopedTempFolder folder;
    // The picture types the host registers: JPEG by name.
    UploadQueue queue{
        Parameters(), UploadEndpoint("127.0.0.1:9", "test", 1.0, false),
        [](const std::string& path) { return CPictureFormatList::Get().FindByFileName(path) != nullptr; }};
    void SetUp() override {
        EngineTest::SetUp();
        queue.Pause();
    }
    void TearDown() override {
        queue.Pause();
        EngineTest::TearDown();
    }
};

TEST_F(UploadQueueTest, AddFillsTheItemFromTheQueueAndKeepsAQueuedPath) {
    std::string a = folder.PutSized("a.jpg", 10), b = folder.PutSized("b.jpg", 20);
    EXPECT_EQ(queue.Add(a, ""), a);
    queue.Add(b, "Winter");
    const UploadItemInfo& first = queue.Find(a)->GetItem();
    EXPECT_EQ(first.GetAuthenticationID(), "A1");
    EXPECT_EQ(first.GetUID(), "U1");
    EXPECT_EQ(first.GetSessionID(), "S1");
    EXPECT_EQ(first.GetPartnerID(), "P");
    EXPECT_EQ(first.GetPartnerSubID(), "PS");
    EXPECT_EQ(first.GetCampaignID(), "C");
    EXPECT_EQ(first.GetAlbumName(), "Summer");
    EXPECT_EQ(first.GetAlbumID(), "77");
    EXPECT_EQ(first.GetFileSize(), 10u);
    // A named album has no identifier of the queue's.
    EXPECT_EQ(queue.Find(b)->GetItem().GetAlbumName(), "Winter");
    EXPECT_EQ(queue.Find(b)->GetItem().GetAlbumID(), "");

    // The same path again keeps the entry and its job.
    auto job = queue.Find(a);
    queue.Add(a, "Other");
    EXPECT_EQ(queue.Find(a), job);
    EXPECT_EQ(queue.GetSession().GetJobs().size(), 2u);
    // The user's add refuses it with the path in the text.
    try {
        queue.AddFromUser(a);
        FAIL() << "a queued path was added again";
    } catch (const CPluginAddUploadExistsException& e) {
        EXPECT_EQ(e.GetText(), "The file \"" + a + "\" is currently being uploaded.");
    }
    // Not a picture by its name: refused without a word.
    EXPECT_FALSE(queue.AddFromUser(folder.PutSized("notes.txt", 5)));
    EXPECT_FALSE(queue.AddFromUser(folder.Path()));
    EXPECT_EQ(queue.GetDisplayOrder(), (std::vector<std::string>{a, b}));
}

TEST_F(UploadQueueTest, RefreshCountsAndCompletionIsSeenOnlyAfterAPictureCompleted) {
    std::string a = folder.PutSized("a.jpg", 10), b = folder.PutSized("b.jpg", 20),
                c = folder.PutSized("c.jpg", 30);
    for (const std::string& path : {a, b, c})
        queue.Add(path, "");
    PxUploadSession& session = queue.GetSession();

    // Everything failed: the run is over, but nothing of this queue ever completed.
    for (const std::string& path : {a, b, c})
        session.SetStatus(path, UploadStatus::Failed, "no\r\n");
    queue.Refresh();
    EXPECT_EQ(queue.GetFailedCount(), 3u);
    EXPECT_TRUE(queue.HasFailed());
    EXPECT_FALSE(queue.IsComplete());

    // Retrying makes new jobs (no identifier, offset 0) in place of the failed ones.
    queue.Find(a)->GetItem().SetImageID("IMG1");
    queue.RetryFailed();
    EXPECT_FALSE(queue.HasFailed());
    EXPECT_EQ(queue.Find(a)->GetStatus(), UploadStatus::Pending);
    EXPECT_EQ(queue.Find(a)->GetItem().GetImageID(), "");
    EXPECT_EQ(queue.Find(a)->GetErrorText(), "");

    session.SetStatus(a, UploadStatus::Complete, "");
    session.SetStatus(b, UploadStatus::Failed, "no\r\n");
    queue.Refresh();
    EXPECT_EQ(queue.GetCompletedCount(), 1u);
    EXPECT_EQ(queue.GetFailedCount(), 1u);
    EXPECT_EQ(queue.GetPendingCount(), 1u);
    EXPECT_EQ(queue.GetTotalCount(), 3u); // two held, one completed
    EXPECT_FALSE(queue.Contains(a));
    EXPECT_FALSE(queue.IsComplete()); // c is still pending

    session.SetStatus(c, UploadStatus::Complete, "");
    queue.Refresh();
    EXPECT_EQ(queue.GetCompletedCount(), 2u); // accumulates over refreshes
    EXPECT_EQ(queue.GetPendingCount(), 0u);
    EXPECT_TRUE(queue.IsComplete());
    queue.ResetCounters();
    EXPECT_EQ(queue.GetTotalCount(), 1u);
}

TEST_F(UploadQueueTest, TakeChangesCollectsTheSessionsAndTheQueuesOwnChanges) {
    std::string a = folder.PutSized("a.jpg", 10);
    queue.TakeChanges();
    queue.Add(a, "");
    EXPECT_TRUE(queue.TakeChanges());
    EXPECT_FALSE(queue.TakeChanges());
    // A sender thread's report reaches the owner only as the mark.
    std::thread reporter([&] { queue.GetSession().Progress(a, 5, false); });
    reporter.join();
    EXPECT_TRUE(queue.TakeChanges());
    EXPECT_FALSE(queue.TakeChanges());
    // The paused state is something the user sees.
    queue.Pause();
    EXPECT_TRUE(queue.TakeChanges());
    queue.Resume(); // still paused once: the fixture's pause stays
    EXPECT_TRUE(queue.TakeChanges());
    queue.Remove(a);
    EXPECT_TRUE(queue.TakeChanges());
    EXPECT_FALSE(queue.TakeChanges());
}

TEST_F(UploadQueueTest, WithoutAPictureTestNothingIsTakenFromTheUser) {
    UploadQueue bare(Parameters(), UploadEndpoint("127.0.0.1:9", "test", 1.0, false));
    bare.Pause();
    std::string a = folder.PutSized("a.jpg", 10);
    EXPECT_FALSE(bare.IsAcceptedPicture(a));
    EXPECT_FALSE(bare.AddFromUser(a));
    // The test the host registers decides, folders aside.
    bare.SetPictureTest([](const std::string& path) { return path.ends_with(".jpg"); });
    EXPECT_TRUE(bare.IsAcceptedPicture(a));
    EXPECT_FALSE(bare.IsAcceptedPicture(folder.Path()));
    EXPECT_TRUE(bare.AddFromUser(a));
    EXPECT_TRUE(bare.Contains(a));
}

TEST_F(UploadQueueTest, TheUploadCommandsActOnTheQueue) {
    CCommandRegistry registry;
    RegisterUploadCommands(registry);
    CUploadSelection selection("upload", queue);
    std::string a = folder.PutSized("a.jpg", 10), b = folder.PutSized("B.JPEG", 20);
    std::string text = folder.PutSized("c.txt", 5);

    // Paused (by the fixture): pause is not enabled, resume is.
    EXPECT_FALSE(registry.IsEnabled(selection, "pause"));
    EXPECT_TRUE(registry.IsEnabled(selection, "resume"));
    EXPECT_FALSE(registry.IsEnabled(selection, "cancelSelected"));

    // "add" with nothing that is a picture is not enabled and changes nothing.
    CCommandValue::List none{CCommandValue(text), CCommandValue(folder.Path())};
    EXPECT_FALSE(registry.Execute(selection, "add", {{"items", none}}));
    EXPECT_TRUE(queue.GetDisplayOrder().empty());

    // Pictures are added and selected, the rest skipped; the queue's pause count is as before.
    CCommandValue::List items{CCommandValue(a), CCommandValue(text), CCommandValue(b)};
    EXPECT_TRUE(registry.Execute(selection, "add", {{"items", items}}));
    EXPECT_EQ(queue.GetDisplayOrder(), (std::vector<std::string>{a, b}));
    EXPECT_TRUE(selection.Contains(a));
    EXPECT_TRUE(selection.Contains(b));
    EXPECT_TRUE(queue.IsPaused());
    EXPECT_EQ(selection.GetCollection(), queue.GetDisplayOrder());

    // The selection's removal takes the selected pictures out of the queue.
    selection.Deselect(b);
    EXPECT_TRUE(registry.Execute(selection, "cancelSelected"));
    EXPECT_EQ(queue.GetDisplayOrder(), (std::vector<std::string>{b}));
    EXPECT_TRUE(selection.IsEmpty());

    // The generic string-set commands reach the upload selection.
    EXPECT_TRUE(registry.Execute(selection, "selectAll"));
    EXPECT_TRUE(selection.Contains(b));

    bool told = true;
    queue.AddStateObserver([&](bool paused) { told = paused; });
    EXPECT_TRUE(registry.Execute(selection, "resume"));
    EXPECT_FALSE(told);
    EXPECT_TRUE(registry.Execute(selection, "pause"));
    EXPECT_TRUE(told);
    EXPECT_FALSE(registry.Execute(selection, "pause")); // already paused: not enabled
}

} // namespace
