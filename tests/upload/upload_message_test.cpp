#include "foundation/event.h"
#include "foundation/exception.h"
#include "foundation/wait_set.h"
#include "net/http_basic_authenticate.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/e2e_support.h"
#include "tests/support/network_ready.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/upload/raw_http_peer.h"
#include "upload/upload_connection.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_exception.h"
#include "upload/upload_item_info.h"
#include "upload/upload_message.h"

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kUserAgent = "Pixolane Plugin/2.40 [en_US] (p; s; linux) [Browser: test]";

using e2e::RandomBytes;

// An item as the queue fills it, with what the servers answered.
UploadItemInfo MakeItem(const std::string& path = "") {
    UploadItemInfo item;
    if (!path.empty())
        item.SetPath(path);
    item.SetAuthenticationID("auth");
    item.SetSessionID("sess");
    item.SetUID("uid");
    item.SetPartnerID("partner");
    item.SetPartnerSubID("sub");
    item.SetCampaignID("camp");
    item.SetAlbumID("17");
    item.SetAlbumName("Holiday");
    item.SetImageID("IMG9");
    item.SetServer("data.example:8080");
    item.SetUploadServer("up1");
    item.SetCookie("upload=T0K; Path=/");
    return item;
}

std::string Request(uint16_t port, const std::string& servlet, const std::string& headers,
                    const std::string& body) {
    return "POST /" + servlet + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\ncontent-length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + headers +
           "User-Agent: " + kUserAgent + "\r\n\r\n" + body;
}

std::string TextPart(const std::string& boundary, const std::string& name, const std::string& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\nContent-Type: text/plain; charset=\"us-ascii\"\r\n\r\n" + value + "\r\n";
}

// The multipart body of MakeItem's picture, built here from the wire format rather than by the
// message, with the filename as it must travel (quote, CR and LF percent-encoded).
std::string ExpectedImageBody(const std::string& boundary, const std::string& path, uint32_t offset,
                              const std::string& file) {
    std::string filename;
    for (char c : path)
        filename += c == '"'    ? std::string("%22")
                    : c == '\r' ? std::string("%0D")
                    : c == '\n' ? "%0A"
                                : std::string(1, c);
    const std::string& b = boundary;
    return TextPart(b, "AuthenticationID", "auth") + TextPart(b, "CampaignID", "camp") +
           TextPart(b, "Image.AlbumID", "17") + TextPart(b, "Image.AlbumName", "Holiday") +
           TextPart(b, "Image.UploadTime", "") + TextPart(b, "ImageID", "IMG9") +
           TextPart(b, "PartnerID", "partner") + TextPart(b, "PartnerSubID", "sub") +
           TextPart(b, "ProtocolVersion", "2.0") + TextPart(b, "SessionID", "sess") +
           TextPart(b, "UID", "uid") + TextPart(b, "Offset", std::to_string(offset)) + "--" + b +
           "\r\nContent-Disposition: form-data; name=\"Image.Data\"; filename=\"" + filename +
           "\"; filesize=\"" + std::to_string(file.size()) + "\"\r\nContent-Type: image/jpeg\r\n\r\n" +
           file.substr(offset) + "\r\n--" + b + "--\r\n";
}

std::string ImageHeaders(const std::string& boundary) {
    return "Mime-Version: 1.0\r\nContent-Type: multipart/form-data; boundary=" + boundary +
           "\r\nCookie: upload=T0K\r\n";
}

// A peer that takes a request's header block and the first `pauseAfter` bytes of its body, then
// stops reading until told to go on, with receive buffers small enough that the client cannot run
// far ahead: what the client reads after the pause it reads after the test has acted. It then reads
// until the client closes or the body is complete, and answers a complete body with Status=OK.
class PausingPeer {
public:
    explicit PausingPeer(size_t pauseAfter) : m_pauseAfter(pauseAfter), m_listener(1) {
        m_port = m_listener.Port();
        EXPECT_TRUE(m_listener.SetReceiveBuffer(64 * 1024));
        m_thread = std::thread([this] { Serve(); });
    }
    ~PausingPeer() {
        GoOn();
        m_thread.join();
    }

