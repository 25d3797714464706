// An HTTP connection bound to an upload endpoint: every request it carries goes by POST to the
// endpoint's base URI followed by a servlet name, with the endpoint's User-Agent, time-out (of the
// connect and of a stalled exchange), proxy authenticators and authorization listener. It holds the connection rather than being one, so
// the connection's worker is stopped by the connection itself whatever this class adds.
//
// Threads: as CHTTPConnection. The submitter's thread creates it, submits once and destroys it; the
// authorization listener is called on the connection's worker thread.
#pragma once

#include "net/http_connection.h"
#include "upload/upload_endpoint.h"

#include <cstdint>
#include <memory>
#include <string>

class CHTTPRequest;
class CHTTPResponse;

class UploadConnection {
public:
    // Every servlet answers with a few "name=value" lines; a reply body past this is no answer of
    // the protocol but a peer that never ends its reply.
    static constexpr uint64_t kMaxReplyBody = 64 * 1024;

    // Resolves the endpoint's server (through a proxy when one applies). Raises what CHTTPConnection's
    // constructor raises. The socket library must be held.
    explicit UploadConnection(const UploadEndpoint& endpoint);

    // Adds "User-Agent" and sends the request to the base URI + `servletName`. The request must
    // outlive this connection. Raises what CHTTPConnection::Submit raises.
    std::shared_ptr<CHTTPResponse> SubmitToServlet(CHTTPRequest& request, const std::string& servletName);

    const UploadEndpoint& GetEndpoint() const { return d_endpoint; }
    CHTTPConnection& GetConnection() { return d_connection; }

private:
    // A copy: the connection may outlive the sender's own endpoint. Declared first, so that it is
    // there for the whole life of the connection.
    UploadEndpoint d_endpoint;
    CHTTPConnection d_connection;
};
