// The upload engine as a whole (queue, session, sender threads, statistics sender) against the
// reference server (tools/refserver) on 127.0.0.1: faults injected on the server, the queue driven
// from the test thread as the user-interface thread drives it, and every outcome checked against the
// bytes the server stored and the requests it saw.
#include "foundation/event.h"
#include "foundation/wait_set.h"
#include "net/http_connection.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "pictures/picture_format_list.h"
#include "tests/support/catalogues.h"
#include "tests/support/e2e_support.h"
#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/sender_thread.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_queue.h"
#include "upload/upload_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using e2e::RandomBytes;
using e2e::Requests;
using e2e::Seconds;
using e2e::State;
using e2e::WaitFor;

using refserver::Json;

// The busy back-off (1, 4, 9, 16, 25 s) and the HTTP client's retry pauses shrink by these factors.
constexpr double kBusyPauseScale = 0.02;
constexpr double kRetryPauseScale = 0.01;
// Longest time one test lets the engine run before it counts as hung.
constexpr double kSettleSeconds = 20.0;

constexpr const char* kSessionID = "session 7";
constexpr const char* kUID = "user&7";
constexpr const char* kAuthenticationID = "auth-7";

// The servlets of the logged requests, in the order they arrived.
std::vector<std::string> ServletSequence(const Json& state) {
    std::vector<std::string> servlets;
    for (const Json& entry : state["log"].Items())
        servlets.push_back(entry["servlet"].AsString());
    return servlets;
}

std::vector<const Json*> LogOf(const Json& state, const std::string& servlet) {
    std::vector<const Json*> entries;
    for (const Json& entry : state["log"].Items())
        if (entry["servlet"].AsString() == servlet)
            entries.push_back(&entry);
    return entries;
}

// What an "UploadImage" stored, from its log note: "<ImageID> +<bytes> at <offset> -> <held>/<size>".
struct Stored {
    std::string imageID;
    int64_t bytes = -1;
    int64_t offset = -1;
    int64_t held = -1;
};

Stored StoredBy(const Json& entry) {
    const std::string& note = entry["note"].AsString();
    size_t plus = note.find(" +");
    if (plus == std::string::npos)
        return {};
    size_t start = note.rfind(' ', plus - 1);
    Stored stored;
    stored.imageID = note.substr(start == std::string::npos ? 0 : start + 1, plus - (start + 1));
    long long bytes = -1, offset = -1, held = -1, size = -1;
    if (std::sscanf(note.c_str() + plus, " +%lld at %lld -> %lld/%lld", &bytes, &offset, &held, &size) != 4)
        return {};
    stored.bytes = bytes;
    stored.offset = offset;
    stored.held = held;
    return stored;
}

// The server's records of pictures sent under this filename.
std::vector<const Json*> RecordsOf(const Json& state, const std::string& filename) {
    std::vector<const Json*> records;
    for (const auto& [id, record] : state["pictures"].Members())
        if (record["filename"].AsString() == filename)
            records.push_back(&record);
    return records;
}

// The most bytes the server holds of any picture.
int64_t HeldOnServer(const Json& state) {
    int64_t held = 0;
    for (const auto& [id, record] : state["pictures"].Members())
        held = std::max(held, record["received"].AsInt());
    return held;
}

// No connection of the client's is open on the server and no request is being served.
bool NothingOpen(const Json& state) {
    return state["in_flight"]["current"].AsInt() == 0 && state["connections"]["current"].AsInt() == 0;
}

std::vector<std::string> Repeat(const std::vector<std::string>& pattern, int times) {
    std::vector<std::string> out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), pattern.begin(), pattern.end());
    return out;
}

