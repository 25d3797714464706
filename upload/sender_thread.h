// Moves one picture to the servers on a thread of its own: obtains an image identifier and a data
// server, asks how many bytes that server holds, sends the rest of the file, and reports progress and
// the one outcome (complete or failed) to the session. A stop leaves the picture pending with what the
// servers told about it, so that the next run resumes by asking for the offset.
//
// Threads: the session's thread (the user-interface thread) calls Start, RequestStop, Join, Stop and
// IsFinished; Run runs on the thread that Start makes. d_lock guards d_thread and d_finished; Run
// takes it to publish its outcome, which is why Join waits for the run without holding it. Stopping is
// split so that the session can ask every thread at once and then wait for them together: a run may
// take a while to notice (a name lookup cannot be interrupted).
#pragma once

#include "foundation/mutex.h"
#include "foundation/runnable.h"
#include "foundation/thread.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_job.h"

#include <memory>
#include <string>

class PxUploadSession;
class UploadMessage;

class PxSenderThread : private CRunnable {
public:
    // "GetImageOffset" answers of code 6 waited for in a row before code 6 counts as any other code.
    static constexpr int kMaxBusyAnswers = 5;
    // Successful "GetImageID" exchanges of one run; an upload failure after the last one ends the
    // picture.
    static constexpr int kMaxImageIDs = 6;
    // Consecutive upload attempts from the same offset tolerated before a new identifier is taken.
    static constexpr int kMaxStalls = 5;
    // The longest single wait, so that a stop request is seen within this time.
    static constexpr double kPollSeconds = 1.0;

    // Server error codes the run tells apart.
    static constexpr int32_t kErrorIdentity = 1;
    static constexpr int32_t kErrorRequest = 2;
    static constexpr int32_t kErrorTooLong = 4;
    static constexpr int32_t kErrorBusy = 6;
    static constexpr int32_t kErrorComplete = 14;

    PxSenderThread(const UploadEndpoint& endpoint, PxUploadSession& session, std::shared_ptr<UploadJob> job);
    // Stops the run if one is going.
    ~PxSenderThread() override;
    PxSenderThread(const PxSenderThread&) = delete;
    PxSenderThread& operator=(const PxSenderThread&) = delete;

    // Starts a run unless one is going. A run that was asked to stop and not yet waited for is waited
    // for first, so that a restart never meets the stopping run. Raises CThreadUnavailable.
    void Start();
    // Asks the run to stop and returns at once.
    void RequestStop();
    // Waits without limit until a run asked to stop has ended and lets its thread go; returns at once
    // when there is none. The finished flag stays as it was.
    void Join();
    // RequestStop, then Join.
    void Stop();
    // True once a run has reported the picture's outcome.
    bool IsFinished() const;
    // Whether a thread object exists (a stopped thread has none until it is started again).
    bool HasThread() const;

    const std::shared_ptr<UploadJob>& GetUploadJob() const { return d_job; }
    const std::string& GetPath() const { return d_job->GetPath(); }

    // Seconds of the busy waits are scaled by this factor; tests shorten them, the program never.
    static void SetBusyPauseScaleForTests(double scale);

private:
    // The steps of one run. Each step's method does its exchange and sets d_next; the run's loop
    // checks for a stop request between steps.
    enum class State {
        // The item has no image identifier or no data server: ask the plug-in's server for both
        // ("GetImageID"), then send from offset 0 without asking for the offset.
        ObtainImageID,
        // Ask the data server how many bytes of the picture it holds ("GetImageOffset"); a busy
        // answer waits, code 14 completes the picture, another code starts over with a new identifier.
        QueryOffset,
        // The data server was busy: wait the square of the busy count in seconds (or until a stop is
        // requested), then ask for the offset again.
        BusyWait,
        // Send the file from the item's offset ("UploadImage"); a refusal that is not fatal starts the
        // loop again, with a new identifier when the code or the stall count asks for one.
        SendData,
        // The run is over: an outcome was reported or a stop was requested.
        Done,
    };

    void Run() override;
    // The loop: takes the next state and dispatches to its step until Done or a stop request.
    void RunSteps();
    void DoObtainImageID();
    void DoQueryOffset();
    void DoBusyWait();
    void DoSendData();
    // Where a new attempt begins: asking for an identifier when the item has none, else the offset.
    State FirstStep() const;

    // Submits the message on a connection for the endpoint and waits for its reply, reporting the
    // request bytes written as progress when asked; returns early when a stop is requested.
    void SubmitAndWait(UploadMessage& message, const UploadEndpoint& endpoint, bool withProgress);
    void ReportComplete();
    // `transient`: the failure may pass when the picture is tried again later (the job records it).
    void ReportFailure(const std::string& text, bool transient);
    // Forgets the identifier, data server, offset and cookie, so that the next attempt starts over.
    void ForgetImage();

    const UploadEndpoint d_endpoint; // the plug-in's server, for "GetImageID"
    PxUploadSession& d_session;
    const std::shared_ptr<UploadJob> d_job;

    // The state and counters of one run; touched by the run only.
    State d_next = State::Done;
    int d_imageIDs = 0;
    int d_stalls = 0;
    int d_busy = 0;
    uint32_t d_lastStartOffset = 0;
    bool d_outcome = false; // an outcome was reported in this run

    mutable CMutex d_lock;
    CThreadRef d_thread;     // guarded by d_lock
    bool d_finished = false; // guarded by d_lock
};
