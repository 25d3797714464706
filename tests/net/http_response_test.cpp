#include "net/http_body_pipe.h"
#include "net/http_memory_input.h"
#include "net/http_response.h"
#include "net/network_exception.h"
#include "net/socket.h"
#include "net/win_sock_library.h"
#include "tests/support/catalogues.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_temp_folder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using State = CHTTPResponse::State;
using Headers = std::map<std::string, std::string>;

const std::string kBadStatusText =
    "Invalid status in HTTP response. Please sign out of Pixolane, sign back in, "
    "and try your upload again. ";
const std::string kBadHeaderText =
    "Invalid header in HTTP response. Please sign out of Pixolane, sign back in, "
    "and try your upload again. ";
const std::string kBadEncodingText =
    "Invalid encoding in HTTP response. Please sign out of Pixolane, sign back "
    "in, and try your upload again. ";
const std::string kTooBigText = "HTTP response was too big";

// What one run of a reply through a response gave.
struct Outcome {
    bool complete = false;
    std::string error; // the code of the exception ReadStep raised, empty when none
    int status = 0;
    std::string reason;
    Headers headers;
    std::string body;
    std::string leftover; // input bytes the response did not take
};

// Takes what the main pipe holds, without waiting.
void Drain(CHTTPResponse& response, std::string& body) {
    char buffer[4096];
    while (response.Wait(0)) {
        size_t n = response.Read(sizeof buffer, buffer, 0);
        if (n == 0)
            return;
        body.append(buffer, n);
    }
}

// Whether the body is taken while the reply arrives, as a reader thread would, or left in the pipe.
enum class Reader { Drains, Waits };

// Feeds the pieces one after the other, stepping the response while its input is readable, as the
// connection's worker does after each readiness wait; then ends the input unless the response is
// complete.
Outcome Feed(CHTTPResponse& response, const std::vector<std::string>& pieces,
             Reader reader = Reader::Drains) {
    CHTTPMemoryInput input;
    Outcome outcome;
    auto step = [&] {
        while (input.IsReadable() && !response.IsComplete()) {
            response.ReadStep(input);
            if (reader == Reader::Drains)
                Drain(response, outcome.body);
        }
    };
    try {
        for (const std::string& piece : pieces) {
            input.Arrive(piece);
            step();
        }
        if (!response.IsComplete()) {
            input.Close();
            step();
        }
    } catch (const CException& e) {
        outcome.error = e.GetCode();
    }
    outcome.complete = response.IsComplete();
    outcome.status = response.GetStatusNow();
    if (response.Wait(0)) { // not after a reset, whose accessors would wait for the next attempt
        outcome.reason = response.GetReason();
        outcome.headers = response.GetHeaders();
        Drain(response, outcome.body);
    }
    char rest[4096];
    while (size_t n = input.Read(sizeof rest, rest))
        outcome.leftover.append(rest, n);
    return outcome;
}

// The splits a reply may arrive in: in two at every position, and byte by byte.
std::vector<std::vector<std::string>> Splits(const std::string& reply) {
    std::vector<std::vector<std::string>> splits;
    for (size_t at = 0; at <= reply.size(); ++at)
        splits.push_back({reply.substr(0, at), reply.substr(at)});
    std::vector<std::string> bytes;
    for (char c : reply)
        bytes.emplace_back(1, c);
    splits.push_back(bytes);
    return splits;
}

struct ReplyCase {
    const char* what;
    std::string reply;
    int status;
    std::string reason;
    std::string body;
    Headers headers; // a subset that must be there
    std::string leftover = "";
};

class HttpResponse : public CataloguesInstalled {};

// Replies that are read completely, each in every split; the bytes after a reply stay in the input.
const std::vector<ReplyCase> kGoodReplies = {
    // An interim reply is skipped; the final one gives status and body.
    {"interim",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nokNEXT",
     200,
     "OK",
     "ok",
     {{"content-length", "2"}},
     "NEXT"},
    // Several interim replies, one with fields of its own, which are not kept.
    {"two interim replies",
     "HTTP/1.1 100 Continue\r\nX-I: 1\r\n\r\nHTTP/1.1 102 Processing\r\n\r\nHTTP/1.0 201 Created\r\n"
     "Content-Length: 1\r\n\r\nx",
     201,
     "Created",
     "x",
     {{"content-length", "1"}}},
    // Repeated names are joined with "; "; a continuation extends the field before it; names fold to
    // lower case; the name pattern is searched, not anchored.
    {"joined and continued fields",
     "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSET-COOKIE: b=2\r\nX-A: b\r\n more\r\n\tand more\r\n"
     "Bad Name: v\r\nContent-Length: 0\r\n\r\nNEXT",
     200,
     "OK",
     "",
     {{"set-cookie", "a=1; b=2"}, {"x-a", "b more and more"}, {"name", "v"}},
     "NEXT"},
    // content-length 0 completes right after the header block, whatever follows.
    {"empty body",
     "HTTP/1.1 204 No Content\r\ncontent-length: 0\r\n\r\nHTTP/1.1 200",
     204,
     "No Content",
     "",
     {},
     "HTTP/1.1 200"},
    // Blanks after a 0 length are not text after the number.
    {"zero length with blanks", "HTTP/1.1 200 OK\r\ncontent-length: 0 \t\r\n\r\n", 200, "OK", "", {}},
    // Text after a non-zero length is ignored.
    {"length with text after it",
     "HTTP/1.1 200 OK\r\ncontent-length: 5abc\r\n\r\nhelloNEXT",
     200,
     "OK",
     "hello",
     {},
     "NEXT"},
    // A length delimited body, longer than one piece.
    {"long body by length",
     "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + std::string(3000, 'b') + "NEXT",
     200,
     "OK",
     std::string(3000, 'b'),
     {},
     "NEXT"},
    // A chunked body; chunk extensions are ignored, the trailer is dropped.
    {"chunked",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\nA;ext=1\r\n, "
     "world!!!\r\n0\r\n\r\nNEXT",
     200,
     "OK",
     "hello, world!!!",
     {{"transfer-encoding", "Chunked"}},
     "NEXT"},
    {"chunked with trailer",
     "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked \r\n\r\n5\r\nhello\r\n0\r\nX-T: 1\r\nX-U: 2\r\n\r\nNEXT",
     200,
     "OK",
     "hello",
     {},
     "NEXT"},
    // Chunked wins over a length; a hexadecimal size may carry "0x".
    {"chunked over length",
     "HTTP/1.1 200 OK\r\ncontent-length: 99\r\ntransfer-encoding: chunked\r\n\r\n0x3\r\nabc\r\n0\r\n\r\n",
     200,
     "OK",
     "abc",
     {}},
    // "identity" is no encoding at all.
    {"identity",
     "HTTP/1.1 200 OK\r\ntransfer-encoding: identity\r\ncontent-length: 1\r\n\r\nzNEXT",
     200,
     "OK",
     "z",
     {},
     "NEXT"},
    // Without framing fields the body runs until the server closes.
    {"until close",
     "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of\r\n\r\nthis",
     200,
     "OK",
     "all of\r\n\r\nthis",
     {}},
    // An empty reason and a reason with trailing blanks.
    {"bare reason", "HTTP/1.1 404 \r\ncontent-length: 0\r\n\r\n", 404, "", "", {}},
    // multipart/byteranges: only the parts' data reaches the body; blank lines between parts are skipped.
    {"byte ranges, bare boundary",
     "HTTP/1.1 206 Partial\r\ncontent-type: multipart/byteranges; boundary=XyZ\r\n\r\n"
     "--XyZ\r\nContent-Type: text/plain\r\nContent-Range: bytes 0-4/20\r\n\r\nhello\r\n"
     "--XyZ\r\ncontent-range: bytes 10-11/20\r\n\r\n!!\r\n--XyZ--\r\nNEXT",
     206,
     "Partial",
     "hello!!",
     {},
     "NEXT"},
    {"byte ranges, quoted boundary, with a length",
     "HTTP/1.1 206 Partial\r\ncontent-length: 500\r\nContent-Type: Multipart/Byteranges; charset=x; "
     "boundary=\"a b\"\r\n\r\n\r\n--a b\r\nContent-Range: bytes 5-5/9\r\n\r\nZ\r\n--a b--\r\nNEXT",
     206,
     "Partial",
     "Z",
     {},
     "NEXT"},
};

