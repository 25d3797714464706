// Moves one picture to the servers on a thread of its own: obtains an image identifier and a data
// server, asks how many bytes that server holds, sends the rest of the file, and reports progress and
// the one outcome (complete or failed) to the session. A stop leaves the picture pending with what the
// servers told about it, so that the next run resumes by asking for the offset.
//
// Threads: the session's thread (the user-interface thread) calls Start, Stop and IsFinished; Run
// runs on the thread that Start makes. d_lock guards d_thread and d_finished; Run takes it to report
// its outcome, which is why Stop waits for the run without holding it.
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

    // Starts a run unless one is going. Raises CThreadUnavailable.
    void Start();
    // Asks the run to stop and waits until it has ended. The finished flag stays as it was.
    void Stop();
    // True once a run has reported the picture's outcome.
    bool IsFinished() const;
    // Whether a thread object exists (a stopped thread has none until it is started again).
    bool HasThread() const;

    const std::shared_ptr<UploadJob>& GetJob() const { return d_job; }
    const std::string& GetPath() const { return d_job->GetPath(); }

    // Seconds of the busy waits are scaled by this factor; tests shorten them, the program never.
    static void SetBusyPauseScaleForTests(double scale);

private:
    void Run() override;
    // The steps of one run; false when the run is over (outcome reported or stop requested).
    bool ObtainImageID();
    enum class OffsetOutcome { Send, Again, Over };
    OffsetOutcome QueryOffset();
    bool SendData();

    // Submits the message on a connection for the endpoint and waits for its reply, reporting the
    // request bytes written as progress when asked; returns early when a stop is requested.
    void SubmitAndWait(UploadMessage& message, const UploadEndpoint& endpoint, bool withProgress);
    void ReportComplete();
    void ReportFailure(const std::string& text);
    // Forgets the identifier, data server, offset and cookie, so that the next attempt starts over.
    void ForgetImage();

    const UploadEndpoint d_endpoint; // the plug-in's server, for "GetImageID"
    PxUploadSession& d_session;
    const std::shared_ptr<UploadJob> d_job;

    // Counters of one run; touched by the run only.
    int d_imageIDs = 0;
    int d_stalls = 0;
    int d_busy = 0;
    uint32_t d_lastStartOffset = 0;
    bool d_outcome = false; // an outcome was reported in this run

    mutable CMutex d_lock;
    CThreadRef d_thread;     // guarded by d_lock
    bool d_finished = false; // guarded by d_lock
};
