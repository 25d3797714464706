#include "upload/stat_sender.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/trace.h"
#include "foundation/wait_set.h"
#include "upload/upload_connection.h"
#include "upload/upload_item_info.h"
#include "upload/upload_job.h"
#include "upload/upload_message.h"

namespace {

constexpr const char* kTrace = "upload";
// The longest the sending thread waits in one go, so that a stop request is seen within this time.
constexpr double kIdleWait = 1.0;

} // namespace

StatSender::StatSender(const UploadEndpoint& endpoint) : d_endpoint(endpoint) {
    d_thread = CThread::Create(*this);
}

StatSender::~StatSender() {
    if (d_thread) {
        d_thread->RequestStop();
        d_thread->Join(-1);
        d_thread.Reset();
    }
    std::deque<std::unique_ptr<UploadMessage>> dropped;
    {
        CLock lock(d_lock);
        dropped.swap(d_queue);
    }
    if (!dropped.empty())
        Trace(kTrace, 1, "statistics: %zu unsent messages dropped", dropped.size());
}

std::unique_ptr<UploadMessage> StatSender::BuildMessage(const UploadItemInfo& item, const Figures& figures) {
    auto message = std::make_unique<UploadMessage>(UploadMessage::Kind::ClientStats);
    int64_t elapsed =
        figures.lastStopTime > figures.firstStartTime ? figures.lastStopTime - figures.firstStartTime : 0;
    // Whole seconds, written to read as milliseconds.
    message->SetField("STAT_BYTES_WRITTEN", std::to_string(figures.bytesDone));
    message->SetField("STAT_ELAPSED_TIME", std::to_string(elapsed * 1000));
    message->SetField("STAT_ERROR", figures.errorText);
    message->SetField("STAT_IMAGE_ID", item.GetImageID());
    message->SetField("STAT_IMAGE_RETRIES", std::to_string(figures.retries));
    message->SetField("STAT_KEY", "PLUGIN");
    message->SetField("STAT_OFFSET_RETRIES", std::to_string(figures.offsetQueries));
    message->SetField("STAT_RAW_SIZE", item.GetFileSizeText());
    message->SetField("STAT_SERVER", item.GetUploadServer());
    message->SetField("STAT_SESSION_ID", item.GetSessionID());
    message->SetField("STAT_START_TIME", std::to_string(figures.firstStartTime) + "000");
    message->SetField("STAT_TRANSFER_TIME", std::to_string(figures.transferSeconds * 1000));
    message->SetField("STAT_UID", item.GetUID());
    return message;
}

void StatSender::Enqueue(const UploadItemInfo& item, const Figures& figures) {
    // The session makes a sender only when statistics are on; this keeps the promise local too.
    if (!d_endpoint.GetSendStatistics())
        return;
    try {
        auto message = BuildMessage(item, figures);
        CLock lock(d_lock);
        d_queue.push_back(std::move(message));
        d_idle.Reset();
    } catch (...) {
        Trace(kTrace, 0, "statistics: message for %s not queued", item.GetPath().c_str());
    }
}

void StatSender::Enqueue(const UploadJob& job) {
    UploadJob::Snapshot now = job.GetSnapshot();
    Figures figures;
    figures.bytesDone = static_cast<uint32_t>(now.bytesDone);
    figures.firstStartTime = now.firstStartTime;
    figures.lastStopTime = now.lastStopTime;
    figures.transferSeconds = now.accumulatedSeconds;
    figures.errorText = std::move(now.errorText);
    figures.retries = now.retries;
    figures.offsetQueries = now.offsetQueries;
    Enqueue(job.GetItem(), figures);
}

size_t StatSender::GetQueuedCount() const {
    CLock lock(d_lock);
    return d_queue.size();
}

bool StatSender::WaitUntilIdle(double timeout) {
    return CWaitSet({&d_idle}).Wait(timeout);
}

std::unique_ptr<UploadMessage> StatSender::TakeNext() {
    CLock lock(d_lock);
    if (d_queue.empty()) {
        d_idle.Set();
        return nullptr;
    }
    std::unique_ptr<UploadMessage> message = std::move(d_queue.front());
    d_queue.pop_front();
    return message;
}

void StatSender::Run() {
    CEvent* stop = GetStopEvent();
    while (!IsStopRequested()) {
        std::unique_ptr<UploadMessage> message = TakeNext();
        if (!message) {
            CWaitSet({stop}).Wait(kIdleWait);
            continue;
        }
        try {
            Send(*message);
        } catch (const CException& e) {
            Trace(kTrace, 0, "statistics: not sent: %s", e.GetCode());
        } catch (...) {
            Trace(kTrace, 0, "statistics: not sent: unknown exception");
        }
    }
}

void StatSender::Send(UploadMessage& message) {
    // The connection goes before the message, whose request its worker writes from.
    UploadConnection connection(d_endpoint);
    message.Submit(connection);
    CWaitSet waits({message.GetReplyEvent(), GetStopEvent()});
    while (!IsStopRequested()) {
        waits.Wait(kIdleWait);
        if (IsStopRequested() || message.PollReply())
            return;
    }
}