    std::string Server() const { return "127.0.0.1:" + std::to_string(m_port); }
    // True once the pause has begun (within ten seconds).
    bool WaitForPause() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_paused; });
    }
    void GoOn() {
        std::lock_guard lock(m_mutex);
        m_goOn = true;
        m_changed.notify_all();
    }
    // After the exchange: the body bytes that arrived and the length the request declared.
    size_t BodyReceived() {
        m_thread.join();
        m_thread = std::thread([] {});
        return m_body;
    }
    size_t Declared() const { return m_declared; }

private:
    void Serve() {
        testsupport::LoopbackStream connection = m_listener.Accept(10);
        if (!connection.IsOpen())
            return;
        std::string bytes;
        size_t headEnd = std::string::npos;
        auto receive = [&](size_t limit) {
            while (bytes.size() < limit) {
                testsupport::LoopbackStream::Received received =
                    connection.Receive(10, std::min<size_t>(4096, limit - bytes.size()));
                if (received.status != testsupport::LoopbackStream::Status::Data)
                    return false;
                bytes += received.bytes;
                if (headEnd == std::string::npos && (headEnd = bytes.find("\r\n\r\n")) != std::string::npos) {
                    headEnd += 4;
                    size_t at = bytes.find("content-length: ");
                    m_declared = std::stoul(bytes.substr(at + 16));
                    limit = std::min(limit, headEnd + m_pauseAfter);
                }
            }
            return bytes.size() >= limit;
        };
        receive(SIZE_MAX);
        {
            std::unique_lock lock(m_mutex);
            m_paused = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_goOn; });
        }
        // Only the count matters from here on.
        size_t total = bytes.size();
        bytes.clear();
        while (headEnd != std::string::npos && total < headEnd + m_declared) {
            testsupport::LoopbackStream::Received received = connection.Receive(10, 4096);
            if (received.status != testsupport::LoopbackStream::Status::Data)
                break;
            total += received.bytes.size();
        }
        m_body = headEnd == std::string::npos ? 0 : total - headEnd;
        if (m_body == m_declared) {
            connection.SendAll(RawHttpPeer::Ok("Status=OK\n"));
        }
    }

    const size_t m_pauseAfter;
    testsupport::LoopbackListener m_listener;
    uint16_t m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_paused = false; // guarded
    bool m_goOn = false;   // guarded
    size_t m_declared = 0; // the peer's thread's until it ends
    size_t m_body = 0;     // the peer's thread's until it ends
    std::thread m_thread;
};

const std::string kEncodedImageFields = "AuthenticationID=auth&CampaignID=camp&Image%2EAlbumID=17&"
                                        "Image%2EAlbumName=Holiday&Image%2EUploadTime=&ImageID=IMG9&"
                                        "PartnerID=partner&PartnerSubID=sub&ProtocolVersion=2%2E0&"
                                        "SessionID=sess&UID=uid";

class UploadMessageTest : public NetworkReady {
protected:
    void SetUp() override {
        NetworkReady::SetUp();
        m_folder = std::make_unique<testsupport::ScopedTempFolder>("px-upload-msg");
        m_dir = m_folder->Path();
    }
    void TearDown() override {
        m_folder.reset();
        NetworkReady::TearDown();
    }

    static UploadEndpoint Endpoint(const RawHttpPeer& peer) {
        return UploadEndpoint(peer.Server(), kUserAgent, 5.0, false);
    }

