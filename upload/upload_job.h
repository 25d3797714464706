// The session's record of one picture: its request fields, its state, the bytes moved, the counts of
// offset queries and restarts, the accumulated error text, and the transfer timer from which the
// elapsed time and the estimate of the time remaining follow. The session's totals are a job of the
// same kind without a picture.
//
// Threads: shared by the session's list and the queue's entry (it lives while either holds it). The
// picture's sender thread changes the item and starts and stops the timer; the session changes state,
// bytes and error text from the sender threads and reads everything from the user-interface thread.
// d_mutex guards every member but the item, which belongs to the one sender thread that runs for the
// picture (the session makes the next one only after the previous one has ended).
#pragma once

#include "platform/file_system.h"
#include "upload/upload_item_info.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

enum class UploadStatus {
    Pending = 0, // waiting or transferring
    Complete = 1,
    Failed = 2,
};

class UploadJob {
public:
    // Whole seconds of the system clock since 1970.
    static int64_t Now() { return platform::CurrentTimeSeconds(); }

    // The totals job: no picture.
    UploadJob();
    // A picture added now: its upload time is the local time, its size the item's file size.
    explicit UploadJob(const UploadItemInfo& item);
    UploadJob(const UploadJob&) = delete;
    UploadJob& operator=(const UploadJob&) = delete;

    bool HasItem() const { return d_hasItem; }
    // Null for the totals job. See the thread note above.
    UploadItemInfo& GetItem() { return d_item; }
    const UploadItemInfo& GetItem() const { return d_item; }
    const std::string& GetPath() const { return d_item.GetPath(); }
    // The part of the path after its last "\" or "/".
    std::string GetFileName() const;
    // "%Y-%m-%d %H:%M:%S" in local time, when the picture was added.
    const std::string& GetUploadTime() const { return d_uploadTime; }

    UploadStatus GetStatus() const;
    void SetStatus(UploadStatus status);
    // Byte counts are 64-bit: a picture's fit in 32 bits, the totals of many pictures need not.
    uint64_t GetBytesDone() const;
    void SetBytesDone(uint64_t bytes);
    void AddBytesDone(uint64_t bytes);
    uint64_t GetSize() const;
    void SetSize(uint64_t size);

    uint32_t GetOffsetQueries() const;
    void CountOffsetQuery();
    uint32_t GetRetries() const;
    void CountRetry();
    std::string GetErrorText() const;
    void AppendErrorText(const std::string& text);
    // Whether the failure may pass if the picture is tried again later: the network failed, or the
    // server answered with something other than a refusal of the picture or of the user.
    bool IsFailureTransient() const;
    void SetFailureTransient(bool transient);

    // --- the transfer timer ---
    void StartTimer(int64_t now = Now());
    void StopTimer(int64_t now = Now());
    // Back to never run (the totals after a run that completed).
    void ResetTimer();
    bool IsTimerRunning() const;
    int64_t GetFirstStartTime() const;
    int64_t GetLastStopTime() const;
    // Seconds of earlier running periods, without the current one.
    int64_t GetAccumulatedSeconds() const;

    // --- derived values ---
    // 0 when nothing is done, done / size below the size, else 1.
    double GetFractionDone() const;
    // Last stop - first start when the first is earlier, else 0.
    int64_t GetElapsedSeconds() const;
    // -1 (unknown) when the timer never ran or no time has passed; 0 when everything is done; else the
    // bytes left at the average rate of the active time.
    double GetEstimatedSecondsRemaining(int64_t now = Now()) const;

    // The figures reported as statistics, all read at one moment.
    struct Snapshot {
        UploadStatus status;
        uint64_t bytesDone;
        uint64_t size;
        uint32_t offsetQueries;
        uint32_t retries;
        std::string errorText;
        int64_t firstStartTime;
        int64_t lastStopTime;
        int64_t accumulatedSeconds;
    };
    Snapshot GetSnapshot() const;

private:
    const bool d_hasItem;
    UploadItemInfo d_item;
    const std::string d_uploadTime;

    mutable std::mutex d_mutex;
    UploadStatus d_status = UploadStatus::Pending; // guarded by d_mutex, as every member below
    uint64_t d_bytesDone = 0;
    uint64_t d_size = 0;
    uint32_t d_offsetQueries = 0;
    uint32_t d_retries = 0;
    std::string d_errorText;
    bool d_failureTransient = false;
    int64_t d_runningSince = 0; // 0 while the timer is stopped
    int64_t d_firstStart = 0;
    int64_t d_lastStop = 0;
    int64_t d_accumulated = 0;
};
