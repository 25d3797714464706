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
    : CHTTPConnection(endpoint.GetBaseURI(), true), d_endpoint(endpoint) {
    SetConnectTimeout(d_endpoint.GetTimeout());
    for (const auto& [name, authenticator] : d_endpoint.GetListeners())
        AddAuthenticator(authenticator);
    if (d_endpoint.GetAuthorizationListener())
        GetAuthFailedListeners().AddListener(
            new AuthorizationForwarder(d_endpoint.GetAuthorizationListener()));
}

UploadConnection::~UploadConnection() {
    StopWorker();
}

std::shared_ptr<CHTTPResponse> UploadConnection::Submit(CHTTPRequest& request,
                                                        const std::string& servletName) {
    request.AddHeader("User-Agent", d_endpoint.GetUserAgent());
    return CHTTPConnection::Submit(request, d_endpoint.GetBaseURI() + servletName);
}
