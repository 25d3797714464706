#include "net/http_request.h"

#include "foundation/exception.h"
#include "foundation/reg_exp.h"
#include "foundation/string_format.h"
#include "foundation/trace.h"
#include "net/http_auth_response.h"
#include "net/http_authenticate.h"
#include "net/http_entity_source.h"
#include "net/network_exception.h"
#include "net/socket.h"
#include "net/uri_patterns.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kTrace = "http";

std::string ToLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    return text;
}

bool HoldsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// The refused header as the error text shows it: on one line, its CR and LF written as escapes.
std::string Printable(const std::string& text) {
    std::string printable;
    for (char c : text) {
        if (c == '\r')
            printable += "\\r";
        else if (c == '\n')
            printable += "\\n";
        else
            printable += c;
    }
    return printable;
}

} // namespace

CHTTPRequest::Authorization::Authorization() = default;
CHTTPRequest::Authorization::Authorization(Authorization&&) noexcept = default;
CHTTPRequest::Authorization& CHTTPRequest::Authorization::operator=(Authorization&&) noexcept = default;
CHTTPRequest::Authorization::~Authorization() = default;

CHTTPRequest::CHTTPRequest(int maxRetries) : m_maxRetries(maxRetries) {}

CHTTPRequest::~CHTTPRequest() = default;

void CHTTPRequest::CheckOpen() const {
    if (m_closed)
        throw COutputStreamClosedException();
}

void CHTTPRequest::AddHeader(const std::string& name, const std::string& value) {
    CheckOpen();
    if (HoldsLineBreak(name) || HoldsLineBreak(value))
        throw CHTTPBadHeaderException(Printable(name).append(": ").append(Printable(value)));
    std::string lower = ToLower(name);
    if (lower == "content-length" || lower == "connection")
        return; // written by the request itself
    m_blocks[kHeaders].append(name).append(": ").append(value).append("\r\n");
}

size_t CHTTPRequest::Write(size_t count, const void* buffer) {
    CheckOpen();
    if (m_source)
        throw CHTTPBadEntityException();
    m_blocks[kEntity].append(static_cast<const char*>(buffer), count);
    return count;
}

void CHTTPRequest::Write(const char* text) {
    Write(std::strlen(text), text);
}

void CHTTPRequest::Write(const std::string& text) {
    Write(text.size(), text.data());
}

void CHTTPRequest::SetEntitySource(std::unique_ptr<IHTTPEntitySource> source) {
    CheckOpen();
    if (m_source || !m_blocks[kEntity].empty())
        throw CHTTPBadEntityException();
    m_source = std::move(source);
    if (m_source)
        m_window = std::make_unique<char[]>(kEntityWindow);
}

std::exception_ptr CHTTPRequest::GetEntityFailure() const {
    std::lock_guard lock(m_progressLock);
    return m_entityFailure;
}

uint64_t CHTTPRequest::GetEntityLength() const {
    return m_source ? m_source->GetLength() : m_blocks[kEntity].size();
}

uint64_t CHTTPRequest::SectionSize(size_t section) const {
    return section == kEntity ? GetEntityLength() : m_blocks[section].size();
}

bool CHTTPRequest::IsWrittenFrom(size_t section, uint64_t offset) const {
    for (; section < kSections; ++section, offset = 0)
        if (offset < SectionSize(section))
            return false;
    return true;
}

uint64_t CHTTPRequest::GetEntityBytesWritten() const {
    std::lock_guard lock(m_progressLock);
    const uint64_t delivered = m_written > m_unsent ? m_written - m_unsent : 0;
    return delivered > m_overhead ? delivered - m_overhead : 0;
}

void CHTTPRequest::SetUnsent(uint64_t bytes) {
    std::lock_guard lock(m_progressLock);
    m_unsent = bytes;
}

void CHTTPRequest::UpdateOverhead() {
    std::lock_guard lock(m_progressLock);
    m_overhead = m_blocks[kRequestLine].size() + m_blocks[kHeaders].size() + m_blocks[kAuthorization].size();
}

void CHTTPRequest::SetURI(const std::string& uri, bool viaProxy) {
    m_uri = uri;
    m_viaProxy = viaProxy;
}

void CHTTPRequest::Submit() {
    if (m_submitted)
        throw CHTTPRequestResubmitted();
    BuildRequestLine();
    if (m_blocks[kAuthorization].empty() && !m_headersTerminated) {
        m_blocks[kHeaders] += "\r\n";
        m_headersTerminated = true;
    }
    UpdateOverhead();
    m_closed = true;
    m_submitted = true;
}