class UploadEngineE2E : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
        PxSenderThread::SetBusyPauseScaleForTests(kBusyPauseScale);
        CHTTPConnection::SetRetryPauseScaleForTests(kRetryPauseScale);
        m_folder = std::make_unique<testsupport::ScopedTempFolder>("px-engine-pics");
        m_pictures = m_folder->Path();
        ASSERT_FALSE(m_pictures.empty());
    }
    void TearDown() override {
        m_folder.reset();
        CHTTPConnection::SetRetryPauseScaleForTests(1.0);
        PxSenderThread::SetBusyPauseScaleForTests(1.0);
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
        CataloguesInstalled::TearDown();
    }

    // A picture of random bytes under the test's folder; returns its full path.
    std::string AddPicture(const std::string& name, size_t size) {
        std::string path = m_pictures + "/" + name;
        std::string bytes = RandomBytes(size, static_cast<unsigned>(m_bytes.size() + 1));
        std::ofstream(path, std::ios::binary) << bytes;
        m_bytes[path] = std::move(bytes);
        return path;
    }
    const std::string& BytesOf(const std::string& path) { return m_bytes.at(path); }

    std::unique_ptr<UploadQueue> MakeQueue(const RefServer& server, uint32_t maxConnections,
                                           bool sendStats = false) {
        PluginParameters parameters;
        parameters.d_server = server.Server();
        parameters.d_sessionID = kSessionID;
        parameters.d_uid = kUID;
        parameters.d_authenticationID = kAuthenticationID;
        parameters.d_partnerID = "partner 1";
        parameters.d_campaignID = "spring";
        parameters.d_albumName = "Lake & hills";
        parameters.d_maxConnections = maxConnections;
        parameters.d_sendStats = sendStats;
        UploadEndpoint endpoint(server.Server(), "Pixolane Plugin/2.40 [en_US] (p; s; e2e) [Browser: t]",
                                10.0, sendStats);
        auto queue = std::make_unique<UploadQueue>(parameters, endpoint, [](const std::string& path) {
            return CPictureFormatList::Get().FindByFileName(path) != nullptr;
        });
        queue->GetSession().AddObserver([this] { m_changed.Set(); });
        return queue;
    }

    // Refreshes the queue as the user-interface thread does, after every change and at least every
    // tenth of a second, until `done` holds; false when it did not within the time.
    bool RefreshUntil(UploadQueue& queue, const std::function<bool()>& done,
                      double seconds = kSettleSeconds) {
        for (double deadline = Seconds() + seconds;;) {
            m_changed.Reset();
            queue.Refresh();
            if (done())
                return true;
            if (Seconds() > deadline)
                return false;
            CWaitSet({&m_changed}).Wait(0.1);
        }
    }
    // Until no picture is pending. A refresh ticks the session before it counts the entries, so a picture
    // that ends in between is counted as ended while the totals still read pending: settled means both agree.
    bool Settle(UploadQueue& queue, double seconds = kSettleSeconds) {
        return RefreshUntil(
            queue,
            [&queue] {
                return queue.GetPendingCount() == 0 &&
                       queue.GetSession().GetTotals().GetStatus() != UploadStatus::Pending;
            },
            seconds);
    }

    // The one complete record of the picture holds exactly its bytes; returns its ImageID.
    std::string ExpectStoredExactly(const RefServer& server, const Json& state, const std::string& path,
                                    const std::string& filename = "") {
        std::vector<const Json*> complete;
        for (const Json* record : RecordsOf(state, filename.empty() ? path : filename))
            if ((*record)["complete"].AsBool())
                complete.push_back(record);
        EXPECT_EQ(complete.size(), 1u) << path;
        if (complete.size() != 1)
            return {};
        std::string imageID = (*complete[0])["image_id"].AsString();
        EXPECT_EQ((*complete[0])["received"].AsInt(), static_cast<int64_t>(BytesOf(path).size())) << path;
        EXPECT_TRUE(server.StoredBytes(imageID) == BytesOf(path)) << path << " stored as " << imageID;
        return imageID;
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_folder;
    std::string m_pictures;
    std::map<std::string, std::string> m_bytes; // path -> the bytes written there
    CEvent m_changed;                           // set by the session's observer
};

// --- many pictures over several connections ---

class ManyPictures : public UploadEngineE2E, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ManyPictures, AllStoredExactlyAndAsManyConnectionsAsAllowed) {
    const uint32_t maxConnections = GetParam();
    // Each identifier request is held a fifth of a second, so that the threads started together are
    // certainly seen together.
    RefServer server({"--fault", R"({"servlet":"GetImageID","delay":0.2})"});
    ASSERT_TRUE(server.IsListening());
    std::mt19937 sizes(maxConnections);
    std::vector<std::string> paths;
    for (int i = 0; i < 20; ++i)
        paths.push_back(AddPicture("picture " + std::to_string(i) + ".jpg", 50000 + sizes() % 450000));

    auto queue = MakeQueue(server, maxConnections);
    for (const std::string& path : paths)
        queue->Add(path, "");
    ASSERT_TRUE(Settle(*queue));
    EXPECT_EQ(queue->GetCompletedCount(), 20u);
    EXPECT_EQ(queue->GetFailedCount(), 0u);
    EXPECT_TRUE(queue->IsComplete());
    EXPECT_LE(queue->GetSession().GetThreadCount(), maxConnections);

    Json state = State(server);
    for (const std::string& path : paths)
        ExpectStoredExactly(server, state, path);
    EXPECT_EQ(Requests(state, "GetImageID"), 20);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 0);
    EXPECT_EQ(Requests(state, "UploadImage"), 20);
    EXPECT_LE(state["connections"]["peak"].AsInt(), static_cast<int64_t>(maxConnections));
    EXPECT_EQ(state["in_flight"]["peak"].AsInt(), static_cast<int64_t>(maxConnections));
}

INSTANTIATE_TEST_SUITE_P(Connections, ManyPictures, ::testing::Values(4u, 2u));

// --- one fault, then the recovery the protocol prescribes ---

struct Recovery {
    const char* name;
    std::vector<std::string> rules;    // --fault rules
    std::vector<std::string> sequence; // every request the picture makes, in order
    bool sameImage;                    // the uploads all went to the first identifier
    uint32_t retries;                  // restarts counted in the job
    uint32_t offsetQueries;            // "GetImageOffset" requests counted in the job
};
// Test names and ctest listings show the case by its name.
void PrintTo(const Recovery& value, std::ostream* out) {
    *out << value.name;
}

class OneFault : public UploadEngineE2E, public ::testing::WithParamInterface<Recovery> {};

