#include "net/http_connection.h"
#include "net/rate_limit.h"

#include "foundation/exception.h"
#include "foundation/trace.h"
#include "net/http_authenticate.h"
#include "net/http_challenge_answerer.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/network_exception.h"
#include "net/proxy_settings.h"
#include "net/socket.h"
#include "net/win_sock_library.h"

#include <optional>

namespace {

constexpr const char* kTrace = "http";
constexpr uint16_t kDefaultPort = 80;

std::atomic<double> g_retryPauseScale{1.0};

// The text an exchange ends with when the connection itself gives up on it.
std::string ShutdownText() {
    return CHTTPConnectionShutdownException().GetText();
}

void AskToStop() {
    if (CEvent* stop = GetStopEvent())
        stop->Set();
}

} // namespace

void CHTTPConnection::SetRetryPauseScaleForTests(double scale) {
    g_retryPauseScale = scale;
}

CHTTPConnection::CHTTPConnection(const std::string& uri, bool useProxy)
    : m_useProxy(useProxy), m_answerer(std::make_unique<CHTTPSchemeChallengeAnswerer>()) {
    m_target = ResolveConnectTarget(uri, m_useProxy);
    if (m_target.sin_port == 0)
        m_target.sin_port = CWinSockLibrary::Get().htons(kDefaultPort);
}

CHTTPConnection::~CHTTPConnection() {
    StopWorker();
    CloseSocket();
}

void CHTTPConnection::StopWorker() {
    if (!m_worker)
        return;
    Trace(kTrace, 0, "close: d'tor");
    m_worker->RequestStop();
    m_worker->Join(-1);
    m_worker.Reset();
}

void CHTTPConnection::AddAuthenticator(std::shared_ptr<const CHTTPAuthenticate> prototype) {
    if (!prototype)
        return;
    std::string scheme = prototype->GetScheme();
    m_authenticators[scheme] = std::move(prototype);
}

void CHTTPConnection::SetUnknownSchemeCallback(std::unique_ptr<CListener> callback) {
    m_unknownSchemeCallback = std::move(callback);
}

void CHTTPConnection::SetChallengeAnswerer(std::unique_ptr<IHTTPChallengeAnswerer> answerer) {
    m_answerer = answerer ? std::move(answerer) : std::make_unique<CHTTPSchemeChallengeAnswerer>();
}

std::shared_ptr<CHTTPResponse> CHTTPConnection::Submit(CHTTPRequest& request, const std::string& uri) {
    // The worker is kept until the destructor, so once it exists the other two are not looked at
    // (the worker may be changing them).
    if (m_worker || m_request != nullptr || m_response != nullptr)
        throw CSocketException(); // "Already working on request."
    m_maxRetries = request.GetMaxRetries();
    request.SetURI(uri, m_useProxy);
    request.Submit();

    auto response = std::make_shared<CHTTPResponse>();
    response->SetMaxBody(m_maxReplyBody);
    response->SetFinalStatusHook([this](CHTTPResponse& reply) { return OnFinalStatus(reply); });
    m_request = &request;
    m_response = response.get();
    m_responseHolder = response;
    try {
        m_worker = CThread::Create(*this);
    } catch (...) {
        m_request = nullptr;
        m_response = nullptr;
        m_responseHolder.reset();
        throw;
    }
    return response;
}

// --- The worker ----------------------------------------------------------------------------------

void CHTTPConnection::Run() {
    std::optional<CThreadExit> exit;
    while (m_state != State::Done && !IsStopRequested()) {
        try {
            Step();
        } catch (const CNetworkException& e) {
            RetryAfter(e);
        } catch (const CThreadExit& e) {
            FailExchange(ShutdownText());
            exit = e;
        } catch (...) {
            m_lastErrorCode = -1;
            FailExchange(ShutdownText());
            Trace(kTrace, 0, "close: unknown exception");
            AskToStop();
        }
    }
    // Stopped in the middle: the submitter must not wait for a reply that will not come.
    if (m_state != State::Done)
        FailExchange(ShutdownText());
    CloseSocket();
    if (exit)
        throw *exit;
}