void CHTTPRequest::BuildRequestLine() {
    CRegExp uriMatch = GetURIPattern();
    if (!uriMatch.Match(m_uri))
        throw CHTTPInvalidURIException(m_uri);
    // Case-sensitive on purpose: the request writer speaks plain "http" only.
    std::string scheme = GetMatchGroup(uriMatch, m_uri, kURIScheme);
    if (!scheme.empty() && scheme != "http")
        throw CHTTPInvalidURIException(m_uri);
    std::string authority = GetMatchGroup(uriMatch, m_uri, kURIAuthority);
    // The target runs from the path to the end: query and fragment as the caller gave them.
    int pathStart = uriMatch.GetGroupStart(kURIPath);
    std::string target = pathStart >= 0 ? m_uri.substr(static_cast<size_t>(pathStart)) : std::string();
    if (target.empty())
        target.push_back('/');

    CRegExp authorityMatch = GetAuthorityPattern();
    if (!authorityMatch.Match(authority))
        throw CHTTPInvalidURIException(m_uri);
    std::string host = GetMatchGroup(authorityMatch, authority, kAuthorityHost);
    if (host.empty())
        throw CHTTPInvalidURIException(m_uri);
    std::string port = GetMatchGroup(authorityMatch, authority, kAuthorityPort);

    std::string& line = m_blocks[kRequestLine];
    line = "POST ";
    line += m_viaProxy ? m_uri : target;
    line.append(" HTTP/1.1\r\nHost: ").append(host);
    if (!port.empty())
        line.append(":").append(port);
    line += "\r\n";
    line += FormatString("content-length: %llu\r\n", static_cast<unsigned long long>(GetEntityLength()));
    if (m_ntlmKeepAlive) {
        line += "Connection: Keep-Alive\r\n";
        Trace(kTrace, 0, "req persist: 1.1 no hangup");
    } else {
        line += "Connection: close\r\n";
        Trace(kTrace, 0, "req hangup: 1.1 no persist");
    }
}

bool CHTTPRequest::WriteStep(CSocket& socket) {
    if (std::exception_ptr failure = GetEntityFailure())
        std::rethrow_exception(failure);
    while (m_section < kSections && m_offset >= SectionSize(m_section)) {
        ++m_section;
        m_offset = 0;
    }
    if (m_section == kSections) {
        m_completion.Set();
        return true;
    }
    auto [bytes, available] = PendingBytes();
    size_t sent = socket.Write(std::min(kPiece, available), bytes, 0);
    m_offset += sent;
    {
        std::lock_guard lock(m_progressLock);
        m_written += sent;
    }
    // Report the end in the step that wrote the last byte, skipping empty blocks after it.
    if (!IsWrittenFrom(m_section, m_offset))
        return false;
    m_section = kSections;
    m_offset = 0;
    m_completion.Set();
    return true;
}

std::pair<const char*, size_t> CHTTPRequest::PendingBytes() {
    if (m_section != kEntity || !m_source) {
        const std::string& block = m_blocks[m_section];
        return {block.data() + m_offset, block.size() - static_cast<size_t>(m_offset)};
    }
    // Sent again from before the window: the source starts over. A window that still holds the
    // first bytes serves a request sent again without reading anything.
    if (m_offset < m_windowStart) {
        m_source->Rewind();
        m_windowStart = 0;
        m_windowSize = 0;
    }
    if (m_offset >= m_windowStart + m_windowSize)
        FillWindow();
    size_t at = static_cast<size_t>(m_offset - m_windowStart);
    return {m_window.get() + at, m_windowSize - at};
}

// The next bytes of the source after the window, which the write position has reached.
void CHTTPRequest::FillWindow() {
    uint64_t start = m_windowStart + m_windowSize;
    size_t wanted = static_cast<size_t>(std::min<uint64_t>(kEntityWindow, GetEntityLength() - start));
    m_windowStart = start;
    m_windowSize = 0;
    try {
        size_t count = m_source->Read(wanted, m_window.get());
        if (count == 0 || count > wanted)
            throw CHTTPEntityLengthException();
        m_windowSize = count;
    } catch (...) {
        std::lock_guard lock(m_progressLock);
        m_entityFailure = std::current_exception();
        throw;
    }
}

void CHTTPRequest::ResetWritePosition() {
    m_section = kRequestLine;
    m_offset = 0;
    {
        std::lock_guard lock(m_progressLock);
        m_written = 0;
        m_unsent = 0;
    }
    m_completion.Reset();
}

void CHTTPRequest::Abort() {
    m_aborted = true;
    m_section = kSections;
    m_offset = 0;
    {
        std::lock_guard lock(m_progressLock);
        m_written = 0;
        m_unsent = 0;
        for (size_t section = 0; section < kSections; ++section)
            m_written += SectionSize(section);
    }
    m_completion.Set();
}

void CHTTPRequest::Unsubmit() {
    if (m_submitted) {
        m_submitted = false;
        ResetWritePosition();
    }
    if (m_headersTerminated) {
        m_headersTerminated = false;
        m_blocks[kHeaders].resize(m_blocks[kHeaders].size() - 2);
    }
    UpdateOverhead();
}

void CHTTPRequest::SetAuthorization(std::unique_ptr<CHTTPAuthenticate> authenticator,
                                    std::unique_ptr<CHTTPAuthResponse> response, bool proxyAuth) {
    std::string scheme = authenticator ? authenticator->GetScheme() : std::string();
    m_authorization.authenticator = std::move(authenticator);
    m_authorization.response = std::move(response);
    m_proxyAuth = proxyAuth;
    std::string& block = m_blocks[kAuthorization];
    block.clear();
    if (m_authorization.response) {
        if (proxyAuth) {
            block = "Proxy-Authorization: ";
            if (scheme == "NTLM")
                m_ntlmKeepAlive = true; // its second round must come on the same connection
        } else {
            block = "Authorization: ";
        }
        // The block ends the header section itself.
        block.append(scheme)
            .append(" ")
            .append(m_authorization.response->GetCredentials())
            .append("\r\n\r\n");
    }
    Unsubmit();
}

CHTTPRequest::Authorization CHTTPRequest::TakeAuthorization() {
    m_blocks[kAuthorization].clear();
    Unsubmit();
    return std::move(m_authorization);
}