TEST_P(OneFault, PictureCompletesAsPrescribed) {
    const Recovery& row = GetParam();
    std::vector<std::string> arguments;
    for (const std::string& rule : row.rules)
        arguments.insert(arguments.end(), {"--fault", rule});
    RefServer server(arguments);
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("lake.jpg", 400000);

    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Complete) << job->GetErrorText();
    EXPECT_EQ(job->GetErrorText(), "");
    EXPECT_EQ(job->GetRetries(), row.retries);
    EXPECT_EQ(job->GetOffsetQueries(), row.offsetQueries);

    Json state = State(server);
    EXPECT_EQ(ServletSequence(state), row.sequence);
    const std::string imageID = ExpectStoredExactly(server, state, path);
    // An offset query always asks about the identifier that the picture completed under.
    for (const Json* offset : LogOf(state, "GetImageOffset"))
        EXPECT_EQ((*offset)["fields"]["ImageID"].AsString(), imageID);
    EXPECT_EQ(Requests(state, "GetImageID") == 1, row.sameImage);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OneFault,
    ::testing::Values(
        // No fault: one identifier, one upload.
        Recovery{"plain", {}, {"GetImageID", "UploadImage"}, true, 0, 0},
        // An HTTP 503 without fields reads as code 503: a new identifier, no offset query.
        Recovery{"http503",
                 {R"({"servlet":"UploadImage","http":503,"times":1})"},
                 {"GetImageID", "UploadImage", "GetImageID", "UploadImage"},
                 false,
                 1,
                 0},
        // Any other positive code abandons the identifier too.
        Recovery{"code3",
                 {R"({"servlet":"UploadImage","error":3,"times":1})"},
                 {"GetImageID", "UploadImage", "GetImageID", "UploadImage"},
                 false,
                 1,
                 0},
        // A non-OK status with code 0 keeps the identifier and asks for the offset next.
        Recovery{"status0",
                 {R"({"servlet":"UploadImage","status":"Later","times":1})"},
                 {"GetImageID", "UploadImage", "GetImageOffset", "UploadImage"},
                 true,
                 1,
                 1},
        // Busy answers to the offset query are waited out (a reply with code 0 made the query necessary).
        Recovery{"busy1",
                 {R"({"servlet":"UploadImage","status":"Later","times":1})",
                  R"({"servlet":"GetImageOffset","busy":true,"times":1})"},
                 {"GetImageID", "UploadImage", "GetImageOffset", "GetImageOffset", "UploadImage"},
                 true,
                 1,
                 2},
        // Five busy answers in a row are the most that are waited for.
        Recovery{"busy5",
                 {R"({"servlet":"UploadImage","status":"Later","times":1})",
                  R"({"servlet":"GetImageOffset","busy":true,"times":5})"},
                 {"GetImageID", "UploadImage", "GetImageOffset", "GetImageOffset", "GetImageOffset",
                  "GetImageOffset", "GetImageOffset", "GetImageOffset", "UploadImage"},
                 true,
                 1,
                 6}),
    [](const ::testing::TestParamInfo<Recovery>& info) { return std::string(info.param.name); });

TEST_F(UploadEngineE2E, ADroppedConnectionResumesWithoutResendingWhatTheServerHeld) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","drop_after":100000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("dropped.jpg", 400000);
    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Complete) << job->GetErrorText();
    EXPECT_EQ(job->GetRetries(), 1u);
    EXPECT_EQ(job->GetOffsetQueries(), 1u);

    Json state = State(server);
    EXPECT_EQ(ServletSequence(state),
              (std::vector<std::string>{"GetImageID", "UploadImage", "GetImageOffset", "UploadImage"}));
    const std::string imageID = ExpectStoredExactly(server, state, path);
    std::vector<const Json*> uploads = LogOf(state, "UploadImage");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ((*uploads[0])["outcome"].AsString(), "dropped");
    Stored first = StoredBy(*uploads[0]), second = StoredBy(*uploads[1]);
    EXPECT_EQ(first.imageID, imageID);
    EXPECT_EQ(second.imageID, imageID);
    // The first request kept what arrived before the cut (the form fields came first).
    EXPECT_EQ(first.offset, 0);
    EXPECT_GT(first.bytes, 90000);
    EXPECT_LT(first.bytes, 100000);
    // The second carried Offset = what the server held and only the rest of the file.
    EXPECT_EQ(second.offset, first.held);
    EXPECT_EQ(first.bytes + second.bytes, 400000);
    EXPECT_EQ(state["pictures"][imageID]["uploads"].AsInt(), 2);
    const Json* offset = LogOf(state, "GetImageOffset").at(0);
    EXPECT_EQ((*offset)["reply"]["Offset"].AsString(), std::to_string(first.held));
}

