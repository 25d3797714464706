#include "upload/upload_job.h"

#include "foundation/path.h"
#include "platform/file_system.h"

#include <ctime>

namespace {

// The moment the picture was queued, in local time; empty when the clock gives none it can break down.
std::string LocalTimeText() {
    std::tm local{};
    if (!platform::BreakDownTime(platform::CurrentTimeSeconds(), false, local))
        return "";
    char text[32];
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

} // namespace

UploadJob::UploadJob() : d_hasItem(false) {}

UploadJob::UploadJob(const UploadItemInfo& item)
    : d_hasItem(true), d_item(item), d_uploadTime(LocalTimeText()), d_size(item.GetFileSize()) {}

std::string UploadJob::GetFileName() const {
    return ::GetFileName(d_item.GetPath());
}

UploadStatus UploadJob::GetStatus() const {
    std::lock_guard lock(d_mutex);
    return d_status;
}

void UploadJob::SetStatus(UploadStatus status) {
    std::lock_guard lock(d_mutex);
    d_status = status;
}

uint64_t UploadJob::GetBytesDone() const {
    std::lock_guard lock(d_mutex);
    return d_bytesDone;
}

void UploadJob::SetBytesDone(uint64_t bytes) {
    std::lock_guard lock(d_mutex);
    d_bytesDone = bytes;
}

void UploadJob::AddBytesDone(uint64_t bytes) {
    std::lock_guard lock(d_mutex);
    d_bytesDone += bytes;
}

uint64_t UploadJob::GetSize() const {
    std::lock_guard lock(d_mutex);
    return d_size;
}

void UploadJob::SetSize(uint64_t size) {
    std::lock_guard lock(d_mutex);
    d_size = size;
}

uint32_t UploadJob::GetOffsetQueries() const {
    std::lock_guard lock(d_mutex);
    return d_offsetQueries;
}

void UploadJob::CountOffsetQuery() {
    std::lock_guard lock(d_mutex);
    ++d_offsetQueries;
}

uint32_t UploadJob::GetRetries() const {
    std::lock_guard lock(d_mutex);
    return d_retries;
}

void UploadJob::CountRetry() {
    std::lock_guard lock(d_mutex);
    ++d_retries;
}

std::string UploadJob::GetErrorText() const {
    std::lock_guard lock(d_mutex);
    return d_errorText;
}

void UploadJob::AppendErrorText(const std::string& text) {
    std::lock_guard lock(d_mutex);
    d_errorText += text;
}

bool UploadJob::IsFailureTransient() const {
    std::lock_guard lock(d_mutex);
    return d_failureTransient;
}

void UploadJob::SetFailureTransient(bool transient) {
    std::lock_guard lock(d_mutex);
    d_failureTransient = transient;
}

void UploadJob::StartTimer(int64_t now) {
    std::lock_guard lock(d_mutex);
    if (d_runningSince != 0)
        return;
    d_runningSince = now;
    if (d_firstStart == 0)
        d_firstStart = now;
}

void UploadJob::StopTimer(int64_t now) {
    std::lock_guard lock(d_mutex);
    if (d_runningSince == 0)
        return;
    if (now > d_runningSince)
        d_accumulated += now - d_runningSince;
    d_lastStop = now;
    d_runningSince = 0;
}

void UploadJob::ResetTimer() {
    std::lock_guard lock(d_mutex);
    d_runningSince = d_firstStart = d_lastStop = d_accumulated = 0;
}

bool UploadJob::IsTimerRunning() const {
    std::lock_guard lock(d_mutex);
    return d_runningSince != 0;
}

int64_t UploadJob::GetFirstStartTime() const {
    std::lock_guard lock(d_mutex);
    return d_firstStart;
}

int64_t UploadJob::GetLastStopTime() const {
    std::lock_guard lock(d_mutex);
    return d_lastStop;
}

int64_t UploadJob::GetAccumulatedSeconds() const {
    std::lock_guard lock(d_mutex);
    return d_accumulated;
}

double UploadJob::GetFractionDone() const {
    std::lock_guard lock(d_mutex);
    if (d_bytesDone == 0)
        return 0.0;
    if (d_bytesDone < d_size)
        return static_cast<double>(d_bytesDone) / static_cast<double>(d_size);
    return 1.0;
}

int64_t UploadJob::GetElapsedSeconds() const {
    std::lock_guard lock(d_mutex);
    return d_firstStart < d_lastStop ? d_lastStop - d_firstStart : 0;
}

double UploadJob::GetEstimatedSecondsRemaining(int64_t now) const {
    std::lock_guard lock(d_mutex);
    if (d_runningSince == 0 && d_accumulated == 0 && d_firstStart == 0)
        return -1;
    if (d_bytesDone >= d_size)
        return 0;
    int64_t active = d_accumulated + (d_runningSince != 0 && now > d_runningSince ? now - d_runningSince : 0);
    // In the first second there is no rate to go by yet.
    if (active <= 0 || d_bytesDone == 0)
        return -1;
    double rate = static_cast<double>(d_bytesDone) / static_cast<double>(active);
    return static_cast<double>(d_size - d_bytesDone) / rate;
}

UploadJob::Snapshot UploadJob::GetSnapshot() const {
    std::lock_guard lock(d_mutex);
    return Snapshot{d_status,    d_bytesDone,  d_size,     d_offsetQueries, d_retries,
                    d_errorText, d_firstStart, d_lastStop, d_accumulated};
}