    // Submits and polls the reply as the sender threads do; the connection goes before the message.
    static void Exchange(UploadMessage& message, const RawHttpPeer& peer) {
        UploadConnection connection(Endpoint(peer));
        message.Submit(connection);
        CWaitSet waits({message.GetReplyEvent()});
        for (int i = 0; i < 100 && !message.PollReply(); ++i)
            waits.Wait(0.1);
        ASSERT_TRUE(message.IsReplyComplete());
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_folder;
    std::string m_dir;
};

TEST(UploadMessageKinds, ServletRetryAllowanceAndEncoding) {
    struct Row {
        UploadMessage::Kind kind;
        const char* servlet;
        int retries;
        bool multipart;
    };
    const Row rows[] = {
        {UploadMessage::Kind::ImageID, "GetImageID", 5, false},
        {UploadMessage::Kind::ImageOffset, "GetImageOffset", 5, false},
        {UploadMessage::Kind::UploadImage, "UploadImage", 0, true}, // data is never sent twice by the client
        {UploadMessage::Kind::ClientStats, "UploadClientStats", 3, false},
    };
    for (const Row& row : rows) {
        UploadMessage message(row.kind);
        EXPECT_EQ(message.GetServletName(), row.servlet);
        EXPECT_EQ(message.GetRetryAllowance(), row.retries) << row.servlet;
        EXPECT_EQ(message.IsMultipart(), row.multipart) << row.servlet;
    }
}

TEST(UploadMessageBoundary, TenDashesAndThirtyTwoCapitalsFromTheSecond) {
    std::set<char> letters;
    for (std::time_t second = 1000000000; second < 1000000400; ++second) {
        std::string boundary = UploadMessage::MakeBoundary(second);
        ASSERT_EQ(boundary.size(), 42u);
        EXPECT_EQ(boundary.substr(0, 10), "----------");
        for (char c : boundary.substr(10)) {
            ASSERT_GE(c, 'A');
            ASSERT_LE(c, 'Z');
            letters.insert(c);
        }
        // The same second gives the same boundary; the next one another.
        EXPECT_EQ(boundary, UploadMessage::MakeBoundary(second));
        EXPECT_NE(boundary, UploadMessage::MakeBoundary(second + 1));
    }
    // The formula reaches both ends of A..Y.
    EXPECT_TRUE(letters.count('A'));
    EXPECT_TRUE(letters.count('Y'));
}

TEST(UploadMessageCookie, PathAttributesAndTrailingSeparatorsGo) {
    struct Row {
        const char* given;
        const char* sent;
    };
    const Row rows[] = {
        {"a=1; Path=/; b=2", "a=1; b=2"},                     // a Path in the middle
        {"x=9; Path=/", "x=9"},                               // a Path at the end, no ";" after it
        {"upload=T; Path=/up; Path=/; k=v", "upload=T; k=v"}, // every Path, repeatedly
        {"a=1; Domain=h; Path=/", "a=1; Domain=h"},           // other attributes stay
        {"a=1; path=/", "a=1; path=/"},                       // the match is case-sensitive
        {"a=1;Path=/", "a=1;Path=/"},                         // only " Path=" with its space
        {"Path=/; a=1", "Path=/; a=1"},                       // nor at the very start
        {"a=1; Path=/;; ", "a=1"},                            // trailing ";" and spaces after the cut
        {"a=1 ;  ", "a=1"},                                   // trailing separators alone
        {" ; ;", " ; ;"},                                     // nothing but separators is left alone
        {"", ""},                                             // no cookie
        {" Path=", ""},                                       // a cookie that is all Path
    };
    for (const Row& row : rows)
        EXPECT_EQ(UploadMessage::CleanCookie(row.given), row.sent) << "given: " << row.given;
}

TEST_F(UploadMessageTest, GetImageIdIsFormEncodedInByteOrderWithoutCookie) {
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\nImageID=42\n")});
    UploadMessage message(UploadMessage::Kind::ImageID);
    message.Fill(MakeItem());
    Exchange(message, peer);
    std::vector<std::string> requests = peer.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0],
              Request(peer.Port(), "GetImageID", "Content-Type: application/x-www-form-urlencoded\r\n",
                      "AuthenticationID=auth&ProtocolVersion=2%2E0&SessionID=sess&UID=uid"));
    EXPECT_TRUE(message.IsOK());
    EXPECT_EQ(message.GetReplyText("ImageID"), "42");
}

TEST_F(UploadMessageTest, GetImageOffsetCarriesElevenFieldsAndTheCleanedCookie) {
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\nOffset=1234\n")});
    UploadMessage message(UploadMessage::Kind::ImageOffset);
    message.Fill(MakeItem());
    Exchange(message, peer);
    std::vector<std::string> requests = peer.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0],
              Request(peer.Port(), "GetImageOffset",
                      "Content-Type: application/x-www-form-urlencoded\r\nCookie: upload=T0K\r\n",
                      kEncodedImageFields));
    EXPECT_EQ(message.GetReplyUnsigned("Offset"), 1234u);
}

