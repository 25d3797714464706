// One HTTP/1.1 exchange carried from start to end on a worker thread of its own: the connection owns
// the socket, writes the request, feeds the response reader, answers authentication challenges by
// sending the request again, and retries after network errors with growing pauses. A connection
// serves one request in its life: the submitter creates it, submits, waits for the response and
// destroys it.
//
// A connection is used as it is, never derived from: what a kind of connection adds goes around it
// (it holds one) or into the challenge answerer it owns. So the worker, which runs on the connection's
// own members, is stopped by the destructor before any of them goes.
//
// Threads: the submitter's thread constructs, configures (SetConnectTimeout, AddAuthenticator,
// SetUnknownSchemeCallback, SetChallengeAnswerer, the authFailed listeners), calls Submit once and
// destroys the connection; everything else runs on the worker, which alone touches the socket, the
// request and the response from Submit on. The configuration is read by the worker only after Submit
// has started it, so it needs no lock; the state and lastErrorCode are atomic because other threads
// read them while the worker may still run. The authFailed list locks itself.
#pragma once

#include "foundation/listener_list.h"
#include "foundation/runnable.h"
#include "foundation/thread.h"
#include "platform/winsock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

class CHTTPAuthenticate;
class CHTTPAuthenticationException;
class IHTTPChallengeAnswerer;
class CHTTPRequest;
class CRateLimit;
class CHTTPResponse;
class CNetworkException;
class CSocket;

// Told to the authFailed listeners when a challenge could not be answered; the 401 or 407 reply then
// reaches the submitter as the final response. The exception lives only during the delivery.
class CHTTPAuthFailedEvent : public CListenerEvent {
public:
    CHTTPAuthFailedEvent(bool proxy, const CHTTPAuthenticationException& exception)
        : m_proxy(proxy), m_exception(exception) {}
    // True for a proxy's challenge (407), false for a server's (401).
    bool IsProxy() const { return m_proxy; }
    const CHTTPAuthenticationException& GetException() const { return m_exception; }

private:
    bool m_proxy;
    const CHTTPAuthenticationException& m_exception;
};

class CHTTPConnection;

// Given to the unknown-scheme callback, on the worker, when a challenge names a scheme without a
// registered prototype. The callback may register one (AddAuthenticator) and ask for the scheme to be
// looked up again with SetRetry(true); it is the only thing the callback changes in the event.
class CHTTPAuthRetryEvent : public CListenerEvent {
public:
    CHTTPAuthRetryEvent(CHTTPConnection& connection, CHTTPResponse& response)
        : m_connection(connection), m_response(response) {}
    CHTTPConnection& GetConnection() const { return m_connection; }
    CHTTPResponse& GetResponse() const { return m_response; }
    bool GetRetry() const { return m_retry; }
    void SetRetry(bool retry) const { m_retry = retry; }

private:
    CHTTPConnection& m_connection;
    CHTTPResponse& m_response;
    mutable bool m_retry = false; // the callback's answer; listeners receive events as const
};

class CHTTPConnection final : private CRunnable {
public:
    // Seconds of the pauses before the n-th retry are n * n times this; only tests change it.
    static constexpr double kRetryPauseUnit = 1.0;
    // Socket-creation failures tolerated in one exchange, each followed by a one-unit pause.
    static constexpr int kMaxSocketCreationFailures = 5;
    // The longest one wait on the socket lasts, so that a stop request is seen within this time.
    static constexpr double kSlice = 0.1;