TEST_F(UploadEngineE2E, SixBusyAnswersInARowTakeANewIdentifier) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","drop_after":100000,"times":1})", "--fault",
                      R"({"servlet":"GetImageOffset","busy":true,"times":6})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("busy.jpg", 300000);
    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Complete) << job->GetErrorText();
    EXPECT_EQ(job->GetRetries(), 2u); // the dropped upload, then the sixth busy answer
    EXPECT_EQ(job->GetOffsetQueries(), 6u);

    Json state = State(server);
    std::vector<std::string> expected = {"GetImageID", "UploadImage"};
    for (int i = 0; i < 6; ++i)
        expected.push_back("GetImageOffset");
    expected.insert(expected.end(), {"GetImageID", "UploadImage"});
    EXPECT_EQ(ServletSequence(state), expected);
    const std::string imageID = ExpectStoredExactly(server, state, path);
    std::vector<const Json*> uploads = LogOf(state, "UploadImage");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_NE(StoredBy(*uploads[0]).imageID, imageID);
    EXPECT_EQ(StoredBy(*uploads[1]).offset, 0);

    // The waits after the first five busy answers grow as 1, 4, 9, 16, 25 s (scaled); the sixth is
    // not waited for.
    std::vector<const Json*> offsets = LogOf(state, "GetImageOffset");
    ASSERT_EQ(offsets.size(), 6u);
    for (size_t i = 1; i < offsets.size(); ++i) {
        double gap = (*offsets[i])["time"].AsDouble() - (*offsets[i - 1])["time"].AsDouble();
        EXPECT_GE(gap, static_cast<double>(i * i) * kBusyPauseScale) << "before busy query " << i + 1;
    }
}

TEST_F(UploadEngineE2E, CompleteOnTheServerAlreadyEndsWithoutSendingData) {
    // The whole body arrives and is stored, but the reply is lost: the offset query then answers 14.
    RefServer server({"--fault", R"({"servlet":"UploadImage","drop_after":100000000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("twice.jpg", 250000);
    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Complete) << job->GetErrorText();
    EXPECT_EQ(job->GetOffsetQueries(), 1u);

    Json state = State(server);
    EXPECT_EQ(ServletSequence(state),
              (std::vector<std::string>{"GetImageID", "UploadImage", "GetImageOffset"}));
    const std::string imageID = ExpectStoredExactly(server, state, path);
    const Json* offset = LogOf(state, "GetImageOffset").at(0);
    EXPECT_EQ((*offset)["reply"]["ErrCode"].AsString(), "14");
    EXPECT_EQ(state["pictures"][imageID]["uploads"].AsInt(), 1);
}

// --- refusals ---

struct Refusal {
    const char* name;
    std::vector<std::string> rules;
    std::vector<std::string> sequence; // every request made; nothing after the refusal
    const char* errorText;
};
// Test names and ctest listings show the case by its name.
void PrintTo(const Refusal& value, std::ostream* out) {
    *out << value.name;
}

class Refused : public UploadEngineE2E, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, PictureFailsWithTheServersMessage) {
    const Refusal& row = GetParam();
    std::vector<std::string> arguments;
    for (const std::string& rule : row.rules)
        arguments.insert(arguments.end(), {"--fault", rule});
    RefServer server(arguments);
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("refused.jpg", 200000);
    const std::string other = AddPicture("fine.jpg", 60000);

    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Failed);
    EXPECT_EQ(job->GetErrorText(), row.errorText);
    EXPECT_EQ(queue->GetFailedCount(), 1u);
    EXPECT_EQ(queue->GetSession().GetTotals().GetStatus(), UploadStatus::Failed);
    EXPECT_FALSE(queue->IsComplete());
    Json state = State(server);
    EXPECT_EQ(ServletSequence(state), row.sequence);
    for (const Json* record : RecordsOf(state, path))
        EXPECT_FALSE((*record)["complete"].AsBool());

    // The queue goes on with the next picture.
    queue->Add(other, "");
    ASSERT_TRUE(Settle(*queue));
    EXPECT_EQ(queue->GetCompletedCount(), 1u);
    EXPECT_EQ(job->GetStatus(), UploadStatus::Failed);
    ExpectStoredExactly(server, State(server), other);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Refused,
    ::testing::Values(
        Refusal{"UploadImage1",
                {R"({"servlet":"UploadImage","error":1,"times":1,"message":"not your picture"})"},
                {"GetImageID", "UploadImage"},
                "not your picture\r\n"},
        Refusal{"UploadImage2",
                {R"({"servlet":"UploadImage","error":2,"times":1,"message":"malformed request"})"},
                {"GetImageID", "UploadImage"},
                "malformed request\r\n"},
        Refusal{"UploadImage4",
                {R"({"servlet":"UploadImage","error":4,"times":1,"message":"larger than declared"})"},
                {"GetImageID", "UploadImage"},
                "larger than declared\r\n"},
        // An offset query made necessary by a reply with code 0, then refused.
        Refusal{"GetImageOffset2",
                {R"({"servlet":"UploadImage","status":"Later","times":1})",
                 R"({"servlet":"GetImageOffset","error":2,"times":1,"message":"cookie missing"})"},
                {"GetImageID", "UploadImage", "GetImageOffset"},
                "cookie missing\r\n"},
        Refusal{"GetImageID1",
                {R"({"servlet":"GetImageID","error":1,"times":1,"message":"who are you?"})"},
                {"GetImageID"},
                "who are you?\r\n"},
        // The sixth identifier's failed upload ends the picture with that reply's message.
        Refusal{"SixIdentifiers",
                {R"({"servlet":"UploadImage","error":3,"times":6,"message":"no such image"})"},
                Repeat({"GetImageID", "UploadImage"}, 6),
                "no such image\r\n"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(UploadEngineE2E, UploadsThatMakeNoProgressTakeANewIdentifierAfterSixAttempts) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","status":"Stalled","message":"try again"})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("stalled.jpg", 70000);
    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Failed);
    EXPECT_EQ(job->GetErrorText(), "try again\r\n");

    // Per identifier: its first upload, then five more from the same offset, each after an offset
    // query; the sixth identifier's first failed upload ends the picture.
    std::vector<std::string> perIdentifier = {"GetImageID", "UploadImage"};
    for (int i = 0; i < 5; ++i)
        perIdentifier.insert(perIdentifier.end(), {"GetImageOffset", "UploadImage"});
    std::vector<std::string> expected = Repeat(perIdentifier, 5);
    expected.insert(expected.end(), {"GetImageID", "UploadImage"});
    Json state = State(server);
    EXPECT_EQ(ServletSequence(state), expected);
    EXPECT_EQ(Requests(state, "GetImageID"), 6);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 25);
    EXPECT_EQ(Requests(state, "UploadImage"), 31);
    EXPECT_EQ(job->GetOffsetQueries(), 25u);
    EXPECT_EQ(job->GetRetries(), 30u);
}