void CHTTPConnection::Step() {
    switch (m_state) {
    case State::Connect:
        return Connect();
    case State::Exchange:
        return Exchange();
    case State::Discard:
        return Discard();
    case State::Pause:
        return Pause();
    case State::Done:
        return;
    }
}

void CHTTPConnection::Connect() {
    Trace(kTrace, 0, "%p: create connection", static_cast<void*>(this));
    try {
        m_socket = std::make_unique<CSocket>(m_target);
    } catch (const CNetworkException& e) {
        if (++m_creationFailures > kMaxSocketCreationFailures)
            return EndAfterFailures(e);
        return Restart(1);
    }
    m_socket->SetConnectTimeout(m_connectTimeout);
    StartWatch();
    m_state = State::Exchange;
}

void CHTTPConnection::Exchange() {
    // While the request goes out, the reply may come already: a peer may answer before it has read
    // the whole request and then close or reset the connection. Waiting for it too, rather than
    // only for room to write, sees that reply (or the reset) instead of waiting for ever to write.
    unsigned ready =
        WaitForSocket(IsWriting() ? CSocket::kReadable | CSocket::kWritable : CSocket::kReadable);
    if ((ready & CSocket::kReadable) != 0)
        ReadResponse();
    // Reading may have ended the exchange, answered a challenge or dropped the socket.
    if ((ready & CSocket::kWritable) != 0 && m_state == State::Exchange && IsWriting())
        WriteRequest();
}

void CHTTPConnection::Discard() {
    if ((WaitForSocket(CSocket::kReadable) & CSocket::kReadable) != 0)
        ReadResponse();
}

void CHTTPConnection::Pause() {
    double pause = m_pauseRound * m_pauseRound * kRetryPauseUnit * g_retryPauseScale;
    // The worker always has its stop event; a stop during the pause ends the run without another
    // attempt.
    CEvent* stop = GetStopEvent();
    if (stop == nullptr)
        SleepSeconds(pause);
    else if (stop->Lock(pause))
        return;
    Reconnect(SocketFate::Close);
}

bool CHTTPConnection::IsWriting() const {
    // Once a final reply has begun, no more of the request goes out on this socket.
    return !m_doneWriting && m_response->GetStatusNow() < 200;
}

unsigned CHTTPConnection::WaitForSocket(unsigned what) {
    for (;;) {
        if (unsigned ready = m_socket->Wait(what, kSlice))
            return ready;
        if (IsStopRequested())
            return 0;
        WatchProgress();
    }
}

void CHTTPConnection::StartWatch() {
    m_lastProgress = std::chrono::steady_clock::now();
    m_sentSeen = m_socket ? m_socket->GetBytesSent() : 0;
    m_receivedSeen = m_socket ? m_socket->GetBytesReceived() : 0;
}

void CHTTPConnection::WatchProgress() {
    if (!m_socket)
        return;
    // What the peer has not yet taken is not progress. A reply means the peer read the request.
    if (m_request != nullptr && m_response)
        m_request->SetUnsent(m_response->GetStatusNow() >= 200 ? 0 : m_socket->GetBytesUnsent());
    if (m_idleTimeout <= 0)
        return;
    uint64_t sent = m_socket->GetBytesSent();
    uint64_t received = m_socket->GetBytesReceived();
    bool moved = sent != m_sentSeen || (received != m_receivedSeen && m_response->GetStatusNow() >= 200);
    m_sentSeen = sent;
    m_receivedSeen = received;
    auto now = std::chrono::steady_clock::now();
    if (moved) {
        m_lastProgress = now;
        return;
    }
    if (std::chrono::duration<double>(now - m_lastProgress).count() < m_idleTimeout)
        return;
    Trace(kTrace, 0, "%p: no progress for %.1f s", static_cast<void*>(this), m_idleTimeout);
    throw CSocketException(platform::kWsaEtimedout);
}

