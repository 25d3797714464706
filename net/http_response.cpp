#include "net/http_response.h"

#include "foundation/lock.h"
#include "foundation/reg_exp.h"
#include "net/http_headers.h"
#include "net/network_exception.h"
#include "net/socket.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";

// Groups: 1 first byte, 2 last byte. Searched in a part's whole header block.
const CRegExp& PartRangePattern() {
    static const CRegExp pattern("content-range:\\s*bytes\\s+(\\d+)-(\\d+)", CRegExp::kIgnoreCase);
    return pattern;
}

// Searched in the content-type value. Capture 1 is a quoted boundary, capture 2 a bare one.
const CRegExp& MultipartPattern() {
    static const CRegExp pattern("multipart/byteranges;.*boundary=<\"([^\"]+)\"|"
                                 "([0123456789abcdefghijklmnopqrstuvwxyz'+_.-]+)>",
                                 CRegExp::kIgnoreCase);
    return pattern;
}

struct ResponseCode {
    const char* code;
    int responseCode;
};

// What SetError stores as the status for each failure of a reply.
constexpr ResponseCode kResponseCodes[] = {
    {"EHTTPNORPLY", 0},     {"EHTTPRPLYTRUNC", 0},   {"EHTTPRPLYBADSTATUS", 1},   {"EHTTPRPLYBADHEADER", 2},
    {"EHTTPAUTHNOCHAL", 2}, {"EHTTPAUTHBADCHAL", 2}, {"EHTTPRPLYBADENCODING", 3}, {"EHTTPRPLYTOOBIG", 4},
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// A number read with the C library's strtoul rules (leading white space, a sign, "0x" before
// hexadecimal digits), but reporting instead of saturating when it passes `limit`.
struct ScannedNumber {
    uint64_t value = 0;
    bool negative = false;
    bool anyDigits = false;
    bool overflow = false;
    size_t end = 0; // the index after the number, or 0 when no digit was read
};

ScannedNumber ScanNumber(std::string_view text, int base, uint64_t limit) {
    ScannedNumber number;
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        number.negative = text[i++] == '-';
    if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        DigitValue(text[i + 2]) < 16)
        i += 2;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        number.anyDigits = true;
        if (!number.overflow)
            number.value =
                number.value * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(text[i]));
        if (number.value > limit)
            number.overflow = true;
        number.end = i + 1;
    }
    return number;
}

bool IsNegative(const ScannedNumber& number) {
    return number.negative && (number.value != 0 || number.overflow);
}

std::string_view TrimTrailingBlanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return lower;
}

// The content-length value: a signed decimal number that must fit in 32 bits. A 0 without digits or
// with text after it is refused; text after any other number is ignored, and so are blanks after 0.
int32_t ParseContentLength(std::string_view value) {
    ScannedNumber number = ScanNumber(value, 10, INT32_MAX);
    if (IsNegative(number))
        throw CHTTPBadResponseHeaderException();
    if (number.overflow)
        throw CHTTPResponseTooBigException();
    if (number.value == 0 && (!number.anyDigits || !TrimTrailingBlanks(value.substr(number.end)).empty()))
        throw CHTTPBadResponseHeaderException();
    return static_cast<int32_t>(number.value);
}

// A chunk-size line: hexadecimal digits at its start, then anything (chunk extensions).
uint32_t ParseChunkSize(std::string_view line) {
    ScannedNumber number = ScanNumber(line, 16, UINT32_MAX);
    if (!number.anyDigits || IsNegative(number))
        throw CHTTPBadResponseHeaderException();
    if (number.overflow)
        throw CHTTPResponseTooBigException();
    return static_cast<uint32_t>(number.value);
}

// A byte position of a part's range: decimal digits only (the pattern saw to that).
uint32_t ParseRangePosition(std::string_view digits) {
    ScannedNumber number = ScanNumber(digits, 10, UINT32_MAX);
    if (number.overflow)
        throw CHTTPResponseTooBigException();
    return static_cast<uint32_t>(number.value);
}

// How the body of a final reply is framed.
struct Framing {
    CHTTPResponse::State state = CHTTPResponse::State::BodyUntilClose;
    int32_t contentLength = 0;
    std::string boundary;
};