    // Where the worker's exchange stands. The worker's Run dispatches on it; each state has one
    // method, which does one step (waiting at most kSlice on the socket) and leaves the next state.
    enum class State {
        // No socket: one is created for the target. A failure pauses one unit; more than
        // kMaxSocketCreationFailures of them end the exchange.
        Connect,
        // The request goes out and the reply comes in at once: a peer may answer, and close or reset
        // the connection, before it has read the whole request, so reading never waits for writing to
        // end. Once a final status has been read no more of the request is written. A complete reply
        // ends the exchange (Done); a challenge that the answerer answers moves to Discard.
        Exchange,
        // A challenge was answered: the rest of its reply goes to the response's discard pipe. When it
        // is complete the request goes again, on the same socket for an NTLM round to a proxy that
        // keeps the connection (Exchange), else on a new one (Connect); a reply cut by the peer is
        // as good as complete, on a new socket.
        Discard,
        // After a failure: m_pauseRound * m_pauseRound units on the stop event, then a new socket with
        // the request from its start (Connect).
        Pause,
        // The exchange has ended, complete or failed; the request has been dropped.
        Done,
    };

    // Resolves where to connect (the proxy's address when `useProxy` and a proxy applies to the URI).
    // Raises CHTTPInvalidURIException, CHostNotFoundException and CNoHostDataException. The socket
    // library must be held.
    CHTTPConnection(const std::string& uri, bool useProxy);
    // Stops the worker and waits for it without limit, before anything it uses goes; then closes the
    // socket.
    ~CHTTPConnection() override;
    CHTTPConnection(const CHTTPConnection&) = delete;
    CHTTPConnection& operator=(const CHTTPConnection&) = delete;

    // The connect time-out of every socket the worker creates (seconds; -1 for none).
    void SetConnectTimeout(double seconds) { m_connectTimeout = seconds; }
    // Seconds that may pass without progress while the request is written or its reply awaited
    // before the attempt fails as a network time-out (WinSock 10060), retried like any network
    // failure; 0 or less for none. Progress is a request byte sent or a byte of a final reply
    // received: interim 1xx replies do not count, so a peer that keeps sending "100 Continue" and
    // never answers is a stall too. A submitter that leaves the body pipe full stops the reading as
    // well, so a reply larger than the pipe must be read as it comes.
    void SetIdleTimeout(double seconds) { m_idleTimeout = seconds; }
    // The cap that this connection's request bytes share with other connections (null: none).
    void SetRateLimit(std::shared_ptr<CRateLimit> limit) { m_rateLimit = std::move(limit); }
    // The most body bytes a reply may bring before it is refused as too big (0: no bound), so that a
    // reply that never ends cannot keep the exchange going for ever.
    void SetMaxReplyBody(uint64_t bytes) { m_maxReplyBody = bytes; }
    // Registers a scheme's prototype under its scheme name, replacing an earlier one of that name.
    // The prototype is shared with its owner (the plugin object) and only cloned.
    void AddAuthenticator(std::shared_ptr<const CHTTPAuthenticate> prototype);
    // Installs the object told about challenges of an unknown scheme (null for none); owned.
    void SetUnknownSchemeCallback(std::unique_ptr<CListener> callback);
    // Receives a CHTTPAuthFailedEvent whenever a challenge could not be answered.
    CListenerList& GetAuthFailedListeners() { return m_authFailed; }
    // Replaces what answers 401 and 407 replies (owned); null restores the default, which answers
    // with the registered prototypes (CHTTPSchemeChallengeAnswerer).
    void SetChallengeAnswerer(std::unique_ptr<IHTTPChallengeAnswerer> answerer);

    // Sends `request` to `uri` and returns the response, shared with the worker until this connection
    // is destroyed. The request is the caller's and must outlive this connection. Raises
    // CSocketException when the connection has already been given a request, and what the request's
    // submit raises (CHTTPRequestResubmitted, CHTTPInvalidURIException).
    std::shared_ptr<CHTTPResponse> Submit(CHTTPRequest& request, const std::string& uri);

    bool UsesProxy() const { return m_useProxy; }
    const platform::WinSockAddrIn& GetTarget() const { return m_target; }
    // The WinSock number of the network exception that ended the exchange after its retries, -1 when
    // an unexpected exception ended it, 0 otherwise.
    int GetLastErrorCode() const { return m_lastErrorCode; }
    // The worker's state as last set; Connect until Submit has started the worker. Any thread may ask.
    State GetState() const { return m_state; }