void CHTTPConnection::WriteRequest() {
    Trace(kTrace, 0, "%p: writing", static_cast<void*>(this));
    // The caller has just seen the socket writable. Pieces follow each other while the socket takes
    // them whole; a readiness wait comes only once it is full.
    bool writable = true;
    while (!IsStopRequested() && !m_doneWriting) {
        if (!writable && (m_socket->Wait(CSocket::kWritable, kSlice) & CSocket::kWritable) == 0)
            return;
        if (m_rateLimit != nullptr) {
            // Over the cap: waits a slice at most, then lets the exchange look for a reply.
            if (double delay = m_rateLimit->Delay(); delay > 0) {
                CEvent* stop = GetStopEvent();
                double wait = std::min(delay, kSlice);
                if (stop == nullptr)
                    SleepSeconds(wait);
                else
                    stop->Lock(wait);
                return;
            }
        }
        const uint64_t sentBefore = m_socket->GetBytesSent();
        bool done = false;
        try {
            done = m_request->WriteStep(*m_socket);
        } catch (const CSocketNotConnectedException&) {
            // The peer may have answered before it reset the connection (a proxy refusing a request
            // without credentials does). When its reply waits, it is read next, like any other;
            // otherwise the send failed.
            char first = 0;
            if (m_socket->Peek(1, &first, 0) == 0)
                throw;
            Trace(kTrace, 0, "%p: writing cut short by a reply", static_cast<void*>(this));
            return;
        }
        if (m_rateLimit != nullptr)
            m_rateLimit->Spend(m_socket->GetBytesSent() - sentBefore);
        if (done) {
            Trace(kTrace, 0, "%p: done writing", static_cast<void*>(this));
            m_doneWriting = true;
        }
        WatchProgress();
        writable = !m_socket->IsWriteBlocked();
    }
}

void CHTTPConnection::ReadResponse() {
    Trace(kTrace, 0, "%p: reading", static_cast<void*>(this));
    // The caller has just seen the socket readable. Steps follow each other while data keeps coming,
    // waking the submitter per batch of body bytes; once the socket runs dry the submitter is woken
    // for whatever waits, and only then does the worker wait, so that no byte sits unannounced.
    bool readable = true;
    while (!IsStopRequested()) {
        if (!readable) {
            m_response->WakeReader();
            if ((m_socket->Wait(CSocket::kReadable, kSlice) & CSocket::kReadable) == 0)
                return;
        }
        // A challenge is answered inside the step (OnFinalStatus), which then moves to Discard and
        // sends the body of the reply to the discard pipe.
        bool complete = false;
        try {
            complete = m_response->ReadStep(*m_socket, CHTTPResponse::Wake::Batched);
        } catch (const CNetworkException&) {
            // The rest of an answered challenge was being thrown away. However the peer ended it (a
            // proxy that refuses without reading the entity resets the connection), the challenge
            // has been answered: the request goes again, on a new socket.
            if (m_state != State::Discard)
                throw;
            Trace(kTrace, 0, "%p: challenge reply cut", static_cast<void*>(this));
            return Reconnect(SocketFate::Close);
        }
        readable = !m_socket->IsReadDry();
        if (!complete) {
            // Interim replies that keep coming never leave this loop by themselves.
            WatchProgress();
            continue;
        }
        if (m_state == State::Discard)
            return SendAgain();
        return FinishExchange();
    }
}

bool CHTTPConnection::OnFinalStatus(CHTTPResponse& response) {
    int status = response.GetStatusNow();
    if ((status != 401 && status != 407) || m_request == nullptr)
        return false;
    try {
        if (!m_answerer->Answer(*this, *m_request, response))
            return false;
    } catch (const CHTTPAuthenticationException& e) {
        Trace(kTrace, 1, "%p: challenge not answered: %s", static_cast<void*>(this), e.GetCode());
        m_authFailed.Fire(CHTTPAuthFailedEvent(status == 407, e));
        return false;
    }
    m_state = State::Discard;
    return true;
}