Framing DecideFraming(const CHTTPHeaders& headers) {
    Framing framing;
    if (const std::string* encoding = headers.Find("transfer-encoding")) {
        std::string lower = ToLower(TrimTrailingBlanks(*encoding));
        if (lower == "chunked") {
            framing.state = CHTTPResponse::State::ChunkSize;
            return framing;
        }
        if (lower != "identity")
            throw CHTTPUnknownEncodingException();
    }
    if (const std::string* length = headers.Find("content-length")) {
        framing.state = CHTTPResponse::State::BodyByLength;
        framing.contentLength = ParseContentLength(*length);
    }
    if (const std::string* type = headers.Find("content-type")) {
        CRegExp multipart = MultipartPattern();
        if (multipart.Match(*type)) {
            int group = multipart.GetGroupStart(1) >= 0 ? 1 : 2;
            framing.boundary = "--" + type->substr(static_cast<size_t>(multipart.GetGroupStart(group)),
                                                   static_cast<size_t>(multipart.GetGroupLength(group)));
            framing.state = CHTTPResponse::State::BoundaryLine;
        }
    }
    return framing;
}

// The socket as a reply source: one attempt without blocking per call.
class CSocketInput : public IHTTPResponseInput {
public:
    explicit CSocketInput(CSocket& socket) : m_socket(socket) {}
    size_t Peek(size_t count, void* buffer) override { return m_socket.Peek(count, buffer, 0); }
    size_t Read(size_t count, void* buffer) override { return m_socket.Read(count, buffer, 0); }
    bool HasEndedByError() const override { return m_socket.GetEndError() != 0; }
    bool WouldBlock() const override { return m_socket.IsReadDry(); }
    size_t GetBufferedCount() const override { return m_socket.GetBufferedCount(); }

private:
    CSocket& m_socket;
};

} // namespace

int GetResponseCode(const CHTTPResponseException& e) {
    for (const ResponseCode& entry : kResponseCodes)
        if (std::strcmp(entry.code, e.GetCode()) == 0)
            return entry.responseCode;
    return kUnexpectedResponseCode;
}

CHTTPResponse::CHTTPResponse() = default;

CHTTPResponse::~CHTTPResponse() = default;

// --- for the submitter ---------------------------------------------------------------------------

bool CHTTPResponse::HasStatus() const {
    CLock lock(m_lock);
    return m_statusRead && m_status != 0;
}

template <typename Take>
auto CHTTPResponse::TakeShown(Take take) {
    for (;;) {
        m_shown.Lock(-1);
        CLock lock(m_lock);
        // A Reset may have withdrawn what woke this wait before the lock was taken.
        if (!m_shownValid)
            continue;
        if (m_shownIsReply)
            m_replySeen = true;
        return take();
    }
}

int CHTTPResponse::GetStatus() {
    return TakeShown([&] { return m_shownStatus; });
}

std::string CHTTPResponse::GetReason() {
    return TakeShown([&] { return m_shownReason; });
}

std::string CHTTPResponse::GetHeader(const std::string& name) {
    std::optional<std::string> value = TakeShown([&]() -> std::optional<std::string> {
        auto it = m_shownHeaders.find(name);
        if (it == m_shownHeaders.end())
            return std::nullopt;
        return it->second;
    });
    if (!value)
        throw CHTTPNoHeaderException(name);
    return *value;
}

std::map<std::string, std::string> CHTTPResponse::GetHeaders() {
    return TakeShown([&] { return m_shownHeaders; });
}

bool CHTTPResponse::Wait(double timeout) {
    return m_main.Wait(timeout);
}

size_t CHTTPResponse::Read(size_t count, void* buffer) {
    return m_main.Read(count, buffer, -1);
}

size_t CHTTPResponse::Peek(size_t count, void* buffer) {
    return m_main.Peek(count, buffer, -1);
}

size_t CHTTPResponse::Read(size_t count, void* buffer, double timeout) {
    return m_main.Read(count, buffer, timeout);
}

size_t CHTTPResponse::Peek(size_t count, void* buffer, double timeout) {
    return m_main.Peek(count, buffer, timeout);
}

void CHTTPResponse::CloseInput() {
    m_main.Close();
}

int CHTTPResponse::GetStatusNow() const {
    CLock lock(m_lock);
    return m_status;
}

std::optional<std::string> CHTTPResponse::FindHeader(const std::string& name) const {
    CLock lock(m_lock);
    auto it = m_headers.find(name);
    if (it == m_headers.end())
        return std::nullopt;
    return it->second;
}

