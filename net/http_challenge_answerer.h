// How a connection answers the challenge of a 401 or 407 reply, so that the request can go again with
// an authorization. The connection owns one answerer and calls it on its worker thread when a final
// status of 401 or 407 has been read, before the submitter can see the reply. The default answers
// with the schemes registered on the connection; another answerer replaces the whole decision.
#pragma once

class CHTTPConnection;
class CHTTPRequest;
class CHTTPResponse;

class IHTTPChallengeAnswerer {
public:
    virtual ~IHTTPChallengeAnswerer() = default;

    // True when `request` now holds a new authorization and must be sent again; false delivers the
    // reply as final. A challenge that cannot be answered raises CHTTPAuthenticationException (the
    // connection tells its authFailed listeners and delivers the reply as final); a missing or
    // invalid challenge raises a CHTTPResponseException, retried like a network error. Runs on the
    // connection's worker; `connection` is the one whose reply this is.
    virtual bool Answer(CHTTPConnection& connection, CHTTPRequest& request, CHTTPResponse& response) = 0;
};

// Answers with the connection's registered prototypes: the first round clones the prototype of the
// challenge's scheme, later rounds continue with the authenticator that the request keeps. Holds no
// state of its own, so one instance may serve any number of connections.
class CHTTPSchemeChallengeAnswerer : public IHTTPChallengeAnswerer {
public:
    bool Answer(CHTTPConnection& connection, CHTTPRequest& request, CHTTPResponse& response) override;
};