    // For tests only: scales every pause of the retries (1.0 in the program, which always waits
    // 1, 4, 9, 16 and 25 seconds).
    static void SetRetryPauseScaleForTests(double scale);

    // For the challenge answerer, on the worker: a clone of the prototype registered for `scheme`;
    // when there is none, the unknown-scheme callback may register one and ask for another look. Null
    // when none is found.
    std::unique_ptr<CHTTPAuthenticate> CloneAuthenticator(const std::string& scheme, CHTTPResponse& response);

private:
    enum class SocketFate { Close, Keep };

    // Stops and joins the worker; nothing when there is none (any more).
    void StopWorker();
    void Run() override;
    // One step of the current state. Raises what Run's error handling sorts out.
    void Step();
    void Connect();
    void Exchange();
    void Discard();
    void Pause();

    // Waits in slices for what the state needs; 0 when asked to stop.
    unsigned WaitForSocket(unsigned what);
    // Starts the idle clock of the attempt on the current socket.
    void StartWatch();
    // Notes progress since the last call; raises CSocketException(10060) when there has been none
    // for the idle time-out.
    void WatchProgress();
    // True while the request still goes out: not all written, and no final reply begun.
    bool IsWriting() const;
    void WriteRequest();
    // Reads the reply while data keeps coming; its end moves the exchange on.
    void ReadResponse();
    // The response's final-status hook: answers a challenge before the submitter can see it.
    bool OnFinalStatus(CHTTPResponse& response);
    // After the answered challenge's reply: the request goes out again, on the same socket when an
    // NTLM round to a proxy that keeps the connection open needs it.
    void SendAgain();
    // Ready to send the request from its start: on the same socket (Exchange) or a new one (Connect).
    void Reconnect(SocketFate fate);
    // A network failure of the exchange: paused and retried while retries are left, else the end.
    void RetryAfter(const CNetworkException& e);
    // Moves to Pause before the n-th attempt.
    void Restart(int n);
    // The reply is complete and delivered: the request is dropped and the exchange is done.
    void FinishExchange();
    // Ends the exchange: the request is aborted and dropped, the response records `text`.
    void FailExchange(const std::string& text);
    // Ends the exchange after too many failures with `e`, and asks the worker to stop.
    void EndAfterFailures(const CNetworkException& e);
    void CloseSocket();

    platform::WinSockAddrIn m_target{};
    bool m_useProxy;
    double m_connectTimeout = -1.0;
    double m_idleTimeout = -1.0;
    std::shared_ptr<CRateLimit> m_rateLimit;
    uint64_t m_maxReplyBody = 0;
    std::map<std::string, std::shared_ptr<const CHTTPAuthenticate>> m_authenticators;
    std::unique_ptr<CListener> m_unknownSchemeCallback;
    std::unique_ptr<IHTTPChallengeAnswerer> m_answerer; // never null
    CListenerList m_authFailed;

    // The exchange; the worker drops both pointers when the exchange ends. The request is borrowed
    // from the submitter; the response is shared with it, so that it lives as long as the worker may
    // touch it whatever the submitter does.
    CHTTPRequest* m_request = nullptr;
    CHTTPResponse* m_response = nullptr;
    std::shared_ptr<CHTTPResponse> m_responseHolder;
    CThreadRef m_worker;
    // The worker's, from Submit on.
    std::atomic<State> m_state{State::Connect}; // read by any thread through GetState
    std::unique_ptr<CSocket> m_socket;          // present in Exchange and Discard
    bool m_doneWriting = false;                 // in Exchange: the whole request has gone out
    int m_pauseRound = 0;                       // in Pause: the n of the n * n units
    int m_retryCount = 0;
    int m_maxRetries = 5;
    int m_creationFailures = 0; // socket creations that failed in this exchange
    // The idle watch of the current attempt: when progress was last seen, and the socket's byte
    // counts then.
    std::chrono::steady_clock::time_point m_lastProgress;
    uint64_t m_sentSeen = 0;
    uint64_t m_receivedSeen = 0;
    std::atomic<int> m_lastErrorCode{0};
};