TEST_F(HttpResponse, RepliesInEverySplit) {
    for (const ReplyCase& c : kGoodReplies) {
        for (const std::vector<std::string>& pieces : Splits(c.reply)) {
            CHTTPResponse response;
            Outcome outcome = Feed(response, pieces);
            std::string where = std::string(c.what) + " in " + std::to_string(pieces.size()) +
                                " pieces, first " + std::to_string(pieces.front().size());
            ASSERT_EQ(outcome.error, "") << where;
            ASSERT_TRUE(outcome.complete) << where;
            EXPECT_EQ(outcome.status, c.status) << where;
            EXPECT_EQ(outcome.reason, c.reason) << where;
            EXPECT_EQ(outcome.body, c.body) << where;
            EXPECT_EQ(outcome.leftover, c.leftover) << where;
            for (const auto& [name, value] : c.headers)
                EXPECT_EQ(outcome.headers[name], value) << where << ": " << name;
            EXPECT_TRUE(response.HasStatus()) << where;
        }
    }
}

struct FailureCase {
    const char* what;
    std::string reply;
    const char* code;
    int responseCode;
    std::string text;
    bool everySplit = true;
};

const std::string kBigField = "X-Big: " + std::string(CHTTPResponse::kMaxLineBuffer, 'a') + "\r\n";

// Replies that fail; the status becomes the response code and the reason the failure's text.
const std::vector<FailureCase> kFailures = {
    // No space after the code.
    {"no reason", "HTTP/1.0 200\r\n\r\n", "EHTTPRPLYBADSTATUS", 1, kBadStatusText},
    // Codes run from 100 to 599.
    {"code 600", "HTTP/1.1 600 X\r\n\r\n", "EHTTPRPLYBADSTATUS", 1, kBadStatusText},
    // A status line must start the block; a line feed inside a line starts nothing.
    {"status after junk", "xx\nHTTP/1.1 200 OK\r\n\r\n", "EHTTPRPLYBADSTATUS", 1, kBadStatusText},
    // A reply that starts with a blank line.
    {"blank first line", "\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", "EHTTPRPLYBADSTATUS", 1, kBadStatusText},
    {"unknown encoding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", "EHTTPRPLYBADENCODING", 3,
     kBadEncodingText},
    {"length not a number", "HTTP/1.1 200 OK\r\ncontent-length: abc\r\n\r\n", "EHTTPRPLYBADHEADER", 2,
     kBadHeaderText},
    {"zero length with text after it", "HTTP/1.1 200 OK\r\ncontent-length: 0x5\r\n\r\n", "EHTTPRPLYBADHEADER",
     2, kBadHeaderText},
    {"length beyond 32 bits", "HTTP/1.1 200 OK\r\ncontent-length: 99999999999\r\n\r\n", "EHTTPRPLYTOOBIG", 4,
     kTooBigText},
    // A negative length would have counted as a length of 0 or worse.
    {"negative length", "HTTP/1.1 200 OK\r\ncontent-length: -5\r\n\r\nhello", "EHTTPRPLYBADHEADER", 2,
     kBadHeaderText},
    // A byte of 0x80 or above does not match the field pattern.
    {"high byte in a value", "HTTP/1.1 200 OK\r\nX-A: caf\xe9\r\n\r\n", "EHTTPRPLYBADHEADER", 2,
     kBadHeaderText},
    {"line that is no field", "HTTP/1.1 200 OK\r\nno colon here\r\n\r\n", "EHTTPRPLYBADHEADER", 2,
     kBadHeaderText},
    {"continuation without a field", "HTTP/1.1 200 OK\r\n  orphan\r\n\r\n", "EHTTPRPLYBADHEADER", 2,
     kBadHeaderText},
    // An interim status is no final answer: the failure of the next block replaces it.
    {"bad block after interim", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nX-A: \x01\r\n\r\n",
     "EHTTPRPLYBADHEADER", 2, kBadHeaderText},
    // A body that breaks after the status line is not reported with that status.
    {"bad chunk size after 200", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\n",
     "EHTTPRPLYBADHEADER", 2, kBadHeaderText},
    {"negative chunk size", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n",
     "EHTTPRPLYBADHEADER", 2, kBadHeaderText},
    {"chunk size beyond 32 bits", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n100000000\r\n",
     "EHTTPRPLYTOOBIG", 4, kTooBigText},
    {"wrong boundary", "HTTP/1.1 206 P\r\ncontent-type: multipart/byteranges; boundary=B\r\n\r\n--C\r\n",
     "EHTTPRPLYBADHEADER", 2, kBadHeaderText},
    {"part without a range",
     "HTTP/1.1 206 P\r\ncontent-type: multipart/byteranges; boundary=B\r\n\r\n--B\r\nX: y\r\n\r\nabc",
     "EHTTPRPLYBADHEADER", 2, kBadHeaderText},
    // A range that ends before it starts would have wrapped round to a huge part.
    {"backward range",
     "HTTP/1.1 206 P\r\ncontent-type: multipart/byteranges; boundary=B\r\n\r\n--B\r\n"
     "Content-Range: bytes 9-3/20\r\n\r\nabc",
     "EHTTPRPLYBADHEADER", 2, kBadHeaderText},
    {"range beyond 32 bits",
     "HTTP/1.1 206 P\r\ncontent-type: multipart/byteranges; boundary=B\r\n\r\n--B\r\n"
     "Content-Range: bytes 0-4294967296/20\r\n\r\nabc",
     "EHTTPRPLYTOOBIG", 4, kTooBigText},
    // Header blocks and framing lines are bounded instead of growing with the input.
    {"huge header block", "HTTP/1.1 200 OK\r\n" + kBigField + "\r\n", "EHTTPRPLYTOOBIG", 4, kTooBigText,
     false},
    {"huge chunk-size line",
     "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n5" +
         std::string(CHTTPResponse::kMaxLineBuffer, ';') + "\r\n",
     "EHTTPRPLYTOOBIG", 4, kTooBigText, false},
    {"huge trailer", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n0\r\n" + kBigField + "\r\n",
     "EHTTPRPLYTOOBIG", 4, kTooBigText, false},
};