TEST_F(UploadMessageTest, FormEncodingEscapesEveryByteButLettersAndDigits) {
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
    UploadMessage message(UploadMessage::Kind::ClientStats);
    // Set in reverse: the wire order is the byte order of the names.
    message.SetField("b", "x+y");
    message.SetField("a b", "1&2=3%4 5");
    message.SetField("B", "\r\n\xff");
    message.SetField("A", "");
    Exchange(message, peer);
    std::vector<std::string> requests = peer.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0],
              Request(peer.Port(), "UploadClientStats", "Content-Type: application/x-www-form-urlencoded\r\n",
                      "A=&B=%0D%0A%FF&a%20b=1%262%3D3%254%205&b=x%2By"));
}

TEST_F(UploadMessageTest, UploadImageIsMultipartFromTheOffsetByteForByte) {
    const std::string path = m_dir + "/pic 100%.jpg";
    const std::string bytes = RandomBytes(40000, 1); // three blocks of the file reader, the last short
    testsupport::WriteWholeFile(path, bytes);
    UploadItemInfo item = MakeItem(path);
    item.SetOffset(1000);
    item.SetAlbumName("a&b=c%d e"); // sent raw in a multipart body
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
    UploadMessage message(UploadMessage::Kind::UploadImage);
    message.Fill(item);
    Exchange(message, peer);

    const std::string& b = message.GetBoundary();
    std::string body = TextPart(b, "AuthenticationID", "auth") + TextPart(b, "CampaignID", "camp") +
                       TextPart(b, "Image.AlbumID", "17") + TextPart(b, "Image.AlbumName", "a&b=c%d e") +
                       TextPart(b, "Image.UploadTime", "") + TextPart(b, "ImageID", "IMG9") +
                       TextPart(b, "PartnerID", "partner") + TextPart(b, "PartnerSubID", "sub") +
                       TextPart(b, "ProtocolVersion", "2.0") + TextPart(b, "SessionID", "sess") +
                       TextPart(b, "UID", "uid") + TextPart(b, "Offset", "1000") + "--" + b +
                       "\r\nContent-Disposition: form-data; name=\"Image.Data\"; filename=\"" + path +
                       "\"; filesize=\"40000\"\r\nContent-Type: image/jpeg\r\n\r\n" + bytes.substr(1000) +
                       "\r\n--" + b + "--\r\n";
    std::vector<std::string> requests = peer.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], Request(peer.Port(), "UploadImage",
                                   "Mime-Version: 1.0\r\nContent-Type: multipart/form-data; boundary=" + b +
                                       "\r\nCookie: upload=T0K\r\n",
                                   body));
    EXPECT_TRUE(message.IsOK());
    EXPECT_EQ(message.GetBytesWritten(), body.size());
}

TEST_F(UploadMessageTest, FileEdgesOfTheBlockReader) {
    struct Row {
        size_t size;
        uint32_t offset;
        const char* what;
    };
    const Row rows[] = {
        {2 * UploadMessage::kFileBlock, 0, "a whole number of blocks: the last read finds the end"},
        {5000, 5000, "the server holds everything: no file bytes"},
        {0, 0, "an empty file"},
        {UploadMessage::kFileBlock + 1, UploadMessage::kFileBlock, "one byte left after a full block"},
    };
    for (const Row& row : rows) {
        const std::string path = m_dir + "/edge.jpg";
        const std::string bytes = RandomBytes(row.size, 2);
        testsupport::WriteWholeFile(path, bytes);
        UploadItemInfo item = MakeItem(path);
        item.SetOffset(row.offset);
        RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
        UploadMessage message(UploadMessage::Kind::UploadImage);
        message.Fill(item);
        Exchange(message, peer);
        std::vector<std::string> requests = peer.WaitForRequests(1);
        ASSERT_EQ(requests.size(), 1u) << row.what;
        std::string expected = "Content-Type: image/jpeg\r\n\r\n" + bytes.substr(row.offset) + "\r\n--" +
                               message.GetBoundary() + "--\r\n";
        ASSERT_GE(requests[0].size(), expected.size()) << row.what;
        EXPECT_EQ(requests[0].substr(requests[0].size() - expected.size()), expected) << row.what;
    }
}

