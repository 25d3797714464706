// One HTTP/1.1 POST request as it is to be sent: the caller adds headers and writes the entity (the
// request is an output stream for it), then hands it to a connection, whose worker thread writes it in
// pieces of at most kPiece bytes. The bytes live in four blocks sent in order: the request line with
// the "Host", "content-length" and "Connection" lines, the caller's headers, the authorization (which
// ends the header section itself when present), and the entity. The entity is either written into
// the request or comes from a source (a picture of hundreds of megabytes is never held whole): the
// source's bytes pass through a window of kEntityWindow bytes as they go out.
//
// Threads: before Submit the submitter's thread alone uses the request. From Submit on, the
// connection's worker alone calls the internal operations (write step, reset, abort, authorization)
// and alone touches the source; the submitter may then only wait on the completion event and read
// GetEntityBytesWritten and GetEntityFailure. m_progressLock guards the byte counts and the failure
// that these read; the event locks itself.
#pragma once

#include "foundation/event.h"
#include "foundation/output_stream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

class CHTTPAuthenticate;
class CHTTPAuthResponse;
class CSocket;
class IHTTPEntitySource;

class CHTTPRequest : public IOutputStream {
public:
    // Network transfers move in pieces of at most this size.
    static constexpr size_t kPiece = 1024;
    // Bytes of a source's entity read at a time and held while they go out.
    static constexpr size_t kEntityWindow = 16384;

    // The authorization that the request carries: the authenticator that made it and its answer.
    struct Authorization {
        std::unique_ptr<CHTTPAuthenticate> authenticator;
        std::unique_ptr<CHTTPAuthResponse> response;
        Authorization();
        Authorization(Authorization&&) noexcept;
        Authorization& operator=(Authorization&&) noexcept;
        ~Authorization();
    };

    // `maxRetries`: how often the connection sends the request again after a network error.
    explicit CHTTPRequest(int maxRetries);
    ~CHTTPRequest() override;
    CHTTPRequest(const CHTTPRequest&) = delete;
    CHTTPRequest& operator=(const CHTTPRequest&) = delete;

    // --- for the submitter, before Submit ---
    // Appends "name: value" to the headers. "Content-Length" and "Connection" (in any case) are
    // ignored: the request writes its own. Raises COutputStreamClosedException once the request is
    // closed, and CHTTPBadHeaderException for a name or value holding CR or LF, which would let the
    // text add header lines of its own.
    void AddHeader(const std::string& name, const std::string& value);

    // The entity. Raises COutputStreamClosedException once the request is closed, and
    // CHTTPBadEntityException once the entity comes from a source.
    size_t Write(size_t count, const void* buffer) override;
    void Write(const char* text);
    void Write(const std::string& text);
    // Makes room for an entity of about `bytes` at once, so that a large body is not copied again
    // and again as it grows. Only a hint: the entity may end up shorter or longer.
    void ReserveEntity(size_t bytes) { m_blocks[kEntity].reserve(bytes); }
    // The entity comes from `source` (owned from now on) instead of what was written. Raises
    // COutputStreamClosedException once the request is closed, and CHTTPBadEntityException when
    // entity bytes were written already or a source was set before.
    void SetEntitySource(std::unique_ptr<IHTTPEntitySource> source);
    void Flush() override {}
    // No more headers and entity bytes.
    void CloseOutput() override { m_closed = true; }

    int GetMaxRetries() const { return m_maxRetries; }
    bool IsClosed() const { return m_closed; }

    // --- for the submitter, any time ---
    // Entity bytes written to the network so far (for progress): everything written minus the three
    // blocks before the entity, never below 0. After an abort it counts the whole entity.
    uint64_t GetEntityBytesWritten() const;
    // Set when everything has been written or the request was aborted.
    CEvent& GetCompletionEvent() { return m_completion; }
    bool IsAborted() const { return m_aborted; }
    // What the entity's source raised, or null. A request whose source failed fails for good: every
    // later write step raises the same, so no body goes out that differs from its declared length.
    std::exception_ptr GetEntityFailure() const;