int CHTTPResponse::GetMajorVersion() const {
    CLock lock(m_lock);
    return m_majorVersion;
}

int CHTTPResponse::GetMinorVersion() const {
    CLock lock(m_lock);
    return m_minorVersion;
}

// --- for the worker ------------------------------------------------------------------------------

bool CHTTPResponse::ReadStep(CSocket& socket, Wake wake) {
    CSocketInput input(socket);
    return ReadStep(input, wake);
}

bool CHTTPResponse::ReadStep(IHTTPResponseInput& input, Wake wake) {
    if (m_complete || m_failed)
        return true;
    try {
        bool complete = Step(input);
        if (wake == Wake::EachStep)
            m_main.Flush();
        return complete;
    } catch (const CHTTPRestartableResponseException&) {
        Reset();
        throw;
    } catch (const CHTTPResponseException& e) {
        // A reply that breaks down after its status line is not reported with that status: its body
        // as delivered is not the server's.
        HoldFailure(GetResponseCode(e), e.GetText());
        throw;
    } catch (const CException& e) {
        HoldFailure(kUnexpectedResponseCode, e.GetText());
        throw;
    } catch (...) {
        HoldFailure(kUnexpectedResponseCode, GetUnknownExceptionText());
        throw;
    }
}

bool CHTTPResponse::Step(IHTTPResponseInput& input) {
    switch (m_state) {
    case State::HeaderBlock:
    case State::InterimSkipped:
        return ReadHeaderBlock(input);
    case State::BodyUntilClose:
        return ReadBodyUntilClose(input);
    case State::BodyByLength:
        return ReadBodyByLength(input);
    case State::ChunkSize:
        return ReadChunkSize(input);
    case State::ChunkData:
    case State::PartData:
        return ReadChunkOrPartData(input);
    case State::Trailer:
        return ReadTrailer(input);
    case State::BoundaryLine:
        return ReadBoundaryLine(input);
    case State::PartHeaderBlock:
        return ReadPartHeaderBlock(input);
    }
    return false;
}

void CHTTPResponse::Reset() {
    m_state = State::HeaderBlock;
    m_complete = false;
    m_failed = false;
    m_line.clear();
    m_primed = 0;
    m_contentLength = 0;
    m_remaining = 0;
    m_boundary.clear();
    m_bodyBytes = 0;
    m_otherBytes = 0;
    m_failureShown = false;
    m_failureHeld = false;
    m_heldCode = 0;
    m_heldText.clear();
    // Bytes the submitter took break the pipe here; what it has not taken goes.
    m_main.Reset();
    m_discard.Reset();
    m_sink = &m_main;
    bool broken = m_main.IsBroken();
    bool seen = false;
    {
        CLock lock(m_lock);
        m_statusRead = false;
        m_majorVersion = 0;
        m_minorVersion = 0;
        m_status = 0;
        m_reason.clear();
        m_headers.clear();
        // A reply the submitter has not looked at is withdrawn until the next attempt shows its own;
        // one it has seen stays, with a broken body.
        seen = m_replySeen;
        m_replySeen = false;
        if (m_shownValid && !seen && !broken) {
            m_shownValid = false;
            m_shownIsReply = false;
            m_shown.Reset();
        }
    }
    if (seen)
        m_main.Break();
}

void CHTTPResponse::SetError(int code, const std::string& text) {
    if (m_complete || m_failureShown)
        return;
    // The reply's own failure, when one is held, is what ended the exchange.
    int status = m_failureHeld ? m_heldCode : code;
    std::string reason = m_failureHeld ? m_heldText : text;
    bool seen = false;
    {
        CLock lock(m_lock);
        m_status = status;
        m_reason = reason;
        m_headers.clear();
        seen = m_replySeen;
        m_shownStatus = status;
        m_shownReason = reason;
        m_shownHeaders.clear();
        m_shownIsReply = false;
        m_shownValid = true;
        m_shown.Set();
    }
    m_failed = true;
    m_failureShown = true;
    m_failureHeld = false;
    m_line.clear();
    m_primed = 0;
    if (seen)
        m_main.Break();
    else
        m_main.Fail();
    m_discard.End();
}

void CHTTPResponse::HoldFailure(int code, const std::string& text) {
    {
        CLock lock(m_lock);
        m_status = code;
        m_reason = text;
        m_headers.clear();
    }
    m_failed = true;
    m_failureHeld = true;
    m_heldCode = code;
    m_heldText = text;
    m_line.clear();
    m_primed = 0;
}

