#include "upload/sender_thread.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/trace.h"
#include "foundation/wait_set.h"
#include "upload/upload_connection.h"
#include "upload/upload_message.h"
#include "upload/upload_session.h"

#include <atomic>
#include <utility>

namespace {

constexpr const char* kTrace = "upload";
constexpr const char* kLineEnd = "\r\n";

std::atomic<double> g_busyPauseScale{1.0};

bool IsFatal(int32_t code) {
    return code == PxSenderThread::kErrorIdentity || code == PxSenderThread::kErrorRequest ||
           code == PxSenderThread::kErrorTooLong;
}

} // namespace

PxSenderThread::PxSenderThread(const UploadEndpoint& endpoint, PxUploadSession& session,
                               std::shared_ptr<UploadJob> job)
    : d_endpoint(endpoint), d_session(session), d_job(std::move(job)) {}

PxSenderThread::~PxSenderThread() {
    Stop();
}

void PxSenderThread::SetBusyPauseScaleForTests(double scale) {
    g_busyPauseScale = scale;
}

void PxSenderThread::Start() {
    CThreadRef stopping;
    {
        CLock lock(d_lock);
        if (d_thread && !d_thread->IsStopRequested())
            return;
        stopping = std::move(d_thread);
    }
    // Not under d_lock: the stopping run takes it to publish its outcome.
    if (stopping)
        stopping->Join(-1);
    CLock lock(d_lock);
    if (!d_thread)
        d_thread = CThread::Create(*this);
}

void PxSenderThread::RequestStop() {
    CLock lock(d_lock);
    if (d_thread)
        d_thread->RequestStop();
}

void PxSenderThread::Join() {
    CThreadRef thread;
    {
        CLock lock(d_lock);
        if (!d_thread || !d_thread->IsStopRequested())
            return;
        thread = std::move(d_thread);
    }
    // Not under d_lock: the run takes it to publish its outcome.
    thread->Join(-1);
}

void PxSenderThread::Stop() {
    RequestStop();
    Join();
}

bool PxSenderThread::IsFinished() const {
    CLock lock(d_lock);
    return d_finished;
}

bool PxSenderThread::HasThread() const {
    CLock lock(d_lock);
    return static_cast<bool>(d_thread);
}

void PxSenderThread::Run() {
    UploadItemInfo& item = d_job->GetItem();
    Trace(kTrace, 1, "sender: %s: run starts (image \"%s\", offset %u)", item.GetPath().c_str(),
          item.GetImageID().c_str(), item.GetOffset());
    d_job->StartTimer();
    d_lastStartOffset = item.GetOffset();
    d_imageIDs = d_stalls = d_busy = 0;
    d_outcome = false;
    try {
        RunSteps();
    } catch (const CException& e) {
        Trace(kTrace, 0, "sender: %s: %s", item.GetPath().c_str(), e.GetCode());
        ReportFailure(e.GetText() + kLineEnd, false);
    } catch (...) {
        Trace(kTrace, 0, "sender: %s: unknown exception", item.GetPath().c_str());
        ReportFailure("", false);
    }
    d_job->StopTimer();
    // Published last, so that the session reaps only a run that has ended its work.
    if (d_outcome) {
        CLock lock(d_lock);
        d_finished = true;
    }
    Trace(kTrace, 1, "sender: %s: run ends%s", item.GetPath().c_str(), d_outcome ? "" : " without outcome");
}

void PxSenderThread::RunSteps() {
    d_next = FirstStep();
    while (d_next != State::Done && !IsStopRequested()) {
        State state = std::exchange(d_next, State::Done);
        switch (state) {
        case State::ObtainImageID:
            DoObtainImageID();
            break;
        case State::QueryOffset:
            DoQueryOffset();
            break;
        case State::BusyWait:
            DoBusyWait();
            break;
        case State::SendData:
            DoSendData();
            break;
        case State::Done:
            break;
        }
    }
}

PxSenderThread::State PxSenderThread::FirstStep() const {
    const UploadItemInfo& item = d_job->GetItem();
    return item.GetImageID().empty() || item.GetServer().empty() ? State::ObtainImageID : State::QueryOffset;
}

void PxSenderThread::DoObtainImageID() {
    UploadItemInfo& item = d_job->GetItem();
    UploadMessage message(UploadMessage::Kind::ImageID);
    message.Fill(item);
    SubmitAndWait(message, d_endpoint, false);
    if (IsStopRequested())
        return;
    if (!message.IsOK()) {
        ReportFailure(message.GetErrorMessage() + kLineEnd, !IsFatal(message.GetErrorCode()));
        return;
    }
    std::string imageID = message.GetReplyText("ImageID");
    std::string server = message.GetReplyText("Server");
    const auto& fields = message.GetReplyFields();
    auto uploadServer = fields.find("UploadServer");
    item.SetImageID(std::move(imageID));
    item.SetUploadServer(uploadServer != fields.end() ? uploadServer->second : std::string());
    item.SetServer(std::move(server));
    item.SetCookie(message.GetSetCookie());
    // A new identifier holds nothing yet.
    item.SetOffset(0);
    d_lastStartOffset = 0;
    d_stalls = 0;
    ++d_imageIDs;
    d_session.ReportItem(item, PxUploadSession::ItemEvent::Identified);
    Trace(kTrace, 1, "sender: %s: image \"%s\" on %s", item.GetPath().c_str(), item.GetImageID().c_str(),
          item.GetServer().c_str());
    d_next = State::SendData;
}

