// Reports every finished picture to the statistics servlet of the plug-in's server, from a thread of
// its own and one message at a time, so that a slow or failing statistics server never touches the
// uploads. Messages are built when a picture ends and sent in that order; those still queued when the
// sender is destroyed are dropped.
//
// Threads: Enqueue is called by the sender threads (through the session's status report); the
// constructor and destructor by the session's owner. The sending thread runs Run. d_lock guards
// d_queue only; nobody holds it across a network wait, and the destructor waits for the sending
// thread without holding it.
#pragma once

#include "foundation/event.h"
#include "foundation/mutex.h"
#include "foundation/runnable.h"
#include "foundation/thread.h"
#include "upload/upload_endpoint.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class UploadItemInfo;
class UploadJob;
class UploadMessage;

class StatSender : private CRunnable {
public:
    // The figures of one picture's job at the moment it ended. Times are whole seconds of the
    // system clock since 1970 (0: never).
    struct Figures {
        uint32_t bytesDone = 0;      // body bytes counted by the sender thread, offset included
        int64_t firstStartTime = 0;  // when the transfer timer first started
        int64_t lastStopTime = 0;    // when it last stopped
        int64_t transferSeconds = 0; // accumulated running time of the timer
        std::string errorText;       // accumulated failure texts, each ending in CRLF
        uint32_t retries = 0;        // restarts after a failed attempt
        uint32_t offsetQueries = 0;  // "GetImageOffset" requests made
    };

    // Starts the sending thread. Raises CThreadUnavailable.
    explicit StatSender(const UploadEndpoint& endpoint);
    // Stops the sending thread (the message in flight is abandoned within about a second) and drops
    // the unsent messages.
    ~StatSender() override;
    StatSender(const StatSender&) = delete;
    StatSender& operator=(const StatSender&) = delete;

    // The statistics message of a picture, filled from its item and figures as they are now.
    static std::unique_ptr<UploadMessage> BuildMessage(const UploadItemInfo& item, const Figures& figures);

    // Builds the message at once and queues it; a failure to build is swallowed, so that the picture's
    // outcome is never affected. Nothing is queued when the endpoint's statistics flag is off.
    void Enqueue(const UploadItemInfo& item, const Figures& figures);
    // The same with the picture's item and its job's figures as they are now.
    void Enqueue(const UploadJob& job);

    size_t GetQueuedCount() const;
    // Waits until every queued message has been sent (or given up), at most `timeout` seconds; true
    // when nothing is left. A program that ends on its own uses it so that its last pictures are
    // reported; the control does not wait.
    bool WaitUntilIdle(double timeout);

private:
    void Run() override;
    std::unique_ptr<UploadMessage> TakeNext();
    // Sends one message and waits for its reply, which is not looked at; returns early on a stop request.
    void Send(UploadMessage& message);

    const UploadEndpoint d_endpoint; // the plug-in's server
    mutable CMutex d_lock;
    std::deque<std::unique_ptr<UploadMessage>> d_queue; // guarded by d_lock
    CEvent d_idle{true};                                // set while the queue is empty and none in flight
    CThreadRef d_thread;                                // the sending thread; set before it can matter
};
