// The engine objects that the control builds at start-up, in their order: the socket library, the
// stored preferences with the proxy they name and the Basic authenticator that answers its
// challenges, the endpoint with the authorization listener, the queue over its session, and the
// selection named "upload" over the queue with the upload commands registered. The window and the
// host without a window build the engine the same way; what it is told of a failed authorization is
// theirs to show.
//
// Threads: made and destroyed on the user-interface thread. The authorization report runs on an HTTP
// worker thread, at most once in the engine's life. The engine pauses its queue before it goes, so
// that no sender thread outlives the objects it uses.
#pragma once

#include "foundation/command_registry.h"
#include "net/win_sock_library.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"

#include <atomic>
#include <functional>
#include <memory>

class CException;
class CHTTPBasicAuthenticate;
struct PluginParameters;

class PxUploadEngine {
public:
    // Told of the first failed authorization only: true when the proxy refused.
    using AuthorizationReport = std::function<void(bool proxy, const CException& error)>;

    // The queue's picture test is the host's (the picture types it registered). Unreadable
    // preferences leave the defaults. Raises what the socket library's start-up raises.
    PxUploadEngine(const PluginParameters& parameters, UploadQueue::PictureTest isPicture,
                   AuthorizationReport report, CCommandRegistry& registry = CCommandRegistry::Get());
    ~PxUploadEngine();
    PxUploadEngine(const PxUploadEngine&) = delete;
    PxUploadEngine& operator=(const PxUploadEngine&) = delete;

    const UploadEndpoint& GetEndpoint() const { return d_endpoint; }
    UploadQueue& GetQueue() { return *d_queue; }
    CUploadSelection& GetSelection() { return *d_selection; }

private:
    CWinSockUser d_winsock; // first in, last out
    std::shared_ptr<CHTTPBasicAuthenticate> d_basic;
    UploadEndpoint d_endpoint;
    AuthorizationReport d_report;
    std::atomic<bool> d_authorizationReported{false};
    std::unique_ptr<UploadQueue> d_queue;
    std::unique_ptr<CUploadSelection> d_selection;
};