// --- the user's actions in mid-transfer ---

TEST_F(UploadEngineE2E, PauseStopsTheTransferAndResumeGoesOnFromTheServersOffset) {
    // The first upload's link stalls after 500000 body bytes: the server keeps them and never answers,
    // so the pause certainly lands in the middle of the transfer.
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":500000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("paused.jpg", 1500000);
    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(RefreshUntil(*queue, [&server] { return HeldOnServer(State(server)) > 0; }));

    queue->Pause();
    EXPECT_TRUE(queue->IsPaused());
    queue->Refresh();
    EXPECT_EQ(job->GetStatus(), UploadStatus::Pending);
    EXPECT_EQ(queue->GetPendingCount(), 1u);
    EXPECT_EQ(queue->GetSession().GetTotals().GetStatus(), UploadStatus::Pending);
    // The stopped transfer leaves nothing open on the server.
    ASSERT_TRUE(WaitFor([&server] { return NothingOpen(State(server)); }));
    Json paused = State(server);
    ASSERT_EQ(LogOf(paused, "UploadImage").size(), 1u);
    EXPECT_EQ((*LogOf(paused, "UploadImage")[0])["outcome"].AsString(), "stalled");
    const Stored held = StoredBy(*LogOf(paused, "UploadImage")[0]);
    ASSERT_GT(held.held, 490000) << (*LogOf(paused, "UploadImage")[0])["note"].AsString();
    ASSERT_LT(held.held, 500000);
    EXPECT_TRUE(server.StoredBytes(held.imageID) == BytesOf(path).substr(0, static_cast<size_t>(held.held)));
    // Paused, nothing moves.
    queue->Refresh();
    EXPECT_EQ(queue->GetSession().GetThreadCount(), 1u); // stopped, not finished
    EXPECT_EQ(Requests(State(server), "UploadImage"), 1);

    queue->Resume();
    EXPECT_FALSE(queue->IsPaused());
    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Complete) << job->GetErrorText();
    EXPECT_EQ(job->GetOffsetQueries(), 1u);
    EXPECT_EQ(job->GetRetries(), 0u);
    Json state = State(server);
    EXPECT_EQ(ServletSequence(state),
              (std::vector<std::string>{"GetImageID", "UploadImage", "GetImageOffset", "UploadImage"}));
    EXPECT_EQ(ExpectStoredExactly(server, state, path), held.imageID);
    EXPECT_EQ((*LogOf(state, "GetImageOffset").at(0))["reply"]["Offset"].AsString(),
              std::to_string(held.held));
    const Stored rest = StoredBy(*LogOf(state, "UploadImage").at(1));
    EXPECT_EQ(rest.offset, held.held);
    EXPECT_EQ(rest.bytes, 1500000 - held.held);
}