// What the submitter reads of the body from now on: the bytes, then "<CODE>" when a read raises.
std::string ReadRest(CHTTPResponse& response) {
    std::string body;
    char buffer[4096];
    try {
        while (size_t n = response.Read(sizeof buffer, buffer, 0))
            body.append(buffer, n);
    } catch (const CException& e) {
        body += std::string("<") + e.GetCode() + ">";
    }
    return body;
}

TEST_F(HttpResponse, FailuresCarryTheirResponseCodeAndText) {
    for (const FailureCase& c : kFailures) {
        std::vector<std::vector<std::string>> splits = {{c.reply}};
        if (c.everySplit)
            splits = Splits(c.reply);
        else
            splits.push_back({c.reply.substr(0, 1000), c.reply.substr(1000)});
        for (const std::vector<std::string>& pieces : splits) {
            CHTTPResponse response;
            Outcome outcome = Feed(response, pieces);
            std::string where = std::string(c.what) + " in " + std::to_string(pieces.size()) +
                                " pieces, first " + std::to_string(pieces.front().size());
            ASSERT_EQ(outcome.error, c.code) << where;
            EXPECT_EQ(outcome.status, c.responseCode) << where; // as the worker sees it
            EXPECT_TRUE(response.IsFailed()) << where;
            // The failure is held: the connection may still send the request again, so the submitter
            // neither sees it nor an end of the body.
            EXPECT_FALSE(response.Wait(0)) << where;
            // A failed response reads no further.
            CHTTPMemoryInput more;
            more.Arrive("HTTP/1.1 200 OK\r\n\r\n");
            EXPECT_TRUE(response.ReadStep(more));
            EXPECT_EQ(more.GetAvailable(), 19u);

            // The connection gives up: the reply's own failure is what the submitter sees.
            response.SetError(0, "given up");
            EXPECT_EQ(response.GetStatus(), c.responseCode) << where;
            EXPECT_EQ(response.GetReason(), c.text) << where;
            EXPECT_TRUE(response.GetHeaders().empty()) << where;
            // A body the reader had begun to take breaks; otherwise it ends at once.
            EXPECT_EQ(ReadRest(response), outcome.body.empty() ? "" : "<EHTTPRPLYTRUNC>") << where;
        }
    }
}

struct RestartCase {
    const char* what;
    std::string reply; // then the server closes
    const char* code;
};

