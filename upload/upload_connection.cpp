#include "upload/upload_connection.h"

#include "net/http_authenticate.h"
#include "net/http_request.h"
#include "net/network_exception.h"

namespace {

// Hands an authentication failure of the connection on to the endpoint's listener.
class AuthorizationForwarder : public CTypedListener<CHTTPAuthFailedEvent> {
public:
    explicit AuthorizationForwarder(UploadEndpoint::AuthorizationListener listener)
        : m_listener(std::move(listener)) {}

protected:
    void OnEvent(const CHTTPAuthFailedEvent& event) override {
        m_listener(event.IsProxy(), event.GetException());
    }

private:
    UploadEndpoint::AuthorizationListener m_listener;
};

} // namespace

UploadConnection::UploadConnection(const UploadEndpoint& endpoint)
    : d_endpoint(endpoint), d_connection(d_endpoint.GetBaseURI(), true) {
    d_connection.SetConnectTimeout(d_endpoint.GetTimeout());
    // A peer that takes the request and then says nothing would otherwise be waited for without end.
    d_connection.SetIdleTimeout(d_endpoint.GetTimeout());
    d_connection.SetRateLimit(d_endpoint.GetSharedRateLimit());
    d_connection.SetMaxReplyBody(kMaxReplyBody);
    for (const auto& [name, authenticator] : d_endpoint.GetListeners())
        d_connection.AddAuthenticator(authenticator);
    if (d_endpoint.GetAuthorizationListener())
        d_connection.GetAuthFailedListeners().AddListener(
            std::make_unique<AuthorizationForwarder>(d_endpoint.GetAuthorizationListener()));
}

std::shared_ptr<CHTTPResponse> UploadConnection::SubmitToServlet(CHTTPRequest& request,
                                                                 const std::string& servletName) {
    request.AddHeader("User-Agent", d_endpoint.GetUserAgent());
    return d_connection.Submit(request, d_endpoint.GetBaseURI() + servletName);
}
