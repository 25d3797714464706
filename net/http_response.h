// One HTTP/1.1 reply, parsed as it arrives and handed on as a stream. The connection's worker thread
// calls ReadStep each time its socket is readable; the reader takes the header block, decides how the
// body is framed (chunked, by length, until the server closes, or multipart/byteranges) and moves body
// bytes into a pipe, from which the thread that submitted the request reads them.
//
// The submitter sees only the outcome of the exchange: a reply is shown to it once its final status
// line and headers have been read (and not answered by the connection), a failure only once the
// connection gives up on the exchange (SetError). An attempt that fails and is sent again stays out of
// sight, unless the submitter already took part of it; then the body breaks instead.
//
// Threads: the worker calls ReadStep, WakeReader, RedirectBodyToDiscard, Reset, SetError and the
// non-waiting accessors (GetStatusNow, FindHeader); the submitter calls the waiting accessors and reads
// the body. m_lock guards the current attempt's status line and headers, what is shown to the
// submitter, and m_statusRead; m_shown changes only under it. The pipes lock themselves; all other
// members belong to the worker.
#pragma once

#include "foundation/event.h"
#include "foundation/input_stream.h"
#include "foundation/mutex.h"
#include "net/http_body_pipe.h"
#include "net/http_response_input.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class CHTTPResponseException;
class CSocket;

// The response code that SetError stores for a response failure: 0 for the failures after which the
// request is sent again, 1 bad status, 2 bad header (also a missing or invalid challenge), 3 unknown
// encoding, 4 too big; 99 for any other failure.
int GetResponseCode(const CHTTPResponseException& e);
constexpr int kUnexpectedResponseCode = 99;

class CHTTPResponse : public IInputStream {
public:
    // What the next ReadStep expects. Header blocks and framing lines are collected in the line
    // buffer; body bytes go straight to the sink in pieces of at most kPiece bytes.
    enum class State {
        HeaderBlock,     // the reply's header block, up to the blank line
        InterimSkipped,  // an interim 1xx reply was skipped; the next header block is expected
        BodyUntilClose,  // body bytes until the server closes
        BodyByLength,    // body of m_contentLength bytes
        ChunkSize,       // a chunk-size line (or the line end after a chunk's data)
        ChunkData,       // m_remaining bytes of the current chunk
        Trailer,         // the trailer after the last chunk, up to the blank line
        BoundaryLine,    // a multipart boundary line (blank lines between parts are skipped)
        PartHeaderBlock, // a part's header block, which names its byte range
        PartData,        // m_remaining bytes of the current part
    };

    // Bytes a header block, trailer, part header block or framing line may take before the reply
    // is refused as too big.
    static constexpr size_t kMaxLineBuffer = 64 * 1024;
    // Network transfers move in pieces of at most this size.
    static constexpr size_t kPiece = 1024;
    // The longest a step waits for the submitter to make room in a full pipe; the worker must see a
    // stop request within about this time.
    static constexpr double kRoomWait = 0.1;

    CHTTPResponse();
    ~CHTTPResponse() override;
    CHTTPResponse(const CHTTPResponse&) = delete;
    CHTTPResponse& operator=(const CHTTPResponse&) = delete;

    // --- for the submitter ---
    // The accessors marked "waits" first wait without limit until a reply or the failure of the
    // exchange is shown: a 1xx reply, a challenge that the connection answers (whose body goes to the
    // discard pipe) and an attempt that is sent again do not wake them.

    // True once a status line of the current attempt has been read, an interim 1xx one included.
    bool HasStatus() const;
    // The status code, or the response code of the failure (waits).
    int GetStatus();
    // The reason phrase, or the failure's text (waits).
    std::string GetReason();
    // The value under `name` as given (stored names are lower case); raises CHTTPNoHeaderException
    // when absent (waits).
    std::string GetHeader(const std::string& name);
    // All headers in name order (waits).
    std::map<std::string, std::string> GetHeaders();