#ifndef _WIN32 // Windows file names cannot hold quotes, CR or LF
TEST_F(UploadMessageTest, FileNameBytesThatWouldBreakTheHeaderArePercentEncoded) {
    const std::string path = m_dir + "/say \"cheese\"\r\n 50%.jpg";
    testsupport::WriteWholeFile(path, "jpeg");
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
    UploadMessage message(UploadMessage::Kind::UploadImage);
    message.Fill(MakeItem(path));
    Exchange(message, peer);
    std::vector<std::string> requests = peer.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    // Only the quote, CR and LF change; "%" and spaces stay as the path holds them.
    EXPECT_NE(
        requests[0].find("; filename=\"" + m_dir + "/say %22cheese%22%0D%0A 50%.jpg\"; filesize=\"4\"\r\n"),
        std::string::npos);
}
#endif

TEST_F(UploadMessageTest, FilesThatChangedSinceTheyWereMeasuredAreRefused) {
    struct Row {
        size_t measured;
        size_t now;
        uint32_t offset;
        const char* code;
        const char* what;
    };
    const Row rows[] = {
        {5000, 4000, 4500, "EUPLOADTRUNC", "cut below the offset the server holds"},
        {5000, 4000, 0, "EUPLOADTRUNC", "cut above the offset: the file ends before its size"},
        {40000, 20000, 0, "EUPLOADTRUNC", "cut after the first full block"},
        {5000, 6000, 0, "EUPLOADDIFF", "grown: it would go out beyond the size it declares"},
        {5000, 0, 0, "ENOENT", "gone"},
    };
    for (const Row& row : rows) {
        const std::string path = m_dir + "/changed.jpg";
        testsupport::WriteWholeFile(path, RandomBytes(row.measured, 3));
        UploadItemInfo item = MakeItem(path);
        item.SetOffset(row.offset);
        if (row.now == 0)
            std::remove(path.c_str());
        else
            testsupport::WriteWholeFile(path, RandomBytes(row.now, 3));
        RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
        UploadConnection connection(Endpoint(peer));
        UploadMessage message(UploadMessage::Kind::UploadImage);
        message.Fill(item);
        try {
            message.Submit(connection);
            ADD_FAILURE() << "no exception: " << row.what;
        } catch (const CException& e) {
            EXPECT_STREQ(e.GetCode(), row.code) << row.what;
            if (std::string(row.code) == "EUPLOADTRUNC") {
                EXPECT_EQ(e.GetText(),
                          "The file \"" + path +
                              "\" is shorter than expected and has probably been changed since it "
                              "was first uploaded.");
            }
            if (std::string(row.code) == "EUPLOADDIFF") {
                EXPECT_EQ(e.GetText(), "The file \"" + path +
                                           "\" has been changed since it was first uploaded.  To upload this "
                                           "picture, first remove it from the plugin and then add it again.");
            }
        }
        EXPECT_EQ(message.GetReplyEvent(), nullptr) << "nothing submitted: " << row.what;
        EXPECT_EQ(peer.RequestCount(), 0u) << row.what;
    }
}

TEST_F(UploadMessageTest, StreamedUploadImageEqualsTheWholeBodyByteForByte) {
    const size_t size = 5 * UploadMessage::kFileBlock + 321; // several windows, the last one short
    struct Row {
        const char* name;
        uint32_t offset;
        const char* what;
    } rows[] = {
        {"whole.jpg", 0, "from the first byte"},
        {"middle.jpg", 40000, "from the middle of a block"},
        {"last.jpg", size - 1, "only the last byte left"},
#ifndef _WIN32
        {"say \"cheese\"\r\n.jpg", 16384, "a quote and CR LF in the path, from a block boundary"},
#else // Windows names cannot hold a double quote, CR or LF
        {"say 'cheese'; 50%.jpg", 16384, "a quote, a semicolon and a percent sign, from a block boundary"},
#endif
    };
    for (const Row& row : rows) {
        const std::string path = m_dir + "/" + row.name;
        const std::string file = RandomBytes(size, row.offset);
        testsupport::WriteWholeFile(path, file);
        UploadItemInfo item = MakeItem(path);
        item.SetOffset(row.offset);
        RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
        UploadMessage message(UploadMessage::Kind::UploadImage);
        message.Fill(item);
        Exchange(message, peer);
        const std::string body = ExpectedImageBody(message.GetBoundary(), path, row.offset, file);
        std::vector<std::string> requests = peer.WaitForRequests(1);
        ASSERT_EQ(requests.size(), 1u) << row.what;
        EXPECT_TRUE(requests[0] ==
                    Request(peer.Port(), "UploadImage", ImageHeaders(message.GetBoundary()), body))
            << row.what;
        EXPECT_TRUE(message.IsOK()) << row.what;
        EXPECT_EQ(message.GetBytesWritten(), body.size()) << row.what;
    }
}

