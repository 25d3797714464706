// An HTTP connection bound to an upload endpoint: every request it carries goes by POST to the
// endpoint's base URI followed by a servlet name, with the endpoint's User-Agent, connect time-out,
// proxy authenticators and authorization listener.
//
// Threads: as CHTTPConnection. The submitter's thread creates it, submits once and destroys it; the
// authorization listener is called on the connection's worker thread.
#pragma once

#include "net/http_connection.h"
#include "upload/upload_endpoint.h"

class UploadConnection : public CHTTPConnection {
public:
    // Resolves the endpoint's server (through a proxy when one applies). Raises what CHTTPConnection's
    // constructor raises. The socket library must be held.
    explicit UploadConnection(const UploadEndpoint& endpoint);
    // Stops the worker before this part of the object goes.
    ~UploadConnection() override;

    // Adds "User-Agent" and sends the request to the base URI + `servletName`. The request must
    // outlive this connection.
    std::shared_ptr<CHTTPResponse> Submit(CHTTPRequest& request, const std::string& servletName) override;

    const UploadEndpoint& GetEndpoint() const { return d_endpoint; }

private:
    // A copy: the connection may outlive the sender's own endpoint.
    UploadEndpoint d_endpoint;
};