std::unique_ptr<CHTTPAuthenticate> CHTTPConnection::CloneAuthenticator(const std::string& scheme,
                                                                       CHTTPResponse& response) {
    auto found = m_authenticators.find(scheme);
    if (found == m_authenticators.end()) {
        Trace(kTrace, 0, "auth: unknown scheme");
        if (m_unknownSchemeCallback) {
            Trace(kTrace, 0, "auth: invoking callback");
            CHTTPAuthRetryEvent event(*this, response);
            m_unknownSchemeCallback->Handle(event);
            if (event.GetRetry()) {
                Trace(kTrace, 0, "auth: callback requested retry");
                found = m_authenticators.find(scheme);
            }
        }
    }
    if (found == m_authenticators.end() || !found->second)
        return nullptr;
    return found->second->Clone();
}

void CHTTPConnection::SendAgain() {
    std::string value = m_response->FindHeader("proxy-connection").value_or("");
    bool hangup = value == "close";
    Trace(kTrace, 0, "%s... 1.1 proxy-connection: %s", hangup ? "hangup" : "persist", value.c_str());
    // A request that the challenge cut short has left the stream in the middle of its entity.
    bool keep = m_request->IsNtlmKeepAlive() && !hangup && m_doneWriting;
    Reconnect(keep ? SocketFate::Keep : SocketFate::Close);
}

void CHTTPConnection::Reconnect(SocketFate fate) {
    Trace(kTrace, 0, "%p: reconnect", static_cast<void*>(this));
    if (fate == SocketFate::Close)
        CloseSocket();
    m_state = fate == SocketFate::Close ? State::Connect : State::Exchange;
    if (fate == SocketFate::Keep)
        StartWatch();
    m_doneWriting = false;
    m_request->ResetWritePosition();
    m_response->Reset();
    // A new authorization unsubmits the request: submitting again rebuilds the request line (now
    // perhaps with "Connection: Keep-Alive") and closes the header section when no authorization does.
    if (!m_request->IsSubmitted())
        m_request->Submit();
}

void CHTTPConnection::RetryAfter(const CNetworkException& e) {
    if (++m_retryCount > m_maxRetries)
        return EndAfterFailures(e);
    Restart(m_retryCount);
}

void CHTTPConnection::Restart(int n) {
    Trace(kTrace, 0, "%p: restart", static_cast<void*>(this));
    m_pauseRound = n;
    m_state = State::Pause;
}

void CHTTPConnection::FinishExchange() {
    Trace(kTrace, 0, "%p: done reading", static_cast<void*>(this));
    // A request that the reply cut short will never be written whole.
    if (!m_doneWriting)
        m_request->Abort();
    // The peer answered: it has every byte it took in.
    m_request->SetUnsent(0);
    m_request = nullptr;
    m_doneWriting = false;
    m_state = State::Done;
}

void CHTTPConnection::FailExchange(const std::string& text) {
    if (m_request != nullptr) {
        m_request->Abort();
        m_request = nullptr;
    }
    m_doneWriting = false;
    m_state = State::Done;
    if (m_response != nullptr) {
        m_response->SetError(0, text);
        m_response = nullptr;
    }
}

void CHTTPConnection::EndAfterFailures(const CNetworkException& e) {
    m_lastErrorCode = e.GetError();
    FailExchange(e.GetText());
    Trace(kTrace, 0, "close: exception max retries: %d", e.GetError());
    AskToStop();
}

void CHTTPConnection::CloseSocket() {
    if (!m_socket)
        return;
    try {
        // Both ways, so that closing does not wait for a peer that keeps the connection open.
        if (m_socket->IsValid()) {
            if (m_socket->IsOpenForWriting())
                m_socket->ShutdownWrite();
            if (m_socket->IsOpenForReading())
                m_socket->ShutdownRead();
        }
    } catch (...) {
        // Closing goes on whatever the socket says.
    }
    m_socket.reset();
}