TEST_F(UploadMessageTest, AnsweredBasicChallengeSendsTheSameBodyAgain) {
#ifndef _WIN32
    const std::string path = m_dir + "/challenged \"one\".jpg";
#else
    const std::string path = m_dir + "/challenged 'one'.jpg"; // Windows names cannot hold a double quote
#endif
    const std::string file = RandomBytes(3 * UploadMessage::kFileBlock + 10, 11);
    testsupport::WriteWholeFile(path, file);
    UploadItemInfo item = MakeItem(path);
    item.SetOffset(20000); // the second pass must seek the file again, past the first window
    RawHttpPeer peer(
        {RawHttpPeer::Reply(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"pics\"\r\n"),
         RawHttpPeer::Ok("Status=OK\n")});
    auto basic = std::make_shared<CHTTPBasicAuthenticate>();
    basic->SetCredentials("pics", "user", "pass");
    UploadEndpoint endpoint = Endpoint(peer);
    endpoint.SetListener("Basic", basic);

    UploadMessage message(UploadMessage::Kind::UploadImage);
    message.Fill(item);
    {
        UploadConnection connection(endpoint);
        message.Submit(connection);
        CWaitSet waits({message.GetReplyEvent()});
        for (int i = 0; i < 100 && !message.PollReply(); ++i)
            waits.Wait(0.1);
        ASSERT_TRUE(message.IsReplyComplete());
    }
    EXPECT_TRUE(message.IsOK());
    const std::string body = ExpectedImageBody(message.GetBoundary(), path, 20000, file);
    const std::string first = Request(peer.Port(), "UploadImage", ImageHeaders(message.GetBoundary()), body);
    std::string second = first;
    second.insert(second.find("\r\n\r\n") + 2, "Authorization: Basic dXNlcjpwYXNz\r\n"); // user:pass
    std::vector<std::string> requests = peer.WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0] == first) << "without credentials";
    EXPECT_TRUE(requests[1] == second) << "with them, the body again from its first byte";
    // Progress counts what the pass that got through wrote.
    EXPECT_EQ(message.GetBytesWritten(), body.size());
}

// The file changes after Submit measured it, while its bytes are on their way: the exchange ends as a
// failure with the text for what happened, the peer gets fewer bytes than the length declared.
TEST_F(UploadMessageTest, AFileThatChangesWhileItGoesOutFailsTheMessage) {
    const size_t size = 16 * 1024 * 1024; // far beyond what the client's socket buffers can take ahead
    const std::string path = m_dir + "/moving.jpg";
    struct Row {
        std::function<void()> change;
        const char* code;
        const char* what;
    } rows[] = {
        {[&] { std::filesystem::resize_file(path, size / 2); }, "EUPLOADTRUNC", "cut to half"},
        {[&] { std::ofstream(path, std::ios::app) << "more"; }, "EUPLOADDIFF", "grown"},
#ifndef _WIN32
        {[&] { std::remove(path.c_str()); }, "ENOENT", "removed"},
#else
        // Windows does not remove a file that the upload holds open: it goes out whole.
        {[&] { EXPECT_NE(std::remove(path.c_str()), 0); }, nullptr, "not removed while open"},
#endif
    };
    for (const Row& row : rows) {
        testsupport::WriteWholeFile(path, RandomBytes(size, 12));
        PausingPeer peer(100000);
        UploadMessage message(UploadMessage::Kind::UploadImage);
        message.Fill(MakeItem(path));
        UploadConnection connection(UploadEndpoint(peer.Server(), kUserAgent, 5.0, false));
        message.Submit(connection);
        ASSERT_TRUE(peer.WaitForPause()) << row.what;
        row.change();
        peer.GoOn();
        std::string code = "<nothing raised>";
        CWaitSet waits({message.GetReplyEvent()});
        try {
            for (int i = 0; i < 300 && !message.PollReply(); ++i)
                waits.Wait(0.1);
        } catch (const CException& e) {
            code = e.GetCode();
        }
        if (row.code == nullptr) {
            EXPECT_EQ(code, "<nothing raised>") << row.what;
            EXPECT_TRUE(message.IsOK()) << row.what;
            EXPECT_EQ(peer.BodyReceived(), peer.Declared()) << row.what;
            continue;
        }
        EXPECT_EQ(code, row.code) << row.what;
        EXPECT_FALSE(message.IsOK()) << row.what;
        EXPECT_LT(peer.BodyReceived(), peer.Declared()) << row.what;
        // Every later look at the reply says the same.
        EXPECT_THROW(message.PollReply(), CException) << row.what;
    }
}