    // The body. Wait is true when data is waiting or the body has ended within `timeout` seconds;
    // Read and Peek without a time-out block until then; 0 bytes means the end.
    bool Wait(double timeout);
    size_t Read(size_t count, void* buffer) override;
    size_t Peek(size_t count, void* buffer) override;
    size_t Read(size_t count, void* buffer, double timeout);
    size_t Peek(size_t count, void* buffer, double timeout);
    void CloseInput() override;
    // Set while body data is waiting or the body has ended, for a wait on several objects.
    CEvent& GetEvent() { return m_main.GetReadyEvent(); }

    // --- for the connection's worker ---
    // When a step wakes a reader waiting for body bytes: after every step, or only for a batch, at the
    // end of the body and at WakeReader (for a worker that reads several steps before it waits).
    enum class Wake { EachStep, Batched };
    // One step of the current state, reading once from `input`; true when the response is complete
    // (or has failed: there is nothing more to read). A step that finds nothing waiting does nothing.
    // A failure resets the response when the request may be sent again
    // (CHTTPRestartableResponseException); any other failure is held, with its response code and text
    // replacing even a final status since the reply as delivered is not the server's, and shown only
    // when the connection gives up (SetError); a Reset drops it. Either way the exception is raised
    // again.
    bool ReadStep(CSocket& socket, Wake wake = Wake::EachStep);
    bool ReadStep(IHTTPResponseInput& input, Wake wake = Wake::EachStep);
    // Wakes a reader for the body bytes that wait unannounced; a worker that steps with Wake::Batched
    // calls it before it blocks.
    void WakeReader() { m_main.Flush(); }
    // Called inside ReadStep when a final (not 1xx) status line and its headers have been read, before
    // any body byte is delivered and before a reply without a body completes; true sends the body to
    // the discard pipe. The connection answers authentication challenges here, so that the submitter
    // never sees a reply that is answered by sending the request again. An exception from the hook
    // fails the step as an error in the reply would. Kept across Reset.
    using FinalStatusHook = std::function<bool(CHTTPResponse&)>;
    void SetFinalStatusHook(FinalStatusHook hook) { m_finalStatusHook = std::move(hook); }
    // The most body bytes a reply may bring, whatever its framing, before it fails as too big
    // (CHTTPResponseTooBigException); 0, the default, for no bound. Kept across Reset.
    void SetMaxBody(uint64_t bytes) { m_maxBody = bytes; }
    // Body bytes from now on go to the discard pipe.
    void RedirectBodyToDiscard() { m_sink = &m_discard; }
    bool IsBodyDiscarded() const { return m_sink == &m_discard; }
    // Ready to read a new reply from the start, without the submitter noticing. Body bytes that it has
    // not taken are dropped. If it has taken some, or has seen the status or headers of the reply, the
    // body stream breaks (see CHTTPBodyPipe::Break): the next attempt would deliver them a second time.
    void Reset();
    // The connection gives up: the failure is shown to the submitter. Its status and reason become
    // those of the failure that ReadStep held, or else `code` and `text`, and there are no headers. The
    // body ends at once, or breaks when the submitter has taken part of it or seen the reply's status
    // or headers, so that a cut body never looks whole. Does nothing once the response is complete.
    void SetError(int code, const std::string& text);

    // Without waiting, for the worker, which must never wait on its own pipe.
    int GetStatusNow() const;
    std::optional<std::string> FindHeader(const std::string& name) const;

    State GetState() const { return m_state; }
    bool IsComplete() const { return m_complete; }
    bool IsFailed() const { return m_failed; }
    int GetMajorVersion() const;
    int GetMinorVersion() const;
    uint64_t GetBodyBytes() const { return m_bodyBytes; }
    uint64_t GetOtherBytes() const { return m_otherBytes; }

private:
    // The steps; each returns true when the response is complete.
    bool ReadHeaderBlock(IHTTPResponseInput& input);
    bool ReadBodyUntilClose(IHTTPResponseInput& input);
    bool ReadBodyByLength(IHTTPResponseInput& input);
    bool ReadChunkSize(IHTTPResponseInput& input);
    bool ReadChunkOrPartData(IHTTPResponseInput& input);
    bool ReadTrailer(IHTTPResponseInput& input);
    bool ReadBoundaryLine(IHTTPResponseInput& input);
    bool ReadPartHeaderBlock(IHTTPResponseInput& input);