// Replies cut short: the response resets itself so that the request can be sent again.
const std::vector<RestartCase> kRestarts = {
    {"nothing at all", "", "EHTTPNORPLY"},
    // Part of a header block is a reply cut short, not a missing one.
    {"half a header block", "HTTP/1.1 200 OK\r\nconte", "EHTTPRPLYTRUNC"},
    {"after an interim reply", "HTTP/1.1 100 Continue\r\n\r\n", "EHTTPRPLYTRUNC"},
    {"10 of 20 announced bytes", "HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123456789", "EHTTPRPLYTRUNC"},
    {"inside a chunk", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n5\r\nhel", "EHTTPRPLYTRUNC"},
    {"before the last chunk", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n5\r\nhello\r\n",
     "EHTTPRPLYTRUNC"},
    {"inside the trailer", "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n0\r\nX-T: 1\r\n",
     "EHTTPRPLYTRUNC"},
    {"before the closing boundary",
     "HTTP/1.1 206 P\r\ncontent-type: multipart/byteranges; boundary=B\r\n\r\n--B\r\n"
     "Content-Range: bytes 0-1/2\r\n\r\nab\r\n",
     "EHTTPRPLYTRUNC"},
};

TEST_F(HttpResponse, TruncatedRepliesResetForAnotherAttempt) {
    for (const RestartCase& c : kRestarts) {
        for (const std::vector<std::string>& pieces : Splits(c.reply)) {
            // The reader has taken nothing yet (see BodyTakenBeforeAResetBreaksTheStream for the rest).
            CHTTPResponse response;
            Outcome outcome = Feed(response, pieces, Reader::Waits);
            ASSERT_EQ(outcome.error, c.code) << c.what;
            EXPECT_EQ(outcome.status, 0) << c.what;
            EXPECT_FALSE(response.HasStatus()) << c.what;
            EXPECT_EQ(response.GetState(), State::HeaderBlock) << c.what;
            EXPECT_EQ(response.GetBodyBytes(), 0u) << c.what;
            EXPECT_EQ(response.GetOtherBytes(), 0u) << c.what;
            EXPECT_FALSE(response.Wait(0)) << c.what; // the submitter waits for the next attempt
            // The next attempt is read from the start.
            Outcome again = Feed(response, {"HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nok"});
            EXPECT_EQ(again.error, "") << c.what;
            EXPECT_EQ(again.status, 200) << c.what;
            EXPECT_EQ(outcome.body + again.body, "ok") << c.what; // nothing of the first attempt is left
        }
    }
}

TEST_F(HttpResponse, BodyTakenBeforeAResetBreaksTheStream) {
    CHTTPResponse response;
    CHTTPMemoryInput input;
    input.Arrive("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123456789");
    while (input.GetAvailable() > 0)
        response.ReadStep(input);
    char buffer[32];
    ASSERT_EQ(response.Read(sizeof buffer, buffer, 0), 10u);
    input.Close();
    EXPECT_THROW(response.ReadStep(input), CHTTPUnexpectedEndOfResponseException);

    // The second attempt would hand the same bytes over again: the reader learns of the break instead.
    CHTTPMemoryInput second;
    second.Arrive("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n01234567890123456789");
    while (!response.ReadStep(second)) {
    }
    EXPECT_EQ(response.GetStatus(), 200);
    EXPECT_THROW(response.Read(sizeof buffer, buffer, 0), CHTTPUnexpectedEndOfResponseException);
}

TEST_F(HttpResponse, HeaderBlockIsConsumedExactly) {
    // Every step peeks at most one piece; the header block's last piece must leave the body behind.
    std::string head =
        "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(2000, 'p') + "\r\ncontent-length: 4\r\n\r\n";
    CHTTPResponse response;
    CHTTPMemoryInput input;
    input.Arrive(head + "bodyNEXT");
    while (response.GetState() == State::HeaderBlock)
        response.ReadStep(input);
    EXPECT_EQ(input.GetAvailable(), 8u);
    EXPECT_TRUE(response.ReadStep(input));
    EXPECT_EQ(input.GetAvailable(), 4u);
    EXPECT_EQ(response.GetOtherBytes(), head.size() + 4);
    EXPECT_EQ(response.GetBodyBytes(), 4u);
}

TEST_F(HttpResponse, CountsFramingAndBodyBytes) {
    std::string head = "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n";
    std::string framing = "5\r\n"
                          "\r\n"
                          "0\r\n"
                          "X: y\r\n\r\n";
    CHTTPResponse response;
    ASSERT_TRUE(Feed(response, {head + "5\r\nhello\r\n0\r\nX: y\r\n\r\n"}).complete);
    EXPECT_EQ(response.GetBodyBytes(), 5u);
    EXPECT_EQ(response.GetOtherBytes(), head.size() + framing.size() + 5);
}

TEST_F(HttpResponse, DiscardedBodyNeitherReachesNorEndsTheMainPipe) {
    CHTTPResponse response;
    CHTTPMemoryInput input;
    input.Arrive("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=x\r\n"
                 "content-length: 300000\r\n\r\n");
    EXPECT_FALSE(response.ReadStep(input));
    // The worker reads the challenge without waiting on its own pipe.
    EXPECT_TRUE(response.HasStatus());
    EXPECT_EQ(response.GetStatusNow(), 407);
    EXPECT_EQ(response.FindHeader("proxy-authenticate").value_or(""), "Basic realm=x");
    EXPECT_FALSE(response.FindHeader("www-authenticate"));
    response.RedirectBodyToDiscard();
    EXPECT_TRUE(response.IsBodyDiscarded());
    // More than the main pipe could hold goes through without a reader.
    input.Arrive(std::string(300000, 'd'));
    while (!response.ReadStep(input)) {
    }
    EXPECT_EQ(response.GetBodyBytes(), 300000u);
    EXPECT_FALSE(response.Wait(0)); // the submitter still waits, for the reply to the next attempt

    response.Reset();
    EXPECT_FALSE(response.IsBodyDiscarded());
    EXPECT_FALSE(response.HasStatus());
    EXPECT_FALSE(response.FindHeader("proxy-authenticate"));
    Outcome outcome = Feed(response, {"HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nok"});
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(outcome.body, "ok");
}

TEST_F(HttpResponse, SetErrorNeverLeavesACutBodyLookingWhole) {
    enum class Look { Nothing, Status, Body };
    struct Row {
        const char* what;
        std::string received;
        Look look; // what the submitter took before the connection gave up
        int status;
        std::string reason;
        std::string body; // what reads deliver afterwards, "<CODE>" for a read that raises
    };
    const std::string head = "HTTP/1.1 200 OK\r\nX: y\r\ncontent-length: 9\r\n\r\n";
    const Row rows[] = {
        // Nothing yet: the error becomes the status and the body is empty.
        {"no status", "", Look::Nothing, 0, "gone", ""},
        // An interim status is replaced too.
        {"interim", "HTTP/1.1 100 Continue\r\n\r\n", Look::Nothing, 0, "gone", ""},
        // A final status nobody looked at is replaced; the bytes waiting for the reader go.
        {"final, unseen", head + "abc", Look::Nothing, 0, "gone", ""},
        // The reader took the status: the body it goes on to read breaks instead of ending.
        {"final, status seen", head + "abc", Look::Status, 0, "gone", "<EHTTPRPLYTRUNC>"},
        // The reader took part of the body: the rest breaks.
        {"final, body begun", head + "abc", Look::Body, 0, "gone", "<EHTTPRPLYTRUNC>"},
        // A complete reply stays as it is.
        {"complete", head + "abcdefghi", Look::Status, 200, "OK", "abcdefghi"},
    };
    for (const Row& row : rows) {
        CHTTPResponse response;
        CHTTPMemoryInput input;
        input.Arrive(row.received);
        while (input.GetAvailable() > 0)
            response.ReadStep(input);
        if (row.look == Look::Status) {
            EXPECT_EQ(response.GetStatus(), 200) << row.what;
        }
        char buffer[3];
        if (row.look == Look::Body) {
            EXPECT_EQ(response.Read(sizeof buffer, buffer), 3u) << row.what;
        }
        response.SetError(0, "gone");
        EXPECT_EQ(response.GetStatus(), row.status) << row.what;
        EXPECT_EQ(response.GetReason(), row.reason) << row.what;
        EXPECT_EQ(response.GetHeaders().empty(), row.status == 0) << row.what;
        EXPECT_EQ(ReadRest(response), row.body) << row.what;
    }
}

TEST_F(HttpResponse, HeldFailureStaysHiddenFromAWaitingSubmitterUntilReset) {
    CHTTPResponse response;
    std::atomic<bool> returned{false};
    int status = 0;
    std::string body;
    std::thread submitter([&] {
        status = response.GetStatus();
        returned = true;
        char buffer[64];
        while (size_t n = response.Read(sizeof buffer, buffer)) // blocks until the body ends
            body.append(buffer, n);
    });
    // A reply error that the connection answers by sending the request again.
    CHTTPMemoryInput bad;
    bad.Arrive("HTTP/1.1 200 OK\r\nno colon here\r\n\r\n");
    EXPECT_THROW(response.ReadStep(bad), CHTTPBadResponseHeaderException);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned); // the submitter still waits
    EXPECT_FALSE(response.GetEvent().IsSet());

    response.Reset();
    CHTTPMemoryInput good;
    good.Arrive("HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nok");
    while (!response.ReadStep(good)) {
    }
    submitter.join();
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, "ok");
}

