// The upload protocol against the reference server (tools/refserver), started by the tests on
// 127.0.0.1 with a temporary store and statistics log, and stopped at the end of each test.
#include "foundation/wait_set.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/e2e_support.h"
#include "tests/support/network_ready.h"
#include "tests/support/ref_server.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/stat_sender.h"
#include "upload/upload_connection.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_item_info.h"
#include "upload/upload_message.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using e2e::RandomBytes;

// Submits the message and polls its reply as a sender thread does; the connection goes first.
void Exchange(UploadMessage& message, const UploadEndpoint& endpoint) {
    UploadConnection connection(endpoint);
    message.Submit(connection);
    CWaitSet waits({message.GetReplyEvent()});
    for (int i = 0; i < 300 && !message.PollReply(); ++i)
        waits.Wait(0.1);
    ASSERT_TRUE(message.IsReplyComplete());
}

class UploadProtocolE2E : public NetworkReady {
protected:
    void SetUp() override {
        NetworkReady::SetUp();
        m_folder = std::make_unique<testsupport::ScopedTempFolder>("px-upload-pics");
        m_pictures = m_folder->Path();
    }
    void TearDown() override {
        m_folder.reset();
        NetworkReady::TearDown();
    }

    static UploadEndpoint Endpoint(const RefServer& server) {
        return UploadEndpoint(server.Server(), "Pixolane Plugin/2.40 [en_US] (p; s; e2e) [Browser: t]", 10.0,
                              true);
    }

    UploadItemInfo MakeItem(const std::string& path) {
        UploadItemInfo item;
        item.SetPath(path);
        item.SetAuthenticationID("auth-1");
        item.SetSessionID("session 1");
        item.SetUID("user&1");
        item.SetPartnerID("p=1");
        item.SetPartnerSubID("sub");
        item.SetCampaignID("c%1");
        item.SetAlbumID("");
        item.SetAlbumName("Summer at the lake");
        return item;
    }

    // "GetImageID" to the plug-in's server; stores what it answered in the item.
    static void ObtainIdentifier(UploadItemInfo& item, const UploadEndpoint& endpoint) {
        UploadMessage message(UploadMessage::Kind::ImageID);
        message.Fill(item);
        ASSERT_NO_FATAL_FAILURE(Exchange(message, endpoint));
        ASSERT_TRUE(message.IsOK()) << message.GetErrorCode() << " " << message.GetErrorMessage();
        item.SetImageID(message.GetReplyText("ImageID"));
        item.SetServer(message.GetReplyText("Server"));
        item.SetUploadServer(message.GetReplyText("UploadServer"));
        item.SetCookie(message.GetSetCookie());
        EXPECT_FALSE(item.GetCookie().empty());
    }

    // "GetImageOffset" to the data server; stores the offset in the item.
    static void QueryOffset(UploadItemInfo& item, const UploadEndpoint& endpoint) {
        UploadMessage message(UploadMessage::Kind::ImageOffset);
        message.Fill(item);
        ASSERT_NO_FATAL_FAILURE(Exchange(message, endpoint.ForServer(item.GetServer())));
        ASSERT_TRUE(message.IsOK()) << message.GetErrorCode() << " " << message.GetErrorMessage();
        item.SetOffset(message.GetReplyUnsigned("Offset"));
    }

    // "UploadImage" from the item's offset; true when the server answered OK.
    static bool SendData(UploadItemInfo& item, const UploadEndpoint& endpoint) {
        UploadMessage message(UploadMessage::Kind::UploadImage);
        message.Fill(item);
        Exchange(message, endpoint.ForServer(item.GetServer()));
        return message.IsOK();
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_folder;
    std::string m_pictures;
};

TEST_F(UploadProtocolE2E, AWholePictureByTheThreeServlets) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string path = m_pictures + "/lake.jpg";
    const std::string bytes = RandomBytes(150000, 11);
    testsupport::WriteWholeFile(path, bytes);
    UploadItemInfo item = MakeItem(path);
    UploadEndpoint endpoint = Endpoint(server);

    ASSERT_NO_FATAL_FAILURE(ObtainIdentifier(item, endpoint));
    EXPECT_NE(item.GetServer(), server.Server()); // the data goes to the second listener
    ASSERT_NO_FATAL_FAILURE(QueryOffset(item, endpoint));
    EXPECT_EQ(item.GetOffset(), 0u);
    ASSERT_TRUE(SendData(item, endpoint));
    EXPECT_EQ(server.StoredBytes(item.GetImageID()), bytes);

    // Asked again, the server has the whole picture.
    UploadMessage again(UploadMessage::Kind::ImageOffset);
    again.Fill(item);
    ASSERT_NO_FATAL_FAILURE(Exchange(again, endpoint.ForServer(item.GetServer())));
    EXPECT_FALSE(again.IsOK());
    EXPECT_EQ(again.GetErrorCode(), 14);
}