void CHTTPResponse::ShowReply() {
    CLock lock(m_lock);
    m_shownStatus = m_status;
    m_shownReason = m_reason;
    m_shownHeaders = m_headers;
    m_shownIsReply = true;
    m_shownValid = true;
    m_replySeen = false;
    m_shown.Set();
}

bool CHTTPResponse::Complete() {
    m_complete = true;
    m_otherBytes += m_bodyBytes;
    m_sink->End();
    return true;
}

void CHTTPResponse::Prime(std::string_view bytes) {
    m_line.assign(bytes);
    m_primed = bytes.size();
}

std::string CHTTPResponse::TakeLine() {
    m_otherBytes += m_line.size() - m_primed;
    m_primed = 0;
    std::string line;
    line.swap(m_line);
    return line;
}

bool CHTTPResponse::ReadUpTo(IHTTPResponseInput& input, std::string_view terminator) {
    char piece[kPiece];
    size_t peeked = input.Peek(PieceSize(input, kPiece), piece);
    if (peeked == 0 && input.WouldBlock())
        return false;
    if (peeked == 0) {
        // The server closed. Before any byte of the reply that is no reply at all; later it is a
        // reply cut short, though both let the request be sent again.
        if (m_state == State::HeaderBlock && m_line.empty())
            throw CHTTPNoResponseException();
        throw CHTTPUnexpectedEndOfResponseException();
    }
    size_t oldEnd = m_line.size();
    m_line.append(piece, peeked);
    // A terminator split across two reads starts up to |T| - 1 bytes before the old end.
    size_t from = oldEnd >= terminator.size() - 1 ? oldEnd - (terminator.size() - 1) : 0;
    size_t at = m_line.find(terminator, from);
    if (at == std::string::npos) {
        input.Read(peeked, nullptr);
        if (m_line.size() > kMaxLineBuffer)
            throw CHTTPResponseTooBigException();
        return false;
    }
    // Take exactly the peeked bytes up to the end of the terminator: what follows stays in the input.
    size_t end = at + terminator.size();
    m_line.resize(end);
    if (end > oldEnd)
        input.Read(end - oldEnd, nullptr);
    if (end > kMaxLineBuffer)
        throw CHTTPResponseTooBigException();
    return true;
}

size_t CHTTPResponse::PieceSize(const IHTTPResponseInput& input, uint64_t limit) {
    size_t count = static_cast<size_t>(std::min<uint64_t>(kPiece, limit));
    size_t buffered = input.GetBufferedCount();
    return buffered > 0 ? std::min(count, buffered) : count;
}

CHTTPBodyPipe::Space CHTTPResponse::GetBodySpace(size_t count) {
    CHTTPBodyPipe::Space space = m_sink->GetSpace(count);
    if (space.size == 0 && m_sink->WaitForRoom(kRoomWait))
        space = m_sink->GetSpace(count);
    return space;
}

bool CHTTPResponse::ReadHeaderBlock(IHTTPResponseInput& input) {
    if (!ReadUpTo(input, kBlankLine))
        return false;
    CHTTPHeaders headers = CHTTPHeaders::Parse(TakeLine());
    if (headers.IsInterim()) {
        CLock lock(m_lock);
        m_statusRead = true;
        m_majorVersion = headers.GetMajorVersion();
        m_minorVersion = headers.GetMinorVersion();
        m_status = headers.GetStatus();
        m_reason = headers.GetReason();
        m_state = State::InterimSkipped;
        return false;
    }
    // Everything is checked before anything is published, so that a bad block leaves no status.
    Framing framing = DecideFraming(headers);
    {
        CLock lock(m_lock);
        m_statusRead = true;
        m_majorVersion = headers.GetMajorVersion();
        m_minorVersion = headers.GetMinorVersion();
        m_status = headers.GetStatus();
        m_reason = headers.GetReason();
        m_headers = headers.TakeFields();
    }
    m_state = framing.state;
    m_contentLength = framing.contentLength;
    m_boundary = std::move(framing.boundary);
    if (m_finalStatusHook && m_finalStatusHook(*this))
        RedirectBodyToDiscard();
    else
        ShowReply();
    if (m_state == State::BodyByLength && m_contentLength == 0)
        return Complete();
    return false;
}