TEST_F(HttpResponse, ResetAfterTheSubmitterSawTheStatusBreaksTheBody) {
    // The status of an attempt that is then sent again was handed over: the retry cannot be hidden.
    CHTTPResponse response;
    CHTTPMemoryInput input;
    input.Arrive("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123");
    while (input.GetAvailable() > 0)
        response.ReadStep(input);
    EXPECT_EQ(response.GetStatus(), 200);
    input.Close();
    EXPECT_THROW(response.ReadStep(input), CHTTPUnexpectedEndOfResponseException);
    EXPECT_EQ(response.GetStatus(), 200); // what was seen stays until the next attempt shows its own
    CHTTPMemoryInput second;
    second.Arrive("HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nok");
    while (!response.ReadStep(second)) {
    }
    EXPECT_EQ(ReadRest(response), "<EHTTPRPLYTRUNC>");
}

TEST_F(HttpResponse, MissingHeaderNamesItself) {
    CHTTPResponse response;
    ASSERT_TRUE(Feed(response, {"HTTP/1.1 200 OK\r\nX-A: b\r\ncontent-length: 0\r\n\r\n"}).complete);
    EXPECT_EQ(response.GetHeader("x-a"), "b");
    try {
        response.GetHeader("X-A"); // names are looked up exactly as given
        FAIL() << "no exception";
    } catch (const CHTTPNoHeaderException& e) {
        EXPECT_EQ(e.GetText(), "No such header: X-A");
    }
}

TEST_F(HttpResponse, ExceptionsOfOtherKindsRecordCode99) {
    // A source that fails as a socket does on an unexpected receive error.
    class FailingInput : public IHTTPResponseInput {
    public:
        size_t Peek(size_t, void*) override { throw CSocketException(10022); }
        size_t Read(size_t, void*) override { throw CSocketException(10022); }
    } input;
    CHTTPResponse response;
    EXPECT_THROW(response.ReadStep(input), CSocketException);
    EXPECT_FALSE(response.Wait(0)); // held until the connection gives up
    response.SetError(0, "given up");
    EXPECT_EQ(response.GetStatus(), kUnexpectedResponseCode);
    EXPECT_EQ(response.GetReason(), CSocketException(10022).GetText());
    EXPECT_EQ(GetResponseCode(CHTTPResponseAuthMissingChallenge()), 2);
    EXPECT_EQ(GetResponseCode(CHTTPResponseAuthInvalidChallenge("x")), 2);
}