// The reply parser fed directly: bodies as the servers send them, split at every byte.
TEST(UploadMessageReply, LinesAndStatusGiveFields) {
    using Fields = std::map<std::string, std::string>;
    struct Row {
        std::string body;
        int status;
        const char* reason;
        Fields fields;
        const char* what;
    };
    const std::vector<Row> rows = {
        {"Status=OK\nImageID=5\n", 200, "OK", {{"Status", "OK"}, {"ImageID", "5"}}, "plain lines"},
        {"Status=OK\r\n", 200, "OK", {{"Status", "OK\r"}}, "a CR before the LF stays in the value"},
        {"A=1\nB=two", 200, "OK", {{"A", "1"}, {"B", "two"}}, "the last line without LF counts whole"},
        {"junk\nA=1\n\n", 200, "OK", {{"A", "1"}}, "lines without = are ignored"},
        {"A=b=c\n", 200, "OK", {{"A", "b=c"}}, "the first = splits"},
        {"A=1\nA=2\n", 200, "OK", {{"A", "2"}}, "a later line replaces"},
        {"=x\nA=\n", 200, "OK", {{"", "x"}, {"A", ""}}, "empty names and values"},
        {"Status=Error\n",
         503,
         "Busy",
         {{"Status", "Error"}, {"ErrCode", "503"}, {"ErrMsg", "Busy"}},
         "a status other than 200 fills ErrCode and ErrMsg"},
        {"ErrCode=7\n", 500, "Oops", {{"ErrCode", "7"}, {"ErrMsg", "Oops"}}, "the body's ErrCode wins"},
        {"ErrMsg=own\n", 404, "NF", {{"ErrCode", "404"}, {"ErrMsg", "own"}}, "the body's ErrMsg wins"},
        {"", 0, "no reply", {{"ErrCode", "0"}, {"ErrMsg", "no reply"}}, "a failed exchange"},
        {"Status=OK\n", 200, "OK", {{"Status", "OK"}}, "status 200 adds nothing"},
        {std::string("A=\0b\n", 5), 200, "OK", {{"A", std::string("\0b", 2)}}, "NUL bytes are data"},
    };
    for (const Row& row : rows) {
        for (size_t split : {row.body.size(), size_t{1}}) {
            UploadMessage message(UploadMessage::Kind::ImageID);
            for (size_t at = 0; at < row.body.size(); at += split)
                message.ParseReplyBytes(std::string_view(row.body).substr(at, split));
            EXPECT_FALSE(message.IsReplyComplete());
            message.FinishReply(row.status, row.reason);
            EXPECT_TRUE(message.IsReplyComplete());
            EXPECT_EQ(message.GetReplyFields(), row.fields) << row.what << ", pieces of " << split;
        }
    }
}