void PxSenderThread::DoQueryOffset() {
    UploadItemInfo& item = d_job->GetItem();
    d_job->CountOffsetQuery();
    UploadMessage message(UploadMessage::Kind::ImageOffset);
    message.Fill(item);
    SubmitAndWait(message, d_endpoint.ForServer(item.GetServer()), false);
    if (IsStopRequested())
        return;
    if (message.IsOK()) {
        item.SetOffset(message.GetReplyUnsigned("Offset"));
        d_next = State::SendData;
        return;
    }
    int32_t code = message.GetErrorCode();
    Trace(kTrace, 1, "sender: %s: offset query answered %d", item.GetPath().c_str(), code);
    if (IsFatal(code)) {
        ReportFailure(message.GetErrorMessage() + kLineEnd, false);
        return;
    }
    if (code == kErrorComplete) {
        ReportComplete();
        return;
    }
    if (code == kErrorBusy && d_busy < kMaxBusyAnswers) {
        d_next = State::BusyWait;
        return;
    }
    ForgetImage();
    d_job->CountRetry();
    d_next = FirstStep();
}

void PxSenderThread::DoBusyWait() {
    ++d_busy;
    CWaitSet({GetStopEvent()}).Wait(static_cast<double>(d_busy * d_busy) * g_busyPauseScale.load());
    d_next = State::QueryOffset;
}

void PxSenderThread::DoSendData() {
    UploadItemInfo& item = d_job->GetItem();
    d_busy = 0;
    d_session.Progress(item.GetPath(), item.GetOffset(), false);
    if (item.GetOffset() == d_lastStartOffset)
        ++d_stalls;
    else
        d_stalls = 0;
    d_lastStartOffset = item.GetOffset();

    UploadMessage message(UploadMessage::Kind::UploadImage);
    message.Fill(item);
    SubmitAndWait(message, d_endpoint.ForServer(item.GetServer()), true);
    if (IsStopRequested())
        return;
    if (message.IsOK()) {
        d_job->StopTimer();
        ReportComplete();
        return;
    }
    int32_t code = message.GetErrorCode();
    Trace(kTrace, 1, "sender: %s: upload from %u answered %d", item.GetPath().c_str(), item.GetOffset(),
          code);
    if (IsFatal(code)) {
        ReportFailure(message.GetErrorMessage() + kLineEnd, false);
        return;
    }
    if (code > 0)
        ForgetImage();
    if (d_imageIDs >= kMaxImageIDs) {
        ReportFailure(message.GetErrorMessage() + kLineEnd, true);
        return;
    }
    if (d_stalls > kMaxStalls)
        ForgetImage();
    d_job->CountRetry();
    d_next = FirstStep();
}

void PxSenderThread::SubmitAndWait(UploadMessage& message, const UploadEndpoint& endpoint,
                                   bool withProgress) {
    const std::string& path = d_job->GetPath();
    // The connection goes before the message, whose request its worker writes from.
    UploadConnection connection(endpoint);
    message.Submit(connection);
    CWaitSet waits({message.GetReplyEvent(), GetStopEvent()});
    uint64_t reported = 0;
    while (!IsStopRequested()) {
        waits.Wait(kPollSeconds);
        if (IsStopRequested())
            break;
        if (withProgress) {
            uint64_t written = message.GetBytesWritten();
            if (written > reported) {
                d_session.Progress(path, written - reported, true);
                reported = written;
            }
        }
        if (message.PollReply())
            break;
    }
}

void PxSenderThread::ReportComplete() {
    d_session.ReportItem(d_job->GetItem(), PxUploadSession::ItemEvent::Complete);
    d_session.SetStatus(d_job->GetPath(), UploadStatus::Complete, "");
    d_outcome = true;
}

void PxSenderThread::ReportFailure(const std::string& text, bool transient) {
    d_job->StopTimer();
    // A failure while the thread is being stopped is left unreported and the run unfinished: the
    // picture stays pending and the next run tries again.
    if (IsStopRequested()) {
        Trace(kTrace, 1, "sender: %s: failure during stop not reported", d_job->GetPath().c_str());
        return;
    }
    d_job->SetFailureTransient(transient);
    d_session.ReportItem(d_job->GetItem(), PxUploadSession::ItemEvent::Failed);
    d_session.SetStatus(d_job->GetPath(), UploadStatus::Failed, text);
    d_outcome = true;
}

void PxSenderThread::ForgetImage() {
    UploadItemInfo& item = d_job->GetItem();
    item.SetImageID("");
    item.SetServer("");
    item.SetOffset(0);
    item.SetCookie("");
    d_session.ReportItem(item, PxUploadSession::ItemEvent::Identified);
}