TEST_F(UploadProtocolE2E, AnInterruptedUploadResumesFromTheOffsetTheServerReports) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","drop_after":60000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = m_pictures + "/big.jpg";
    const std::string bytes = RandomBytes(200000, 12);
    testsupport::WriteWholeFile(path, bytes);
    UploadItemInfo item = MakeItem(path);
    UploadEndpoint endpoint = Endpoint(server);

    ASSERT_NO_FATAL_FAILURE(ObtainIdentifier(item, endpoint));
    ASSERT_NO_FATAL_FAILURE(QueryOffset(item, endpoint));
    ASSERT_FALSE(SendData(item, endpoint)); // the server hangs up after 60000 body bytes
    ASSERT_NO_FATAL_FAILURE(QueryOffset(item, endpoint));
    const uint32_t resumedFrom = item.GetOffset();
    EXPECT_GT(resumedFrom, 0u);
    EXPECT_LT(resumedFrom, 60000u);
    EXPECT_EQ(server.StoredBytes(item.GetImageID()), bytes.substr(0, resumedFrom));

    ASSERT_TRUE(SendData(item, endpoint));
    EXPECT_EQ(server.StoredBytes(item.GetImageID()), bytes);
}

TEST_F(UploadProtocolE2E, APathWithADoubleQuoteUploadsAndIsStored) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
#ifndef _WIN32
    const std::string path = m_pictures + "/say \"cheese\".jpg";
#else // Windows names cannot hold a double quote: a single one and a semicolon go as they are
    const std::string path = m_pictures + "/say 'cheese'; 50%.jpg";
#endif
    const std::string bytes = RandomBytes(30000, 13);
    testsupport::WriteWholeFile(path, bytes);
    UploadItemInfo item = MakeItem(path);
    UploadEndpoint endpoint = Endpoint(server);

    ASSERT_NO_FATAL_FAILURE(ObtainIdentifier(item, endpoint));
    ASSERT_NO_FATAL_FAILURE(QueryOffset(item, endpoint));
    ASSERT_TRUE(SendData(item, endpoint));
    EXPECT_EQ(server.StoredBytes(item.GetImageID()), bytes);
#ifndef _WIN32
    const std::string stored = m_pictures + "/say %22cheese%22.jpg";
#else
    // The index is JSON: the folder's backslashes appear doubled there.
    std::string stored;
    for (char c : m_pictures + "/say 'cheese'; 50%.jpg")
        stored += c == '\\' ? std::string("\\\\") : std::string(1, c);
#endif
    EXPECT_NE(server.Index().find("\"filename\": \"" + stored + "\""), std::string::npos)
        << server.Index();
}

TEST_F(UploadProtocolE2E, StatisticsAreLoggedWithEveryField) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    const std::string path = m_pictures + "/stats.jpg";
    testsupport::WriteWholeFile(path, RandomBytes(4321, 14));
    UploadItemInfo item = MakeItem(path);
    item.SetImageID("IMG-stat");
    item.SetUploadServer("refserver one");
    StatSender::Figures figures;
    figures.bytesDone = 4321;
    figures.firstStartTime = 1700000000;
    figures.lastStopTime = 1700000003;
    figures.transferSeconds = 2;
    figures.errorText = "server busy\r\n";
    figures.retries = 1;
    figures.offsetQueries = 2;
    {
        StatSender sender(Endpoint(server));
        sender.Enqueue(item, figures);
        // Sent and answered: the server logs a message before it replies.
        ASSERT_TRUE(sender.WaitUntilIdle(10.0));
    }
    const std::string log = server.Stats();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.find('\n'), log.size() - 1) << "exactly one statistics line: " << log;
    const std::pair<const char*, const char*> fields[] = {
        {"STAT_BYTES_WRITTEN", "4321"},
        {"STAT_ELAPSED_TIME", "3000"},
        {"STAT_ERROR", "server busy\\r\\n"},
        {"STAT_IMAGE_ID", "IMG-stat"},
        {"STAT_IMAGE_RETRIES", "1"},
        {"STAT_KEY", "PLUGIN"},
        {"STAT_OFFSET_RETRIES", "2"},
        {"STAT_RAW_SIZE", "4321"},
        {"STAT_SERVER", "refserver one"},
        {"STAT_SESSION_ID", "session 1"},
        {"STAT_START_TIME", "1700000000000"},
        {"STAT_TRANSFER_TIME", "2000"},
        {"STAT_UID", "user&1"},
    };
    for (const auto& [name, value] : fields)
        EXPECT_NE(log.find("\"" + std::string(name) + "\": \"" + value + "\""), std::string::npos)
            << name << " in " << log;
}

} // namespace