TEST_F(UploadEngineE2E, RemoveStopsTheTransferAndTheOthersComplete) {
    // The removed picture's link stalls with part of it on the server; the next picture's reply is
    // held back half a second, so that the totals are read while it is certainly still pending.
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":100000,"times":1})", "--fault",
                      R"({"servlet":"UploadImage","delay":0.5,"skip":1,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string big = AddPicture("big.jpg", 1000000);
    const std::string first = AddPicture("first.jpg", 300000);
    const std::string second = AddPicture("second.jpg", 150000);
    auto queue = MakeQueue(server, 1);
    for (const std::string& path : {big, first, second})
        queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(big);
    ASSERT_TRUE(RefreshUntil(*queue, [&server] { return HeldOnServer(State(server)) > 0; }));

    queue->Remove(big);
    EXPECT_FALSE(queue->Contains(big));
    EXPECT_EQ(queue->Find(big), nullptr);
    EXPECT_EQ(queue->GetDisplayOrder(), (std::vector<std::string>{first, second}));
    EXPECT_EQ(queue->GetTotalCount(), 2u);
    for (const std::shared_ptr<UploadJob>& listed : queue->GetSession().GetJobs())
        EXPECT_NE(listed->GetPath(), big);
    queue->Refresh();
    EXPECT_EQ(queue->GetSession().GetTotals().GetSize(), 450000u);
    EXPECT_EQ(queue->GetSession().GetTotals().GetStatus(), UploadStatus::Pending);
    EXPECT_EQ(job->GetStatus(), UploadStatus::Pending);

    ASSERT_TRUE(Settle(*queue));
    EXPECT_EQ(queue->GetCompletedCount(), 2u);
    EXPECT_EQ(queue->GetFailedCount(), 0u);
    EXPECT_EQ(queue->GetTotalCount(), 2u);
    EXPECT_EQ(job->GetStatus(), UploadStatus::Pending);
    ASSERT_TRUE(WaitFor([&server] { return NothingOpen(State(server)); }));
    Json state = State(server);
    ExpectStoredExactly(server, state, first);
    ExpectStoredExactly(server, state, second);
    // The removed picture's upload ended with its transfer, and nothing was asked about it since.
    std::vector<const Json*> uploads = LogOf(state, "UploadImage");
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ((*uploads[0])["outcome"].AsString(), "stalled");
    EXPECT_EQ(Requests(state, "GetImageID"), 3);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 0);
    std::vector<const Json*> records = RecordsOf(state, big);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE((*records[0])["complete"].AsBool());
    const int64_t held = (*records[0])["received"].AsInt();
    EXPECT_TRUE(server.StoredBytes((*records[0])["image_id"].AsString()) ==
                BytesOf(big).substr(0, static_cast<size_t>(held)));
}

TEST_F(UploadEngineE2E, RetryFailedSendsTheFailedPicturesAgainUnderNewIdentifiers) {
    // The server stores the first two uploads and then refuses them.
    RefServer server(
        {"--fault",
         R"({"servlet":"UploadImage","error":2,"process":true,"times":2,"message":"refused once"})"});
    ASSERT_TRUE(server.IsListening());
    std::vector<std::string> paths = {AddPicture("a.jpg", 120000), AddPicture("b.jpg", 220000),
                                      AddPicture("c.jpg", 90000)};
    auto queue = MakeQueue(server, 1);
    for (const std::string& path : paths)
        queue->Add(path, "");
    std::vector<std::shared_ptr<UploadJob>> firstJobs = {queue->Find(paths[0]), queue->Find(paths[1])};
    ASSERT_TRUE(Settle(*queue));
    EXPECT_EQ(queue->GetFailedCount(), 2u);
    EXPECT_EQ(queue->GetCompletedCount(), 1u);
    EXPECT_TRUE(queue->HasFailed());
    for (const auto& job : firstJobs) {
        EXPECT_EQ(job->GetStatus(), UploadStatus::Failed);
        EXPECT_EQ(job->GetErrorText(), "refused once\r\n");
    }
    std::vector<std::string> firstIDs = {firstJobs[0]->GetItem().GetImageID(),
                                         firstJobs[1]->GetItem().GetImageID()};

    queue->RetryFailed();
    std::vector<std::shared_ptr<UploadJob>> secondJobs = {queue->Find(paths[0]), queue->Find(paths[1])};
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_NE(secondJobs[i], nullptr);
        EXPECT_NE(secondJobs[i], firstJobs[i]);
        EXPECT_EQ(secondJobs[i]->GetErrorText(), "");
    }
    ASSERT_TRUE(Settle(*queue));
    EXPECT_EQ(queue->GetFailedCount(), 0u);
    EXPECT_EQ(queue->GetCompletedCount(), 3u);
    EXPECT_FALSE(queue->HasFailed());
    EXPECT_TRUE(queue->IsComplete());

    Json state = State(server);
    EXPECT_EQ(Requests(state, "GetImageID"), 5);
    EXPECT_EQ(Requests(state, "GetImageOffset"), 0);
    ExpectStoredExactly(server, state, paths[2]);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(secondJobs[i]->GetStatus(), UploadStatus::Complete) << secondJobs[i]->GetErrorText();
        const std::string newID = secondJobs[i]->GetItem().GetImageID();
        EXPECT_NE(newID, firstIDs[i]);
        // Both identifiers' records hold the whole picture: the refused one was stored, then refused.
        std::vector<const Json*> records = RecordsOf(state, paths[i]);
        ASSERT_EQ(records.size(), 2u);
        for (const std::string& id : {firstIDs[i], newID}) {
            EXPECT_TRUE(state["pictures"][id]["complete"].AsBool()) << id;
            EXPECT_TRUE(server.StoredBytes(id) == BytesOf(paths[i])) << id;
        }
    }
}

// --- statistics ---