TEST_F(HttpResponse, StatusWaitsForTheFinalReplyOnAnotherThread) {
    CHTTPResponse response;
    CHTTPMemoryInput input;
    input.Arrive("HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_FALSE(response.ReadStep(input));
    ASSERT_TRUE(response.HasStatus()); // the interim status counts for the worker

    int seen = -1;
    std::string body;
    std::thread submitter([&] {
        seen = response.GetStatus(); // waits: an interim reply does not wake it
        char buffer[64];
        while (size_t n = response.Read(sizeof buffer, buffer))
            body.append(buffer, n);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(seen, -1);
    input.Arrive("HTTP/1.1 200 OK\r\ncontent-length: 6\r\n\r\nab");
    while (input.GetAvailable() > 0)
        response.ReadStep(input);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    input.Arrive("cdef");
    while (!response.ReadStep(input)) {
    }
    submitter.join();
    EXPECT_EQ(seen, 200);
    EXPECT_EQ(body, "abcdef");
}

TEST_F(HttpResponse, FullPipeHoldsBackTheReader) {
    CHTTPResponse response;
    CHTTPMemoryInput input;
    const size_t size = CHTTPBodyPipe::kCapacity + 5000;
    input.Arrive("HTTP/1.1 200 OK\r\ncontent-length: " + std::to_string(size) + "\r\n\r\n");
    input.Arrive(std::string(size, 'x'));
    response.ReadStep(input);
    // No reader: the steps stop taking input once the pipe is full.
    for (size_t i = 0; i < size / CHTTPResponse::kPiece && response.GetBodyBytes() < CHTTPBodyPipe::kCapacity;
         ++i)
        response.ReadStep(input);
    EXPECT_EQ(response.GetBodyBytes(), CHTTPBodyPipe::kCapacity);
    EXPECT_FALSE(response.ReadStep(input)); // waits kRoomWait, then gives the worker back
    EXPECT_EQ(input.GetAvailable(), 5000u);

    std::string body;
    std::thread reader([&] {
        char buffer[8192];
        while (size_t n = response.Read(sizeof buffer, buffer))
            body.append(buffer, n);
    });
    while (!response.ReadStep(input)) {
    }
    reader.join();
    EXPECT_EQ(body, std::string(size, 'x'));
}

TEST(HttpBodyPipe, ReadPeekWaitAndEnd) {
    CHTTPBodyPipe pipe;
    char buffer[8] = {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pipe.Read(sizeof buffer, buffer, 0.05), 0u); // the time ran out
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_FALSE(pipe.Wait(0));
    EXPECT_FALSE(pipe.GetReadyEvent().IsSet());

    pipe.Write("abcdef", 6);
    EXPECT_FALSE(pipe.GetReadyEvent().IsSet()); // less than a batch: no wake-up yet
    EXPECT_TRUE(pipe.Wait(0));                  // though a reader that looks finds it
    pipe.Flush();
    EXPECT_TRUE(pipe.GetReadyEvent().IsSet());
    EXPECT_EQ(pipe.Peek(3, buffer, 0), 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(pipe.Read(2, nullptr, 0), 2u); // dropped
    EXPECT_EQ(pipe.Read(sizeof buffer, buffer, -1), 4u);
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_FALSE(pipe.GetReadyEvent().IsSet());

    pipe.Write("gh", 2);
    pipe.End();
    pipe.Write("ignored", 7);
    EXPECT_EQ(pipe.Read(sizeof buffer, buffer, -1), 2u);
    EXPECT_EQ(pipe.Read(sizeof buffer, buffer, -1), 0u); // the end, at once
    EXPECT_TRUE(pipe.Wait(-1));

    pipe.Close();
    EXPECT_THROW(pipe.Read(1, buffer, 0), CInputStreamClosedException);
    EXPECT_EQ(pipe.GetRoom(), SIZE_MAX);
}

TEST(HttpBodyPipe, WakesAWaitingReaderAndBoundsTheWriter) {
    CHTTPBodyPipe pipe;
    std::string got;
    std::thread reader([&] {
        char buffer[100];
        size_t n = pipe.Read(sizeof buffer, buffer, -1);
        got.assign(buffer, n);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pipe.Write("late", 4);
    pipe.Flush();
    reader.join();
    EXPECT_EQ(got, "late");

    // A batch wakes the reader without a flush.
    std::thread batchReader([&] {
        std::string batch(CHTTPBodyPipe::kBatch, 0);
        size_t n = pipe.Read(batch.size(), batch.data(), -1);
        got.assign(batch.data(), n);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string piece(1024, 'p');
    for (size_t sent = 0; sent < CHTTPBodyPipe::kBatch; sent += piece.size())
        pipe.Write(piece.data(), piece.size());
    batchReader.join();
    EXPECT_EQ(got, std::string(CHTTPBodyPipe::kBatch, 'p'));

    std::string block(CHTTPBodyPipe::kCapacity, 'f');
    pipe.Write(block.data(), block.size() + 0);
    EXPECT_EQ(pipe.GetRoom(), 0u);
    EXPECT_FALSE(pipe.WaitForRoom(0.02));
    std::thread taker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pipe.Read(10, nullptr, 0);
    });
    EXPECT_TRUE(pipe.WaitForRoom(5));
    EXPECT_EQ(pipe.GetRoom(), 10u);
    taker.join();

    // A body that will not be complete: taken bytes break the pipe, untaken ones go.
    CHTTPBodyPipe taken, untaken;
    taken.Write("ab", 2);
    taken.Read(1, nullptr, 0);
    taken.Fail();
    EXPECT_THROW(taken.Read(1, nullptr, 0), CHTTPUnexpectedEndOfResponseException);
    untaken.Write("ab", 2);
    untaken.Fail();
    EXPECT_EQ(untaken.Read(1, nullptr, -1), 0u);

    CHTTPBodyPipe drop(CHTTPBodyPipe::Retention::Drop);
    drop.Write("x", 1);
    EXPECT_EQ(drop.GetCount(), 0u);
    EXPECT_EQ(drop.GetRoom(), SIZE_MAX);
}

TEST(HttpBodyPipe, WriterFillsItsSpaceInPlace) {
    CHTTPBodyPipe pipe;
    CHTTPBodyPipe::Space space = pipe.GetSpace(5);
    ASSERT_EQ(space.size, 5u);
    std::memcpy(space.data, "hello", 5);
    pipe.Commit(3); // only what was filled counts
    char buffer[8] = {};
    EXPECT_EQ(pipe.Read(sizeof buffer, buffer, 0), 3u);
    EXPECT_EQ(std::string(buffer, 3), "hel");

    // The reader gives up while the writer fills: what it filled goes.
    space = pipe.GetSpace(2);
    std::memcpy(space.data, "xy", 2);
    pipe.Close();
    pipe.Commit(2);
    EXPECT_EQ(pipe.GetCount(), 0u);

    // A full pipe has no space; one that drops hands out scratch memory and keeps nothing.
    CHTTPBodyPipe full;
    std::string block(CHTTPBodyPipe::kCapacity, 'f');
    full.Write(block.data(), block.size());
    EXPECT_EQ(full.GetSpace(10).size, 0u);
    full.Read(10, nullptr, 0);
    EXPECT_EQ(full.GetSpace(100).size, 10u);
    CHTTPBodyPipe drop(CHTTPBodyPipe::Retention::Drop);
    space = drop.GetSpace(4096);
    ASSERT_GT(space.size, 0u);
    ASSERT_LE(space.size, 4096u);
    std::memset(space.data, 'd', space.size);
    drop.Commit(space.size);
    EXPECT_EQ(drop.GetCount(), 0u);
}

TEST(HttpBodyPipe, WriterAndReaderCopyAtOnceWithoutLosingOrder) {
    // The writer fills spaces and the reader copies out, both outside the lock, while the ring grows
    // and wraps; the bytes must arrive whole and in order (and ThreadSanitizer must see no race).
    CHTTPBodyPipe pipe;
    const size_t total = 3 * CHTTPBodyPipe::kCapacity + 12345;
    auto byteAt = [](size_t i) { return static_cast<char>((i * 7 + i / 251) & 0xFF); };
    std::thread writer([&] {
        size_t written = 0;
        unsigned seed = 3;
        while (written < total) {
            seed = seed * 1103515245u + 12345u;
            size_t want = std::min<size_t>(1 + (seed >> 16) % 1024, total - written);
            CHTTPBodyPipe::Space space = pipe.GetSpace(want);
            if (space.size == 0) {
                pipe.Flush();
                pipe.WaitForRoom(1);
                continue;
            }
            size_t filled = space.size - std::min<size_t>(space.size - 1, (seed >> 8) % 3);
            for (size_t i = 0; i < filled; ++i)
                space.data[i] = byteAt(written + i);
            pipe.Commit(filled);
            written += filled;
        }
        pipe.End();
    });
    std::string got;
    got.reserve(total);
    std::vector<char> buffer(70000);
    unsigned seed = 11;
    for (;;) {
        seed = seed * 1103515245u + 12345u;
        size_t n = pipe.Read(1 + (seed >> 16) % buffer.size(), buffer.data(), -1);
        if (n == 0)
            break;
        got.append(buffer.data(), n);
    }
    writer.join();
    ASSERT_EQ(got.size(), total);
    for (size_t i = 0; i < total; ++i)
        ASSERT_EQ(got[i], byteAt(i)) << "at byte " << i;
}

// --- Through a socket, from the scripted server ------------------------------------------------------

// Text for the replay server's JSON script: each byte becomes one character.
std::string JsonString(const std::string& bytes) {
    std::string json = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            json += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        }
    }
    return json + "\"";
}

// One connection's actions in the replay server's script.
class Script {
public:
    Script& Send(const std::string& bytes, size_t piece = 0, double gap = 0) {
        Add("{\"send\": " + JsonString(bytes) + ", \"piece\": " + std::to_string(piece) +
            ", \"gap\": " + std::to_string(gap) + "}");
        return *this;
    }
    Script& Pause(double seconds) {
        Add("{\"pause\": " + std::to_string(seconds) + "}");
        return *this;
    }
    Script& ResetConnection() {
        Add("{\"reset\": true}");
        return *this;
    }
    std::string Json() const { return "[" + m_actions + "]"; }

private:
    void Add(const std::string& action) { m_actions += (m_actions.empty() ? "" : ", ") + action; }
    std::string m_actions;
};

// The scripted server, a child process on 127.0.0.1 that serves one connection per script.
class ReplayServer {
public:
    explicit ReplayServer(const std::vector<Script>& connections) : m_folder("px-replay") {
        std::string json = "{\"connections\": [";
        for (size_t i = 0; i < connections.size(); ++i)
            json += (i ? ", " : "") + connections[i].Json();
        json += "]}";
        EXPECT_TRUE(testsupport::WriteWholeFile(m_folder / "script.json", json));
        m_process = std::make_unique<testsupport::ChildProcess>(
            std::vector<std::string>{"python3", PX_SOURCE_DIR "/tests/net/replay_server.py"},
            testsupport::ChildProcess::Options{
                .environment = {}, .outputPath = m_folder / "port", .errorPath = ""},
            m_folder / "script.json");
        EXPECT_TRUE(m_process->Started());
        // The server prints its port once it listens.
        std::string text;
        for (int i = 0; i < 600 && text.find('\n') == std::string::npos &&
                        m_process->GetState() == testsupport::ChildProcess::State::Running;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            text = m_folder.Read("port");
        }
        text = m_folder.Read("port");
        m_port = static_cast<uint16_t>(text.find('\n') == std::string::npos ? 0 : std::stoi(text));
        EXPECT_NE(m_port, 0) << "the replay server did not start";
    }
    ~ReplayServer() {
        // It ends by itself after its last connection; one that does not is stopped.
        m_process->Wait(5);
        m_process.reset(); // the server first: its folder goes after it
    }
    ReplayServer(const ReplayServer&) = delete;
    ReplayServer& operator=(const ReplayServer&) = delete;

    uint16_t Port() const { return m_port; }

private:
    testsupport::ScopedTempFolder m_folder;
    std::unique_ptr<testsupport::ChildProcess> m_process;
    uint16_t m_port = 0;
};

// Drives the response as the connection's worker does: a readiness wait in 0.1-second slices, then one
// step with time-out 0. A restartable failure makes a new connection for the next attempt, at most
// `attempts` in all; when the exchange ends without the reply, the failure is recorded as the
// connection records it. Returns the code of the exception that ended it, empty when the reply
// completed.
std::string Work(CHTTPResponse& response, uint16_t port, int attempts) {
    for (int attempt = 1;; ++attempt) {
        try {
            CSocket socket(ResolveHostAddress("127.0.0.1", port));
            for (int idle = 0; idle < 100;) {
                if (socket.Wait(CSocket::kReadable, 0.1) == 0) {
                    ++idle;
                    continue;
                }
                idle = 0;
                if (response.ReadStep(socket))
                    return "";
            }
            response.SetError(0, "stalled");
            return "stalled";
        } catch (const CHTTPRestartableResponseException& e) {
            if (attempt == attempts) {
                response.SetError(0, e.GetText());
                return e.GetCode();
            }
        } catch (const CException& e) {
            response.SetError(0, e.GetText());
            return e.GetCode();
        }
    }
}

class HttpResponseSocket : public HttpResponse {
protected:
    void SetUp() override {
        HttpResponse::SetUp();
        CWinSockLibrary::Acquire();
    }
    void TearDown() override {
        CWinSockLibrary::Release();
        HttpResponse::TearDown();
    }
};

// The worker on a thread of its own, the submitter reading status and body on this one.
struct Exchange {
    std::string error;
    int status = 0;
    std::string reason;
    std::string body;
};

Exchange RunExchange(const std::vector<Script>& connections, int attempts = 1) {
    ReplayServer server(connections);
    CHTTPResponse response;
    Exchange result;
    std::thread worker([&] { result.error = Work(response, server.Port(), attempts); });
    result.status = response.GetStatus();
    result.reason = response.GetReason();
    char buffer[300];
    try {
        while (size_t n = response.Read(sizeof buffer, buffer))
            result.body.append(buffer, n);
    } catch (const CException& e) {
        result.body += std::string("<") + e.GetCode() + ">";
    }
    worker.join();
    return result;
}

TEST_F(HttpResponseSocket, EveryFramingByteByByteAndWhole) {
    struct Delivery {
        size_t piece; // bytes per send, 0 for the whole reply at once
        double gap;
    };
    const Delivery deliveries[] = {
        // Every byte in a read of its own: terminators and numbers split everywhere.
        {1, 0.0005},
        // The whole reply at once: the bytes after each framing line are already buffered when the
        // next piece is read, and must be taken from the buffer and the socket in order.
        {0, 0},
    };
    for (const Delivery& d : deliveries) {
        for (const ReplyCase& c : kGoodReplies) {
            if (d.piece == 1 && c.reply.size() > 1000)
                continue;
            Exchange x = RunExchange({Script().Send(c.reply, d.piece, d.gap)});
            EXPECT_EQ(x.error, "") << c.what << ", piece " << d.piece;
            EXPECT_EQ(x.status, c.status) << c.what << ", piece " << d.piece;
            EXPECT_EQ(x.reason, c.reason) << c.what << ", piece " << d.piece;
            EXPECT_EQ(x.body, c.body) << c.what << ", piece " << d.piece;
        }
    }
}

TEST_F(HttpResponseSocket, SplitTerminatorsAndPauses) {
    // Every terminator is cut between its bytes, with pauses long enough for separate reads.
    Exchange x = RunExchange({Script()
                                  .Send("HTTP/1.1 100 Continue\r")
                                  .Pause(0.05)
                                  .Send("\n\r")
                                  .Pause(0.05)
                                  .Send("\nHTTP/1.1 200 OK\r\nX-A: b\r\n")
                                  .Pause(0.05)
                                  .Send(" more\r\ntransfer-encoding: chunked\r\n\r")
                                  .Pause(0.05)
                                  .Send("\n5\r")
                                  .Pause(0.05)
                                  .Send("\nhel")
                                  .Pause(0.05)
                                  .Send("lo\r\n0\r\n\r")
                                  .Pause(0.05)
                                  .Send("\n")});
    EXPECT_EQ(x.error, "");
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body, "hello");
}

TEST_F(HttpResponseSocket, LongBodyInOddPieces) {
    std::string body;
    for (int i = 0; i < 5000; ++i)
        body += static_cast<char>('a' + i % 26);
    std::string chunked;
    for (size_t at = 0; at < body.size(); at += 1500) {
        std::string part = body.substr(at, 1500);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        chunked += size + part + "\r\n";
    }
    // In odd pieces, and whole: then each chunk's first piece comes partly from the bytes buffered
    // with its size line, partly from the socket.
    for (size_t piece : {7, 0}) {
        Exchange x = RunExchange({Script().Send(
            "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n" + chunked + "0\r\n\r\n", piece, 0)});
        EXPECT_EQ(x.error, "") << "piece " << piece;
        EXPECT_EQ(x.body, body) << "piece " << piece;
    }
}

TEST_F(HttpResponseSocket, TruncationResetsAndTheNextAttemptSucceeds) {
    // The first connection ends with a reset inside the header block; the second carries the reply.
    Exchange x = RunExchange({Script().Send("HTTP/1.1 200 OK\r\ncontent-le").Pause(0.3).ResetConnection(),
                              Script()
                                  .Send("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123456789", 5, 0.01)
                                  .Send("abcdefghij")},
                             2);
    EXPECT_EQ(x.error, "");
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body, "0123456789abcdefghij");
}

TEST_F(HttpResponseSocket, TruncatedBodyAfterTheReaderTookSomeBreaksTheStream) {
    // The reader takes the first 10 bytes while the server pauses, then the server closes.
    Exchange x =
        RunExchange({Script().Send("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123456789").Pause(0.3),
                     Script().Send("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123456789abcdefghij")},
                    2);
    EXPECT_EQ(x.error, "");
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body, "0123456789<EHTTPRPLYTRUNC>");
}

TEST_F(HttpResponseSocket, FailuresReachTheSubmitter) {
    struct Row {
        const char* what;
        Script script;
        const char* code;
        int status;
        std::string reason;
    };
    const Row rows[] = {
        {"bad status", Script().Send("HTTP/1.1 600 X\r\n\r\n", 3, 0.001), "EHTTPRPLYBADSTATUS", 1,
         kBadStatusText},
        {"unknown encoding", Script().Send("HTTP/1.1 200 OK\r\ntransfer-encoding: gzip\r\n\r\n", 3, 0.001),
         "EHTTPRPLYBADENCODING", 3, kBadEncodingText},
        {"header too big", Script().Send("HTTP/1.1 200 OK\r\n" + kBigField + "\r\n", 900, 0),
         "EHTTPRPLYTOOBIG", 4, kTooBigText},
        {"no reply", Script(), "EHTTPNORPLY", 0, "There was no reply from the HTTP server"},
        {"truncated",
         Script()
             .Send("HTTP/1.1 200 OK\r\ncontent-length: 20\r\n\r\n0123456789")
             .Pause(0.3)
             .ResetConnection(),
         "EHTTPRPLYTRUNC", 0, "The reply from the HTTP server was truncated"},
    };
    for (const Row& row : rows) {
        ReplayServer server({row.script});
        CHTTPResponse response;
        std::string error = Work(response, server.Port(), 1);
        EXPECT_EQ(error, row.code) << row.what;
        EXPECT_EQ(response.GetStatus(), row.status) << row.what;
        EXPECT_EQ(response.GetReason(), row.reason) << row.what;
        char byte;
        EXPECT_EQ(response.Read(1, &byte), 0u) << row.what;
    }
}

} // namespace
