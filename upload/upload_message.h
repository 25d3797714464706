// One exchange of the upload protocol: a POST to a named servlet carrying text fields (form-encoded,
// or multipart/form-data with the picture's bytes from an offset), and a reply of name=value lines.
// The sender threads make one per step of a picture's transfer, the statistics sender one per report.
//
// Life: create, fill, Submit once, poll until the reply is complete, read, destroy. The message owns
// its HTTP request, which the connection's worker writes from: the connection must be destroyed
// before the message. Threads: one thread at a time (the submitter's); the response locks itself.
#pragma once

#include "upload/upload_image_body.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class CEvent;
class CHTTPRequest;
class CHTTPResponse;
class UploadConnection;
class UploadItemInfo;

class UploadMessage {
public:
    enum class Kind {
        ImageID,     // "GetImageID": a new image identifier and the server for the data
        ImageOffset, // "GetImageOffset": how many bytes the data server holds
        UploadImage, // "UploadImage": the fields and the file from the offset, multipart
        ClientStats, // "UploadClientStats": the figures of one finished picture
    };

    // Blocks of the file read at a time.
    static constexpr size_t kFileBlock = PxUploadImageBody::kFileBlock;
    // Bytes read from the reply at a time.
    static constexpr size_t kReplyRead = 1024;
    // Reply bytes parsed at most: the servers answer a few short lines, so anything beyond is read
    // and dropped rather than kept.
    static constexpr size_t kMaxReplyBytes = 1024 * 1024;
    // A reply line is cut to this length; the rest of it up to its line feed is dropped.
    static constexpr size_t kMaxReplyLine = 64 * 1024;

    // Makes the message with its servlet name, retry allowance and multipart flag, and a boundary
    // from the current second.
    explicit UploadMessage(Kind kind);
    ~UploadMessage();
    UploadMessage(const UploadMessage&) = delete;
    UploadMessage& operator=(const UploadMessage&) = delete;

    // "----------" and 32 capital letters drawn from a generator seeded with `seconds`; messages made
    // within the same second share it (harmless: each message is a request of its own).
    static std::string MakeBoundary(int64_t seconds);
    // The cookie as it is sent back: every " Path=..." attribute (up to and including its ";") cut out,
    // then trailing spaces and semicolons.
    static std::string CleanCookie(std::string cookie);

    // --- building ---
    // The fields of the message's kind from the item; "UploadImage" also takes the file, its offset
    // and size, and the two data kinds the cleaned cookie. Statistics take no item fields.
    void Fill(const UploadItemInfo& item);
    // Sets (or replaces) one request field.
    void SetField(const std::string& name, std::string value);
    // The file part of "UploadImage": the path, the bytes the server holds, the size declared.
    void SetFile(std::string path, uint32_t offset, uint32_t fileSize);
    void SetCookie(std::string cookie) { d_cookie = std::move(cookie); }

    // Builds the HTTP request (headers, then body) and hands it to the connection with the servlet
    // name. The picture's bytes are not read here: they are read from the file as the request goes
    // out. Raises CFileNotFoundException when the file cannot be opened, PxTruncatedUploadException
    // when it is shorter than declared or than the offset, PxChangedUploadException when it is longer,
    // and what the connection raises.
    void Submit(UploadConnection& connection);

    // --- the reply ---
    // Reads what the response has ready without blocking; true once the whole reply has been read
    // and parsed (never before Submit). Raises what made the body fail on its way out (the file
    // changed or vanished since Submit measured it: the failures Submit names); the exchange has
    // then ended without a reply.
    bool PollReply();
    bool IsReplyComplete() const { return d_replyComplete; }
    // Set while the response has data or has ended, for a wait on several objects; null before Submit.
    CEvent* GetReplyEvent() const;
    // Body bytes written to the network so far, for progress; 0 before Submit.
    uint64_t GetBytesWritten() const;

    // The reply is complete, the HTTP status is 200 and "Status" is exactly "OK".
    bool IsOK() const;
    // The following wait until the reply is complete. A missing field (or, for the numbers, an empty
    // one) raises PxUploadMessageParameterNotFound with its name.
    std::string GetReplyText(const std::string& name);
    int32_t GetReplyInteger(const std::string& name);
    uint32_t GetReplyUnsigned(const std::string& name);
    // "ErrCode" (0 when missing) and "ErrMsg" (empty when missing); never raise.
    int32_t GetErrorCode();
    std::string GetErrorMessage();
    // The reply's "set-cookie" header, empty when there is none or it cannot be read.
    std::string GetSetCookie();

    // --- the reply parser, which PollReply feeds; public so that it can be driven without a network ---
    // Appends body bytes and parses every complete line.
    void ParseReplyBytes(std::string_view bytes);
    // The body has ended: parses a last line without line feed, fills "ErrCode" and "ErrMsg" from a
    // status other than 200, and marks the reply complete.
    void FinishReply(int status, const std::string& reason);
    const std::map<std::string, std::string>& GetReplyFields() const { return d_replyFields; }

    // --- what the message is ---
    const std::string& GetServletName() const { return d_servletName; }
    int GetRetryAllowance() const { return d_retryAllowance; }
    bool IsMultipart() const { return d_multipart; }
    const std::string& GetBoundary() const { return d_boundary; }
    const std::map<std::string, std::string>& GetFields() const { return d_fields; }
    const std::string& GetCookie() const { return d_cookie; }

private:
    void WriteHeaders(CHTTPRequest& request) const;
    void WriteFormBody(CHTTPRequest& request) const;
    void WriteMultipartBody(CHTTPRequest& request) const;
    void ParseLine(std::string_view line);
    // Waits without limit until the reply is complete; returns at once when nothing was submitted.
    void WaitForReply();
    // Waits like WaitForReply but swallows a transport failure; null when the field is missing.
    const std::string* FindReplyFieldAfterWait(const std::string& name);

    const Kind d_kind;
    std::string d_servletName;
    int d_retryAllowance;
    bool d_multipart;
    std::string d_boundary;

    std::string d_filePath; // empty for every kind but "UploadImage"
    uint32_t d_offset = 0;
    uint32_t d_fileSize = 0;
    std::string d_cookie;
    // Names compare as byte strings: the wire order.
    std::map<std::string, std::string> d_fields;

    std::unique_ptr<CHTTPRequest> d_request;   // owned; the connection's worker borrows it
    std::shared_ptr<CHTTPResponse> d_response; // shared with the connection's worker

    bool d_replyComplete = false;
    std::string d_replyBuffer; // bytes of the unfinished line, at most kMaxReplyLine
    bool d_lineCut = false;    // the unfinished line passed kMaxReplyLine: drop up to its line feed
    size_t d_replyBytes = 0;   // reply bytes parsed, at most kMaxReplyBytes
    std::map<std::string, std::string> d_replyFields;
};