size_t CHTTPResponse::ReadBodyPiece(IHTTPResponseInput& input, uint64_t limit, bool& ended) {
    ended = false;
    // One byte past the bound is enough to know the body is too big; the reader never sees more.
    if (m_maxBody != 0)
        limit = std::min<uint64_t>(limit, m_maxBody - std::min<uint64_t>(m_bodyBytes, m_maxBody) + 1);
    CHTTPBodyPipe::Space space = GetBodySpace(PieceSize(input, limit));
    if (space.size == 0)
        return 0;
    // Received straight into the sink's memory: the piece is copied once, by the system.
    size_t received = input.Read(space.size, space.data);
    m_sink->Commit(received);
    if (received == 0) {
        ended = !input.WouldBlock();
        return 0;
    }
    m_bodyBytes += received;
    if (m_maxBody != 0 && m_bodyBytes > m_maxBody)
        throw CHTTPResponseTooBigException();
    return received;
}

bool CHTTPResponse::ReadBodyUntilClose(IHTTPResponseInput& input) {
    bool ended = false;
    ReadBodyPiece(input, kPiece, ended);
    if (!ended)
        return false;
    if (input.HasEndedByError())
        throw CHTTPUnexpectedEndOfResponseException();
    return Complete();
}

bool CHTTPResponse::ReadBodyByLength(IHTTPResponseInput& input) {
    uint64_t left = static_cast<uint64_t>(m_contentLength) - std::min<uint64_t>(m_bodyBytes, m_contentLength);
    if (left == 0)
        return Complete();
    bool ended = false;
    ReadBodyPiece(input, left, ended);
    if (ended)
        throw CHTTPUnexpectedEndOfResponseException();
    if (m_bodyBytes == static_cast<uint64_t>(m_contentLength))
        return Complete();
    return false;
}

bool CHTTPResponse::ReadChunkSize(IHTTPResponseInput& input) {
    if (!ReadUpTo(input, kLineEnd))
        return false;
    std::string line = TakeLine();
    if (line == kLineEnd) // the end of the previous chunk's data
        return false;
    uint32_t size = ParseChunkSize(line);
    if (size == 0) {
        // The trailer follows; with no trailer lines, the next line end closes it.
        Prime(kLineEnd);
        m_state = State::Trailer;
        return false;
    }
    m_remaining = size;
    m_state = State::ChunkData;
    return false;
}

bool CHTTPResponse::ReadChunkOrPartData(IHTTPResponseInput& input) {
    bool ended = false;
    size_t received = ReadBodyPiece(input, m_remaining, ended);
    if (ended)
        throw CHTTPUnexpectedEndOfResponseException();
    m_remaining -= received;
    if (m_remaining == 0)
        m_state = m_state == State::ChunkData ? State::ChunkSize : State::BoundaryLine;
    return false;
}

bool CHTTPResponse::ReadTrailer(IHTTPResponseInput& input) {
    if (!ReadUpTo(input, kBlankLine))
        return false;
    TakeLine(); // trailer fields are not kept
    return Complete();
}

bool CHTTPResponse::ReadBoundaryLine(IHTTPResponseInput& input) {
    if (!ReadUpTo(input, kLineEnd))
        return false;
    std::string line = TakeLine();
    line.resize(line.size() - kLineEnd.size());
    if (line.empty())
        return false;
    if (line == m_boundary) {
        // A part without header lines ends its block at the next line end.
        Prime(kLineEnd);
        m_state = State::PartHeaderBlock;
        return false;
    }
    if (line == m_boundary + "--")
        return Complete();
    throw CHTTPBadResponseHeaderException();
}

bool CHTTPResponse::ReadPartHeaderBlock(IHTTPResponseInput& input) {
    if (!ReadUpTo(input, kBlankLine))
        return false;
    std::string block = TakeLine();
    block.resize(block.size() - kLineEnd.size());
    CRegExp range = PartRangePattern();
    if (!range.Match(block))
        throw CHTTPBadResponseHeaderException();
    auto group = [&](int i) {
        return std::string_view(block).substr(static_cast<size_t>(range.GetGroupStart(i)),
                                              static_cast<size_t>(range.GetGroupLength(i)));
    };
    uint32_t first = ParseRangePosition(group(1));
    uint32_t last = ParseRangePosition(group(2));
    if (last < first)
        throw CHTTPBadResponseHeaderException();
    m_remaining = uint64_t{last} - first + 1;
    m_state = State::PartData;
    return false;
}