    bool Step(IHTTPResponseInput& input);
    // Moves bytes from `input` into the line buffer up to and including `terminator`, consuming
    // exactly what was taken; true when the terminator is in.
    bool ReadUpTo(IHTTPResponseInput& input, std::string_view terminator);
    // Empties the line buffer, counting what came from the input in m_otherBytes.
    std::string TakeLine();
    // Puts bytes that did not come from the input into the emptied line buffer.
    void Prime(std::string_view bytes);
    // The size of the next read: at most `limit` and kPiece bytes, and no more than the input holds
    // already when it holds some, so that the bytes left after a framing line are taken without a
    // second, tiny system call to make up the piece.
    static size_t PieceSize(const IHTTPResponseInput& input, uint64_t limit);
    // Room in the sink for up to `count` body bytes; empty when the sink stays full for kRoomWait.
    CHTTPBodyPipe::Space GetBodySpace(size_t count);
    // One body piece of at most `limit` bytes read and delivered: its size, or 0 when nothing can move
    // now (no room in the pipe, no data yet), with `ended` set when the input has ended instead.
    size_t ReadBodyPiece(IHTTPResponseInput& input, uint64_t limit, bool& ended);
    bool Complete();
    // Records a failure of the reply for the worker, to be shown only if the connection gives up.
    void HoldFailure(int code, const std::string& text);
    // Shows the current attempt's final reply to the submitter.
    void ShowReply();
    // Waits until something is shown, then runs `take` under m_lock.
    template <typename Take>
    auto TakeShown(Take take);

    mutable CMutex m_lock;
    // Guarded by m_lock: the current attempt, as the worker reads it.
    bool m_statusRead = false;
    int m_majorVersion = 0;
    int m_minorVersion = 0;
    int m_status = 0;
    std::string m_reason;
    std::map<std::string, std::string> m_headers;
    // Guarded by m_lock: what the submitter sees.
    bool m_shownValid = false;   // a reply or the failure is shown; mirrored by m_shown
    bool m_shownIsReply = false; // ... and it is a reply's, not a failure's
    bool m_replySeen = false;    // a waiting accessor has returned the shown reply's status or headers
    int m_shownStatus = 0;
    std::string m_shownReason;
    std::map<std::string, std::string> m_shownHeaders;
    CEvent m_shown{false};

    // The worker's alone.
    State m_state = State::HeaderBlock;
    bool m_complete = false;
    bool m_failed = false;       // held or shown; no more steps
    bool m_failureShown = false; // SetError has shown the failure
    bool m_failureHeld = false;  // a failure of the reply waits for SetError or Reset
    int m_heldCode = 0;
    std::string m_heldText;
    std::string m_line;          // the line buffer, at most kMaxLineBuffer + kPiece bytes
    size_t m_primed = 0;         // bytes at the start of m_line that were put there, not received
    int32_t m_contentLength = 0; // for BodyByLength
    uint64_t m_remaining = 0;    // bytes left of the current chunk or part
    std::string m_boundary;      // "--" and the multipart boundary
    uint64_t m_maxBody = 0;      // 0: no bound
    uint64_t m_bodyBytes = 0;    // body bytes received
    uint64_t m_otherBytes = 0;   // header and framing bytes; the body's are added at completion

    CHTTPBodyPipe m_main;
    CHTTPBodyPipe m_discard{CHTTPBodyPipe::Retention::Drop};
    CHTTPBodyPipe* m_sink = &m_main; // the pipe that receives body bytes
    FinalStatusHook m_finalStatusHook;
};
