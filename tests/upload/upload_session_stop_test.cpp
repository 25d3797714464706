// Pausing a session whose sender threads are busy, against the reference server on 127.0.0.1: every
// thread is held in an observer (which runs on the sender thread) until it has been asked to stop, so
// the pause certainly meets four running threads. An observer that asks the session's getters must
// not deadlock the pause, and threads that each take a second to notice the stop are waited for
// together, not one after the other.
#include "foundation/event.h"
#include "foundation/thread.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/e2e_support.h"
#include "tests/support/network_ready.h"
#include "tests/support/ref_server.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_job.h"
#include "upload/upload_session.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using e2e::Seconds;
using e2e::WaitFor;

constexpr int kThreads = 4;
// How long a held thread waits to be asked to stop before it counts the test as broken.
constexpr double kHoldSeconds = 20.0;
// What each thread takes to notice its stop: about what a name lookup waiting on a slow name server
// takes, which nothing can cut short.
constexpr double kNoticeSeconds = 1.0;
// Four such threads waited for one after the other take at least four of these; together, about one.
constexpr double kTogetherBound = 2.5;

// What the held threads saw.
struct Held {
    std::atomic<bool> holding{true}; // cleared once the pause is over: later runs go on freely
    std::atomic<int> arrived{0};     // threads held in the observer
    std::atomic<int> stopSeen{0};    // held threads that were asked to stop in time
    std::atomic<int> pausedSeen{0};  // held threads that read IsPaused() as true
    std::atomic<int> countsSeen{0};  // held threads that read all the threads still listed
};

class SessionStopTest : public NetworkReady {
protected:
    // A session of four connections with four pictures, each thread held in the observer at its first
    // report until asked to stop; then `whenStopped` runs on the sender thread.
    void StartHeld(PxUploadSession& session, Held& held, std::function<void()> whenStopped) {
        session.Pause();
        for (int i = 0; i < kThreads; ++i)
            session.Add(PictureOf(
                m_folder.PutSized(std::string("p").append(std::to_string(i)).append(".jpg"), 200000)));
        session.AddObserver([&held, whenStopped] {
            CEvent* stop = GetStopEvent(); // null on threads other than the sender threads
            thread_local bool seen = false;
            if (stop == nullptr || !held.holding || std::exchange(seen, true))
                return;
            ++held.arrived;
            if (!stop->Lock(kHoldSeconds))
                return;
            ++held.stopSeen;
            whenStopped();
        });
        session.Resume();
        ASSERT_TRUE(WaitFor([&held] { return held.arrived == kThreads; }, kHoldSeconds))
            << held.arrived << " threads reached the server";
    }

    // Pauses on a helper thread and returns the seconds it took. A pause that does not come back is a
    // deadlock with the held threads, after which nothing else can be cleaned up: the test stops its
    // server and ends the process.
    double TimedPause(PxUploadSession& session) {
        double start = Seconds();
        std::promise<void> paused;
        std::future<void> done = paused.get_future();
        std::thread pauser([&] {
            session.Pause();
            paused.set_value();
        });
        if (done.wait_for(std::chrono::duration<double>(kHoldSeconds * 2)) != std::future_status::ready) {
            std::fprintf(stderr, "Pause did not return: deadlocked with its sender threads\n");
            std::fflush(stderr);
            m_server.reset();
            std::_Exit(1);
        }
        pauser.join();
        return Seconds() - start;
    }

    static UploadItemInfo PictureOf(const std::string& path) {
        UploadItemInfo item;
        item.SetPath(path);
        return item;
    }

    // Started by the test, so that a deadlock can still stop it.
    RefServer& StartServer() {
        m_server = std::make_unique<RefServer>();
        return *m_server;
    }

    testsupport::ScopedTempFolder m_folder;
    std::unique_ptr<RefServer> m_server;
};

TEST_F(SessionStopTest, AnObserverAskingTheSessionDuringPauseDoesNotDeadlock) {
    RefServer& server = StartServer();
    ASSERT_TRUE(server.IsListening());
    PxUploadSession session(UploadEndpoint(server.Server(), "test", 10.0, false), kThreads);
    Held held;
    StartHeld(session, held, [&session, &held] {
        if (session.IsPaused())
            ++held.pausedSeen;
        if (session.GetThreadCount() == kThreads)
            ++held.countsSeen;
    });

    TimedPause(session);
    held.holding = false;
    // Every thread was asked while held, saw the session paused with every thread still listed
    // (stopped, not finished), and has ended: nothing of theirs runs after the pause.
    EXPECT_EQ(held.stopSeen, kThreads);
    EXPECT_EQ(held.pausedSeen, kThreads);
    EXPECT_EQ(held.countsSeen, kThreads);
    EXPECT_EQ(session.GetThreadCount(), static_cast<size_t>(kThreads));
    for (const auto& job : session.GetJobs())
        EXPECT_EQ(job->GetStatus(), UploadStatus::Pending) << job->GetPath();
}

TEST_F(SessionStopTest, ThreadsSlowToNoticeTheStopAreWaitedForTogether) {
    RefServer& server = StartServer();
    ASSERT_TRUE(server.IsListening());
    PxUploadSession session(UploadEndpoint(server.Server(), "test", 10.0, false), kThreads);
    Held held;
    std::atomic<int> slowDone{0};
    StartHeld(session, held, [&slowDone] {
        CEvent never;
        never.Lock(kNoticeSeconds);
        ++slowDone;
    });

    double seconds = TimedPause(session);
    held.holding = false;
    std::cout << "Pause of " << kThreads << " threads each taking " << kNoticeSeconds
              << " s to notice the stop took " << seconds << " s" << std::endl;
    RecordProperty("pause_seconds", std::to_string(seconds));
    EXPECT_EQ(held.stopSeen, kThreads);
    // Pause returned only after every thread had done its slow step and ended.
    EXPECT_EQ(slowDone, kThreads);
    EXPECT_GE(seconds, kNoticeSeconds * 0.9);
    EXPECT_LT(seconds, kTogetherBound);
    for (const auto& job : session.GetJobs())
        EXPECT_EQ(job->GetStatus(), UploadStatus::Pending) << job->GetPath();

    // Resumed, the stopped threads run again from their stored identifier and every picture arrives.
    session.Resume();
    EXPECT_TRUE(WaitFor(
        [&session] {
            session.Tick();
            return session.GetTotals().GetStatus() == UploadStatus::Complete;
        },
        kHoldSeconds));
}

} // namespace