    // --- for the connection (its Submit, then its worker) ---
    // Where the request goes and whether through a proxy (the request line then carries the whole URI).
    void SetURI(const std::string& uri, bool viaProxy);
    const std::string& GetURI() const { return m_uri; }
    // Builds the request-line block, ends the header section unless an authorization does, and
    // closes the request. Raises CHTTPRequestResubmitted when already submitted and
    // CHTTPInvalidURIException for a URI that is not "http" or has no host.
    void Submit();
    bool IsSubmitted() const { return m_submitted; }
    // Writes at most kPiece bytes with time-out 0; true when the request has been written whole.
    // Raises what the entity's source raises (see GetEntityFailure) and CHTTPEntityLengthException
    // when the source ends before its length.
    bool WriteStep(CSocket& socket);
    // Back to the first byte, for sending the request again; also resets the completion event.
    void ResetWritePosition();
    // Gives up: counts everything as written and sets the completion event.
    void Abort();
    // How many of the bytes written the socket still holds unsent; GetEntityBytesWritten leaves them
    // out, so that a send buffer of megabytes does not show a picture as sent before it left.
    void SetUnsent(uint64_t bytes);

    // --- for the challenge answer ---
    // Stores the authenticator and its answer and writes the authorization block ("Proxy-Authorization"
    // when `proxyAuth`, else "Authorization"); an NTLM answer to a proxy also switches the request to
    // "Connection: Keep-Alive". The request must be submitted again before it is sent.
    void SetAuthorization(std::unique_ptr<CHTTPAuthenticate> authenticator,
                          std::unique_ptr<CHTTPAuthResponse> response, bool proxyAuth);
    // Removes the authorization block and hands the stored authenticator and answer over.
    Authorization TakeAuthorization();
    bool IsProxyAuthorization() const { return m_proxyAuth; }
    bool IsNtlmKeepAlive() const { return m_ntlmKeepAlive; }

private:
    enum Section : size_t { kRequestLine, kHeaders, kAuthorization, kEntity, kSections };

    void BuildRequestLine();
    uint64_t GetEntityLength() const;
    uint64_t SectionSize(size_t section) const;
    // True when every section from `section` on has been written up to its end, the current one up
    // to `offset`.
    bool IsWrittenFrom(size_t section, uint64_t offset) const;
    // The unwritten bytes of the current section from the write position, at least one; a source's
    // entity is read into the window when it holds none of them.
    std::pair<const char*, size_t> PendingBytes();
    void FillWindow();
    // Undoes Submit's closing of the header section so that an authorization block can end it.
    void Unsubmit();
    // Brings m_overhead in line with the block sizes; called whenever one of the first three changes.
    void UpdateOverhead();
    void CheckOpen() const;

    const int m_maxRetries;
    bool m_closed = false;
    bool m_submitted = false;
    bool m_aborted = false;
    std::string m_uri;
    bool m_viaProxy = false;
    std::array<std::string, kSections> m_blocks;
    bool m_headersTerminated = false;
    bool m_ntlmKeepAlive = false;

    // The write position, the worker's.
    size_t m_section = kRequestLine;
    uint64_t m_offset = 0;

    // The entity's source, owned, and the window: its bytes from m_windowStart on, up to where the
    // source has been read. All the worker's once submitted.
    std::unique_ptr<IHTTPEntitySource> m_source;
    std::unique_ptr<char[]> m_window; // kEntityWindow bytes, with a source only
    size_t m_windowSize = 0;
    uint64_t m_windowStart = 0;

    Authorization m_authorization;
    bool m_proxyAuth = false;

    // A plain mutex: the worker takes it for every piece written, and nothing else waits on it.
    mutable std::mutex m_progressLock;
    uint64_t m_written = 0;             // guarded: bytes written of all four blocks
    uint64_t m_overhead = 0;            // guarded: the sizes of the three blocks before the entity
    uint64_t m_unsent = 0;              // guarded: of m_written, what the socket still holds
    std::exception_ptr m_entityFailure; // guarded: what the source raised

    CEvent m_completion;
};
