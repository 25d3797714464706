#include "upload/upload_message.h"

#include "foundation/event.h"
#include "foundation/exception.h"
#include "foundation/file_stream.h"
#include "foundation/string_number.h"
#include "foundation/trace.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/network_exception.h"
#include "net/percent_encoding.h"
#include "platform/file_system.h"
#include "upload/upload_connection.h"
#include "upload/upload_exception.h"
#include "upload/upload_image_body.h"
#include "upload/upload_item_info.h"

#include <exception>

namespace {

constexpr const char* kTrace = "upload";
constexpr const char* kProtocolVersion = "2.0";
constexpr const char* kCRLF = "\r\n";
constexpr size_t kBoundaryLetters = 32;
// Reads of the reply in one poll, so that a reply that keeps streaming cannot hold the poller.
constexpr int kMaxReadsPerPoll = 64;

struct KindInfo {
    const char* servletName;
    int retryAllowance;
    bool multipart;
    bool sendsCookie;
};

KindInfo Describe(UploadMessage::Kind kind) {
    switch (kind) {
    case UploadMessage::Kind::ImageID:
        return {"GetImageID", 5, false, false};
    case UploadMessage::Kind::ImageOffset:
        return {"GetImageOffset", 5, false, true};
    case UploadMessage::Kind::UploadImage:
        return {"UploadImage", 0, true, true};
    case UploadMessage::Kind::ClientStats:
        return {"UploadClientStats", 3, false, false};
    }
    return {"", 0, false, false};
}

// The generator the boundary formula was made for: 15-bit results (the C standard's example
// generator), so that rand() / 32767 stays within 0..1 whatever the platform's own rand() returns.
class BoundaryRandom {
public:
    explicit BoundaryRandom(unsigned seed) : m_next(seed) {}
    int Next() {
        m_next = m_next * 1103515245u + 12345u;
        return static_cast<int>((m_next / 65536u) % 32768u);
    }

private:
    uint32_t m_next;
};

// A path may hold bytes that would end the quoted filename or the header line; they travel
// percent-encoded there, as browsers send them. Everything else goes as the item holds it.
std::string QuoteSafeFileName(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        switch (c) {
        case '"':
            out += "%22";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void AppendPartHeader(std::string& body, const std::string& boundary, const std::string& disposition,
                      const char* contentType) {
    body.append("--").append(boundary).append(kCRLF);
    body.append("Content-Disposition: ").append(disposition).append(kCRLF);
    body.append("Content-Type: ").append(contentType).append(kCRLF).append(kCRLF);
}

void AppendTextPart(std::string& body, const std::string& boundary, const std::string& name,
                    const std::string& value) {
    AppendPartHeader(body, boundary, "form-data; name=\"" + name + "\"", "text/plain; charset=\"us-ascii\"");
    body.append(value).append(kCRLF);
}

} // namespace

UploadMessage::UploadMessage(Kind kind) : d_kind(kind) {
    KindInfo info = Describe(kind);
    d_servletName = info.servletName;
    d_retryAllowance = info.retryAllowance;
    d_multipart = info.multipart;
    d_boundary = MakeBoundary(platform::CurrentTimeSeconds());
}

UploadMessage::~UploadMessage() = default;

std::string UploadMessage::MakeBoundary(int64_t seconds) {
    BoundaryRandom random(static_cast<unsigned>(seconds));
    std::string boundary(10, '-');
    for (size_t i = 0; i < kBoundaryLetters; ++i)
        boundary += static_cast<char>('A' + static_cast<int>(random.Next() / 32767.0 * 25));
    return boundary;
}

std::string UploadMessage::CleanCookie(std::string cookie) {
    static const std::string kPath = " Path=";
    for (size_t at = cookie.find(kPath); at != std::string::npos; at = cookie.find(kPath)) {
        size_t semicolon = cookie.find(';', at + kPath.size());
        cookie.erase(at, semicolon == std::string::npos ? std::string::npos : semicolon + 1 - at);
    }
    size_t keep = cookie.find_last_not_of(" ;");
    if (keep != std::string::npos)
        cookie.erase(keep + 1);
    return cookie;
}

void UploadMessage::Fill(const UploadItemInfo& item) {
    switch (d_kind) {
    case Kind::ImageID:
        SetField("AuthenticationID", item.GetAuthenticationID());
        SetField("ProtocolVersion", kProtocolVersion);
        SetField("SessionID", item.GetSessionID());
        SetField("UID", item.GetUID());
        return;
    case Kind::UploadImage:
        SetFile(item.GetPath(), item.GetOffset(), item.GetFileSize());
        [[fallthrough]];
    case Kind::ImageOffset:
        SetField("AuthenticationID", item.GetAuthenticationID());
        SetField("CampaignID", item.GetCampaignID());
        SetField("Image.AlbumID", item.GetAlbumID());
        SetField("Image.AlbumName", item.GetAlbumName());
        SetField("Image.UploadTime", item.GetUploadTime());
        SetField("ImageID", item.GetImageID());
        SetField("PartnerID", item.GetPartnerID());
        SetField("PartnerSubID", item.GetPartnerSubID());
        SetField("ProtocolVersion", kProtocolVersion);
        SetField("SessionID", item.GetSessionID());
        SetField("UID", item.GetUID());
        SetCookie(CleanCookie(item.GetCookie()));
        return;
    case Kind::ClientStats:
        // The statistics sender sets the figures of the job itself.
        return;
    }
}

void UploadMessage::SetField(const std::string& name, std::string value) {
    d_fields[name] = std::move(value);
}

void UploadMessage::SetFile(std::string path, uint32_t offset, uint32_t fileSize) {
    d_filePath = std::move(path);
    d_offset = offset;
    d_fileSize = fileSize;
}

void UploadMessage::Submit(UploadConnection& connection) {
    CTraceScope scope(kTrace, __func__);
    if (d_request)
        throw CHTTPRequestResubmitted();
    auto request = std::make_unique<CHTTPRequest>(d_retryAllowance);
    WriteHeaders(*request);
    if (d_multipart)
        WriteMultipartBody(*request);
    else
        WriteFormBody(*request);
    d_request = std::move(request);
    d_response = connection.SubmitToServlet(*d_request, d_servletName);
}

void UploadMessage::WriteHeaders(CHTTPRequest& request) const {
    if (d_multipart) {
        request.AddHeader("Mime-Version", "1.0");
        request.AddHeader("Content-Type", "multipart/form-data; boundary=" + d_boundary);
    } else {
        request.AddHeader("Content-Type", "application/x-www-form-urlencoded");
    }
    if (Describe(d_kind).sendsCookie && !d_cookie.empty())
        request.AddHeader("Cookie", d_cookie);
}

void UploadMessage::WriteFormBody(CHTTPRequest& request) const {
    std::string body;
    for (const auto& [name, value] : d_fields) {
        if (!body.empty())
            body += '&';
        body += PercentEncode(name, SpaceAsPlus::No);
        body += '=';
        body += PercentEncode(value, SpaceAsPlus::No);
    }
    request.Write(body);
}

// The fields and part headers are built here; the picture's bytes are read by the body as the request
// goes out, so that no picture is ever held whole.
void UploadMessage::WriteMultipartBody(CHTTPRequest& request) const {
    std::string head;
    for (const auto& [name, value] : d_fields)
        AppendTextPart(head, d_boundary, name, value);
    std::string closing = "--" + d_boundary + "--" + kCRLF;
    if (d_filePath.empty()) {
        request.Write(head + closing);
        return;
    }
    AppendTextPart(head, d_boundary, "Offset", std::to_string(d_offset));
    AppendPartHeader(head, d_boundary,
                     "form-data; name=\"Image.Data\"; filename=\"" + QuoteSafeFileName(d_filePath) +
                         "\"; filesize=\"" + std::to_string(d_fileSize) + "\"",
                     "image/jpeg");
    request.SetEntitySource(std::make_unique<PxUploadImageBody>(std::move(head), d_filePath, d_offset,
                                                                d_fileSize, kCRLF + closing));
}

CEvent* UploadMessage::GetReplyEvent() const {
    return d_response ? &d_response->GetEvent() : nullptr;
}

uint64_t UploadMessage::GetBytesWritten() const {
    return d_request ? d_request->GetEntityBytesWritten() : 0;
}

bool UploadMessage::PollReply() {
    if (d_request) {
        if (std::exception_ptr failure = d_request->GetEntityFailure())
            std::rethrow_exception(failure);
    }
    if (d_replyComplete)
        return true;
    if (!d_response)
        return false;
    char buffer[kReplyRead];
    for (int reads = 0; reads < kMaxReadsPerPoll && d_response->Wait(0); ++reads) {
        size_t count = d_response->Read(sizeof buffer, buffer, 0);
        if (count == 0) {
            FinishReply(d_response->GetStatus(), d_response->GetReason());
            return true;
        }
        ParseReplyBytes(std::string_view(buffer, count));
    }
    return false;
}

void UploadMessage::ParseReplyBytes(std::string_view bytes) {
    if (d_replyComplete)
        return;
    bytes = bytes.substr(0, kMaxReplyBytes - d_replyBytes);
    d_replyBytes += bytes.size();
    while (!bytes.empty()) {
        size_t lineFeed = bytes.find('\n');
        std::string_view piece = bytes.substr(0, lineFeed);
        if (!d_lineCut) {
            size_t room = kMaxReplyLine - d_replyBuffer.size();
            d_replyBuffer.append(piece.substr(0, room));
            d_lineCut = piece.size() > room;
        }
        if (lineFeed == std::string_view::npos)
            return;
        ParseLine(d_replyBuffer);
        d_replyBuffer.clear();
        d_lineCut = false;
        bytes.remove_prefix(lineFeed + 1);
    }
}

void UploadMessage::ParseLine(std::string_view line) {
    size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return;
    d_replyFields[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
}

void UploadMessage::FinishReply(int status, const std::string& reason) {
    if (d_replyComplete)
        return;
    ParseLine(d_replyBuffer);
    d_replyBuffer.clear();
    d_lineCut = false;
    if (status != 200) {
        d_replyFields.try_emplace("ErrCode", std::to_string(status));
        d_replyFields.try_emplace("ErrMsg", reason);
    }
    d_replyComplete = true;
    Trace(kTrace, 1, "%s: reply complete, status %d", d_servletName.c_str(), status);
}

void UploadMessage::WaitForReply() {
    while (d_response && !PollReply())
        d_response->Wait(-1);
}

bool UploadMessage::IsOK() const {
    if (!d_replyComplete || !d_response || d_response->GetStatusNow() != 200)
        return false;
    auto status = d_replyFields.find("Status");
    return status != d_replyFields.end() && status->second == "OK";
}

std::string UploadMessage::GetReplyText(const std::string& name) {
    WaitForReply();
    auto field = d_replyFields.find(name);
    if (field == d_replyFields.end())
        throw PxUploadMessageParameterNotFound(name);
    return field->second;
}

int32_t UploadMessage::GetReplyInteger(const std::string& name) {
    std::string text = GetReplyText(name);
    if (text.empty())
        throw PxUploadMessageParameterNotFound(name);
    return StrToL32(text, 10);
}

uint32_t UploadMessage::GetReplyUnsigned(const std::string& name) {
    std::string text = GetReplyText(name);
    if (text.empty())
        throw PxUploadMessageParameterNotFound(name);
    return StrToUL32(text, 10);
}

// A reply that broke off gives the fields it delivered.
const std::string* UploadMessage::FindReplyFieldAfterWait(const std::string& name) {
    try {
        WaitForReply();
    } catch (const CException&) {
    }
    auto field = d_replyFields.find(name);
    return field == d_replyFields.end() ? nullptr : &field->second;
}

int32_t UploadMessage::GetErrorCode() {
    const std::string* code = FindReplyFieldAfterWait("ErrCode");
    return code ? StrToL32(*code, 10) : 0;
}

std::string UploadMessage::GetErrorMessage() {
    const std::string* message = FindReplyFieldAfterWait("ErrMsg");
    return message ? *message : std::string();
}

std::string UploadMessage::GetSetCookie() {
    try {
        WaitForReply();
        if (!d_response)
            return {};
        return d_response->GetHeader("set-cookie");
    } catch (const CException&) {
        return {};
    }
}
