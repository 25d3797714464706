#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/network_ready.h"
#include "tests/upload/raw_http_peer.h"
#include "upload/stat_sender.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_item_info.h"
#include "upload/upload_message.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

UploadItemInfo MakeItem(const std::string& uid) {
    UploadItemInfo item;
    item.SetPath("/nonexistent/px-stat-test.jpg"); // size 0: the file cannot be examined
    item.SetUID(uid);
    item.SetSessionID("S1");
    item.SetImageID("IMG7");
    item.SetUploadServer("up-3");
    return item;
}

std::string BodyOf(const std::string& request) {
    return request.substr(request.find("\r\n\r\n") + 4);
}

class StatSenderTest : public NetworkReady {
protected:
    static UploadEndpoint Endpoint(const RawHttpPeer& peer, bool sendStats = true) {
        return UploadEndpoint(peer.Server(), "UA", 5.0, sendStats);
    }
};

TEST(StatSenderMessage, ThirteenFieldsFromTheJobAndItem) {
    StatSender::Figures figures;
    figures.bytesDone = 123456;
    figures.firstStartTime = 1700000000;
    figures.lastStopTime = 1700000042;
    figures.transferSeconds = 40;
    figures.errorText = "busy\r\n";
    figures.retries = 2;
    figures.offsetQueries = 5;
    UploadItemInfo item = MakeItem("U9");
    std::unique_ptr<UploadMessage> message = StatSender::BuildMessage(item, figures);
    EXPECT_EQ(message->GetServletName(), "UploadClientStats");
    const std::map<std::string, std::string> expected = {
        {"STAT_BYTES_WRITTEN", "123456"},
        {"STAT_ELAPSED_TIME", "42000"},
        {"STAT_ERROR", "busy\r\n"},
        {"STAT_IMAGE_ID", "IMG7"},
        {"STAT_IMAGE_RETRIES", "2"},
        {"STAT_KEY", "PLUGIN"},
        {"STAT_OFFSET_RETRIES", "5"},
        {"STAT_RAW_SIZE", "0"},
        {"STAT_SERVER", "up-3"},
        {"STAT_SESSION_ID", "S1"},
        {"STAT_START_TIME", "1700000000000"},
        {"STAT_TRANSFER_TIME", "40000"},
        {"STAT_UID", "U9"},
    };
    EXPECT_EQ(message->GetFields(), expected);
}

TEST(StatSenderMessage, TimesOfAPictureThatNeverRanOrIsStillRunning) {
    struct Row {
        int64_t firstStart;
        int64_t lastStop;
        const char* start;
        const char* elapsed;
        const char* what;
    };
    const Row rows[] = {
        {0, 0, "0000", "0", "never started"},
        {1700000000, 0, "1700000000000", "0", "still running, never stopped"},
        {1700000010, 1700000005, "1700000010000", "0", "restarted after the last stop"},
        {1700000010, 1700000010, "1700000010000", "0", "stopped within the same second"},
    };
    for (const Row& row : rows) {
        StatSender::Figures figures;
        figures.firstStartTime = row.firstStart;
        figures.lastStopTime = row.lastStop;
        auto message = StatSender::BuildMessage(MakeItem("U"), figures);
        EXPECT_EQ(message->GetFields().at("STAT_START_TIME"), row.start) << row.what;
        EXPECT_EQ(message->GetFields().at("STAT_ELAPSED_TIME"), row.elapsed) << row.what;
        EXPECT_EQ(message->GetFields().at("STAT_ERROR"), "") << row.what;
    }
}

TEST_F(StatSenderTest, MessagesGoOutInOrderWhateverTheServerAnswers) {
    // An error reply and an HTTP failure do not stop the following messages.
    RawHttpPeer peer({RawHttpPeer::Ok("Status=Error\nErrCode=2\n"), RawHttpPeer::Reply(500, "Down", ""),
                      RawHttpPeer::Ok("Status=OK\n")});
    {
        StatSender sender(Endpoint(peer));
        for (const char* uid : {"first", "second", "third"})
            sender.Enqueue(MakeItem(uid), StatSender::Figures{});
        std::vector<std::string> requests = peer.WaitForRequests(3);
        ASSERT_EQ(requests.size(), 3u);
        const char* uids[] = {"first", "second", "third"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(requests[i].rfind("POST /UploadClientStats HTTP/1.1\r\n", 0), 0u);
            EXPECT_EQ(BodyOf(requests[i]).substr(BodyOf(requests[i]).rfind('&')),
                      std::string("&STAT%5FUID=") + uids[i]);
        }
    }
    EXPECT_EQ(peer.RequestCount(), 3u);
}

TEST_F(StatSenderTest, DestroyDropsWhatIsQueuedBehindAMessageInFlight) {
    RawHttpPeer silent({}); // records the request and never answers
    {
        StatSender sender(Endpoint(silent));
        for (const char* uid : {"a", "b", "c", "d"})
            sender.Enqueue(MakeItem(uid), StatSender::Figures{});
        ASSERT_EQ(silent.WaitForRequests(1).size(), 1u);
        EXPECT_EQ(sender.GetQueuedCount(), 3u);
    } // must return although the reply never comes
    EXPECT_EQ(silent.RequestCount(), 1u);
}

TEST_F(StatSenderTest, NothingIsSentWhenStatisticsAreOff) {
    RawHttpPeer peer({RawHttpPeer::Ok("Status=OK\n")});
    {
        StatSender sender(Endpoint(peer, false));
        sender.Enqueue(MakeItem("x"), StatSender::Figures{});
        EXPECT_EQ(sender.GetQueuedCount(), 0u);
    }
    EXPECT_EQ(peer.RequestCount(), 0u);
}

} // namespace
