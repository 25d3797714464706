#include "net/http_challenge_answerer.h"

#include "foundation/trace.h"
#include "net/http_auth_response.h"
#include "net/http_authenticate.h"
#include "net/http_connection.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/network_exception.h"

#include <optional>

namespace {

constexpr const char* kTrace = "http";

} // namespace

bool CHTTPSchemeChallengeAnswerer::Answer(CHTTPConnection& connection, CHTTPRequest& request,
                                          CHTTPResponse& response) {
    Trace(kTrace, 1, "auth: authenticating");
    int status = response.GetStatusNow();
    bool proxy = status == 407;
    if (status != 401 && !proxy) {
        Trace(kTrace, 2, "auth: no authorization required");
        throw CHTTPResponseAuthMissingChallenge();
    }
    // Several challenge headers arrive joined by "; ": only the first scheme is answered.
    std::optional<std::string> challenge =
        response.FindHeader(proxy ? "proxy-authenticate" : "www-authenticate");
    if (!challenge) {
        Trace(kTrace, 2, "auth: missing challenge");
        throw CHTTPResponseAuthMissingChallenge();
    }
    std::string scheme, parameters;
    if (!CHTTPAuthenticate::SplitChallenge(*challenge, scheme, parameters)) {
        Trace(kTrace, 2, "auth: can't parse challenge");
        throw CHTTPResponseAuthInvalidChallenge(*challenge);
    }

    // The authenticator of an earlier round and its answer; the request no longer carries them.
    CHTTPRequest::Authorization current = request.TakeAuthorization();
    std::unique_ptr<CHTTPAuthenticate> authenticator = std::move(current.authenticator);
    if (authenticator) {
        if (authenticator->GetScheme() != scheme) {
            Trace(kTrace, 2, "auth error: scheme changed");
            throw CHTTPAuthNewSchemeException();
        }
        if (current.response && current.response->IsComplete()) {
            // The server refused credentials that needed no further round.
            Trace(kTrace, 2, "auth error: unexpected continuation");
            throw CHTTPAuthContinuationException();
        }
        Trace(kTrace, 2, "auth: continuing");
    } else {
        authenticator = connection.CloneAuthenticator(scheme, response);
    }
    if (!authenticator) {
        Trace(kTrace, 1, "auth: no authenticator");
        throw CHTTPAuthNoAuthenticatorException(scheme);
    }

    authenticator->SetChallenge(parameters);
    std::unique_ptr<CHTTPAuthResponse> answer = authenticator->Respond(current.response.get());
    if (!answer) {
        Trace(kTrace, 1, "auth: authentication failed");
        throw CHTTPAuthFailedException();
    }
    Trace(kTrace, 1, "auth: authentication succeeded");
    request.SetAuthorization(std::move(authenticator), std::move(answer), proxy);
    return true;
}