TEST(UploadMessageReply, HostileRepliesAreBounded) {
    UploadMessage message(UploadMessage::Kind::ImageID);
    // A line beyond the bound is cut; the next line is read as usual.
    message.ParseReplyBytes("Long=" + std::string(UploadMessage::kMaxReplyLine, 'x'));
    message.ParseReplyBytes(std::string(1000, 'y') + "\nNext=1\n");
    // Bytes beyond the reply bound are dropped.
    message.ParseReplyBytes(std::string(UploadMessage::kMaxReplyBytes, '\n') + "Late=1\n");
    message.FinishReply(200, "OK");
    const auto& fields = message.GetReplyFields();
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields.at("Long"), std::string(UploadMessage::kMaxReplyLine - 5, 'x'));
    EXPECT_EQ(fields.at("Next"), "1");
}

TEST_F(UploadMessageTest, ReplyAccessorsOverTheNetwork) {
    struct Row {
        std::string reply;
        bool ok;
        int32_t errorCode;
        const char* errorMessage;
        const char* what;
    };
    const std::vector<Row> rows = {
        {RawHttpPeer::Ok("Status=OK\n"), true, 0, "", "OK with 200"},
        {RawHttpPeer::Reply(500, "Internal Error", "Status=OK\n"), false, 500, "Internal Error",
         "OK in the body is not enough without 200"},
        {RawHttpPeer::Ok("Status=OK\r\n"), false, 0, "", "CR LF line ends: Status is OK plus CR"},
        {RawHttpPeer::Ok("Status=Error\nErrCode=6\nErrMsg=busy\n"), false, 6, "busy", "a server error"},
        {RawHttpPeer::Ok("Status=ok\n"), false, 0, "", "Status must be exactly OK"},
        {RawHttpPeer::Reply(503, "Service Unavailable", ""), false, 503, "Service Unavailable",
         "an HTTP error without fields"},
    };
    for (const Row& row : rows) {
        RawHttpPeer peer({row.reply});
        UploadMessage message(UploadMessage::Kind::ImageOffset);
        message.Fill(MakeItem());
        Exchange(message, peer);
        EXPECT_EQ(message.IsOK(), row.ok) << row.what;
        EXPECT_EQ(message.GetErrorCode(), row.errorCode) << row.what;
        EXPECT_EQ(message.GetErrorMessage(), row.errorMessage) << row.what;
    }
}

TEST_F(UploadMessageTest, MissingOrEmptyReplyFieldsRaiseWithTheirName) {
    RawHttpPeer peer(
        {RawHttpPeer::Ok("Status=OK\nServer=\nOffset=77\nNeg=-3\n", "Set-Cookie: upload=abc; Path=/\r\n")});
    UploadMessage message(UploadMessage::Kind::ImageID);
    message.Fill(MakeItem());
    Exchange(message, peer);
    EXPECT_EQ(message.GetReplyText("Server"), "");
    EXPECT_EQ(message.GetReplyUnsigned("Offset"), 77u);
    EXPECT_EQ(message.GetReplyInteger("Neg"), -3);
    EXPECT_EQ(message.GetSetCookie(), "upload=abc; Path=/");
    struct Row {
        const char* name;
        int kind; // 0 text, 1 integer, 2 unsigned
    };
    for (Row row : {Row{"ImageID", 0}, Row{"Server", 1}, Row{"Server", 2}, Row{"UploadServer", 2}}) {
        try {
            if (row.kind == 0)
                message.GetReplyText(row.name);
            else if (row.kind == 1)
                message.GetReplyInteger(row.name);
            else
                message.GetReplyUnsigned(row.name);
            ADD_FAILURE() << row.name << " did not raise";
        } catch (const PxUploadMessageParameterNotFound& e) {
            EXPECT_EQ(e.GetText(), std::string("Internal error: no such response parameter: ") + row.name);
        }
    }
}

TEST_F(UploadMessageTest, NoSetCookieHeaderGivesEmptyText) {
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
    UploadMessage message(UploadMessage::Kind::ImageID);
    Exchange(message, peer);
    EXPECT_EQ(message.GetSetCookie(), "");
}

TEST_F(UploadMessageTest, AMessageIsSubmittedOnce) {
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
    UploadMessage message(UploadMessage::Kind::ImageID);
    Exchange(message, peer);
    UploadConnection second(Endpoint(peer));
    try {
        message.Submit(second);
        ADD_FAILURE() << "a second submit went through";
    } catch (const CException& e) {
        EXPECT_STREQ(e.GetCode(), "EHTTPREQDUP");
    }
}

} // namespace