TEST_F(UploadEngineE2E, StatisticsReportEveryFinishedPictureOnce) {
    // The first picture is refused, the second loses its first upload and resumes.
    RefServer server({"--fault", R"({"servlet":"UploadImage","error":2,"times":1,"message":"refused"})",
                      "--fault", R"({"servlet":"UploadImage","drop_after":60000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string refused = AddPicture("refused.jpg", 100000);
    const std::string resumed = AddPicture("resumed.jpg", 200000);
    const int64_t before = UploadJob::Now();
    auto queue = MakeQueue(server, 1, true);
    queue->Add(refused, "");
    queue->Add(resumed, "");
    std::map<std::string, std::shared_ptr<UploadJob>> jobs = {{refused, queue->Find(refused)},
                                                              {resumed, queue->Find(resumed)}};
    ASSERT_TRUE(Settle(*queue));
    ASSERT_TRUE(queue->GetSession().WaitForStatistics(10.0));
    const int64_t after = UploadJob::Now();
    queue.reset(); // every thread has ended: the jobs' figures are final
    EXPECT_EQ(jobs[refused]->GetStatus(), UploadStatus::Failed);
    EXPECT_EQ(jobs[resumed]->GetStatus(), UploadStatus::Complete);

    Json state = State(server);
    EXPECT_EQ(Requests(state, "UploadClientStats"), 2);
    std::istringstream log(server.Stats());
    std::vector<Json> lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(Json::Parse(line));
    ASSERT_EQ(lines.size(), 2u) << server.Stats();
    // In the order in which the pictures ended.
    const std::string order[] = {refused, resumed};
    for (size_t i = 0; i < 2; ++i) {
        const Json& stats = lines[i];
        const UploadJob& job = *jobs[order[i]];
        const UploadItemInfo& item = job.GetItem();
        SCOPED_TRACE(order[i]);
        EXPECT_EQ(stats.Members().size(), 13u);
        EXPECT_EQ(stats["STAT_BYTES_WRITTEN"].AsString(), std::to_string(job.GetBytesDone()));
        EXPECT_EQ(stats["STAT_ELAPSED_TIME"].AsString(), std::to_string(job.GetElapsedSeconds() * 1000));
        EXPECT_EQ(stats["STAT_ERROR"].AsString(), i == 0 ? "refused\r\n" : "");
        EXPECT_EQ(stats["STAT_IMAGE_ID"].AsString(), item.GetImageID());
        EXPECT_EQ(stats["STAT_IMAGE_RETRIES"].AsString(), i == 0 ? "0" : "1");
        EXPECT_EQ(stats["STAT_KEY"].AsString(), "PLUGIN");
        EXPECT_EQ(stats["STAT_OFFSET_RETRIES"].AsString(), i == 0 ? "0" : "1");
        EXPECT_EQ(stats["STAT_RAW_SIZE"].AsString(), std::to_string(BytesOf(order[i]).size()));
        EXPECT_EQ(stats["STAT_SERVER"].AsString(), "refserver " + state["data_server"].AsString());
        EXPECT_EQ(stats["STAT_SESSION_ID"].AsString(), kSessionID);
        const std::string start = stats["STAT_START_TIME"].AsString();
        EXPECT_EQ(start, std::to_string(job.GetFirstStartTime()) + "000");
        EXPECT_GE(job.GetFirstStartTime(), before);
        EXPECT_LE(job.GetFirstStartTime(), after);
        EXPECT_EQ(stats["STAT_TRANSFER_TIME"].AsString(), std::to_string(job.GetAccumulatedSeconds() * 1000));
        EXPECT_EQ(stats["STAT_UID"].AsString(), kUID);
    }
    // The completed picture counted its whole body, from offset 0 and again from the resume offset.
    EXPECT_GE(jobs[resumed]->GetBytesDone(), 200000u);
    ExpectStoredExactly(server, state, resumed);
}

struct StatisticsCase {
    const char* name;
    bool sendStats;
    std::vector<std::string> rules;
    int64_t statsRequests; // "UploadClientStats" requests made
    bool logged;           // the server logged them
};
// Test names and ctest listings show the case by its name.
void PrintTo(const StatisticsCase& value, std::ostream* out) {
    *out << value.name;
}

class Statistics : public UploadEngineE2E, public ::testing::WithParamInterface<StatisticsCase> {};

TEST_P(Statistics, NeverChangeThePicturesOutcome) {
    const StatisticsCase& row = GetParam();
    std::vector<std::string> arguments = {"--fault", R"({"servlet":"UploadImage","error":2,"times":1})"};
    for (const std::string& rule : row.rules)
        arguments.insert(arguments.end(), {"--fault", rule});
    RefServer server(arguments);
    ASSERT_TRUE(server.IsListening());
    const std::string failed = AddPicture("one.jpg", 80000);
    const std::string complete = AddPicture("two.jpg", 90000);
    auto queue = MakeQueue(server, 1, row.sendStats);
    queue->Add(failed, "");
    queue->Add(complete, "");
    std::shared_ptr<UploadJob> failedJob = queue->Find(failed);
    ASSERT_TRUE(Settle(*queue));
    ASSERT_TRUE(queue->GetSession().WaitForStatistics(10.0));
    EXPECT_EQ(failedJob->GetStatus(), UploadStatus::Failed);
    EXPECT_EQ(queue->GetFailedCount(), 1u);
    EXPECT_EQ(queue->GetCompletedCount(), 1u);
    queue.reset();

    Json state = State(server);
    EXPECT_EQ(Requests(state, "UploadClientStats"), row.statsRequests);
    EXPECT_EQ(state["stats_logged"].AsInt(), row.logged ? row.statsRequests : 0);
    EXPECT_EQ(server.Stats().empty(), !row.logged);
    ExpectStoredExactly(server, state, complete);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Statistics,
    ::testing::Values(
        // SendStats true: one message per finished picture, failed ones included.
        StatisticsCase{"Sent", true, {}, 2, true},
        // SendStats false: the servlet is never asked.
        StatisticsCase{"Off", false, {}, 0, false},
        // A failing statistics servlet: each message is sent once, the pictures are unaffected.
        StatisticsCase{"ServletFails", true, {R"({"servlet":"UploadClientStats","http":500})"}, 2, false}),
    [](const ::testing::TestParamInfo<StatisticsCase>& info) { return std::string(info.param.name); });

// --- file names ---

TEST_F(UploadEngineE2E, PathsWithQuotesAndLineBreaksUpload) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
#ifndef _WIN32
    const std::string quoted = AddPicture("say \"cheese\".jpg", 80000);
    const std::string broken = AddPicture("two\r\nlines.jpg", 70000);
#else
    // Windows names cannot hold a double quote or a line break: the marks they can hold go as they are.
    const std::string quoted = AddPicture("say 'cheese'.jpg", 80000);
    const std::string broken = AddPicture("two; lines 50%.jpg", 70000);
#endif
    auto queue = MakeQueue(server, 2);
    queue->Add(quoted, "");
    queue->Add(broken, "");
    ASSERT_TRUE(Settle(*queue));
    EXPECT_EQ(queue->GetCompletedCount(), 2u);
    Json state = State(server);
#ifndef _WIN32
    ExpectStoredExactly(server, state, quoted, m_pictures + "/say %22cheese%22.jpg");
    ExpectStoredExactly(server, state, broken, m_pictures + "/two%0D%0Alines.jpg");
#else
    ExpectStoredExactly(server, state, quoted, m_pictures + "/say 'cheese'.jpg");
    ExpectStoredExactly(server, state, broken, m_pictures + "/two; lines 50%.jpg");
#endif
}

// --- a picture that changes on disk while its bytes go out ---

struct Change {
    const char* name;
    std::function<void(const std::string&)> apply;
    const char* text; // the failure's text, with the path for %1
};
void PrintTo(const Change& value, std::ostream* out) {
    *out << value.name;
}

class ChangedWhileSent : public UploadEngineE2E, public ::testing::WithParamInterface<Change> {};

// The change comes as soon as the server has begun the upload; the server then reads the body at
// 8 MB/s, so the client is still reading the picture for seconds after it (at full loopback speed a
// loaded machine's client could read the whole file before the change landed), and it keeps what
// arrives and never answers, so that only the client can end the exchange.
TEST_P(ChangedWhileSent, PictureFailsWithTheTextForWhatHappened) {
    constexpr size_t kSize = 48 * 1024 * 1024;
    RefServer server({"--fault", R"({"servlet":"UploadImage","stall_after":1000,"slow":8000000,"times":1})"});
    ASSERT_TRUE(server.IsListening());
    const std::string path = AddPicture("moving.jpg", kSize);
    auto queue = MakeQueue(server, 1);
    queue->Add(path, "");
    std::shared_ptr<UploadJob> job = queue->Find(path);
    ASSERT_TRUE(RefreshUntil(*queue, [&server] { return Requests(State(server), "UploadImage") == 1; }));
    GetParam().apply(path);

    ASSERT_TRUE(Settle(*queue));
    ASSERT_EQ(job->GetStatus(), UploadStatus::Failed);
    std::string text = GetParam().text;
    text.replace(text.find("%1"), 2, path);
    EXPECT_EQ(job->GetErrorText(), text + "\r\n");
    // The body broke off short of its length: the server holds no complete picture and was not told
    // that one arrived.
    ASSERT_TRUE(WaitFor([&server] { return NothingOpen(State(server)); }));
    Json state = State(server);
    EXPECT_EQ(ServletSequence(state), (std::vector<std::string>{"GetImageID", "UploadImage"}));
    EXPECT_NE((*LogOf(state, "UploadImage").at(0))["outcome"].AsString(), "ok");
    for (const Json* record : RecordsOf(state, path)) {
        EXPECT_FALSE((*record)["complete"].AsBool());
        EXPECT_LT((*record)["received"].AsInt(), static_cast<int64_t>(kSize));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ChangedWhileSent,
    ::testing::Values(
        Change{"Shrunk", [](const std::string& path) { std::filesystem::resize_file(path, 24 * 1024 * 1024); },
               "The file \"%1\" is shorter than expected and has probably been changed since it was first "
               "uploaded."},
        Change{"Grown", [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; },
               "The file \"%1\" has been changed since it was first uploaded.  To upload this picture, first "
               "remove it from the plugin and then add it again."}
#ifndef _WIN32 // Windows does not remove a file the upload holds open (the upload tests show it going out whole)
        ,
        Change{"Vanished", [](const std::string& path) { std::remove(path.c_str()); },
               "No such file or directory: %1"}
#endif
        ),
    [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

} // namespace
