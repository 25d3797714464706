// The dialogs' texts and rules that need no display: the properties of one picture and of several
// merged, the Transfer Failed text, the Transfer Status variants and the page's colours for its
// buttons, the error log appended to from several threads, and the progress run's counter and stop
// rule on a real worker thread.
#include "foundation/path.h"
#include "tests/support/catalogues.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_item_info.h"
#include "upload/upload_job.h"
#include "views/error_log_dialog.h"
#include "views/progress_dialog.h"
#include "views/properties_dialog.h"
#include "views/transfer_failed_dialog.h"
#include "views/transfer_status.h"
#include "views/transfer_status_dialog.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace {

struct EnglishGrouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
};

std::locale English() {
    return std::locale(std::locale::classic(), new EnglishGrouping);
}

CPropertiesRecord Picture(std::string name, std::string folder, uint64_t size, std::string type = "JPEG") {
    CPropertiesRecord record;
    record.name = std::move(name);
    record.folder = std::move(folder);
    record.size = size;
    record.modified = 1700000000;
    record.type = std::move(type);
    record.width = 640;
    record.height = 480;
    record.bitsPerPixel = 24;
    record.date = 1600000000;
    record.exif = {{"Camera Make", "Acme"}, {"Exposure Time", "1/60"}};
    return record;
}

class PropertiesTexts : public CataloguesInstalled {};

TEST_F(PropertiesTexts, OnePictureFillsEveryField) {
    CPropertiesRecord one = Picture("beach.jpg", "/home/ann/pictures", 1234567);
    CPropertiesTexts texts = MakePropertiesTexts({one}, "%1 Properties", English());
    EXPECT_EQ(texts.title, "beach.jpg Properties");
    EXPECT_EQ(texts.name, "beach.jpg");
    EXPECT_EQ(texts.location, "/home/ann/pictures");
    EXPECT_EQ(texts.size, "1.17MB (1,234,567 bytes)");
    EXPECT_EQ(texts.type, "JPEG");
    EXPECT_EQ(texts.imageSize, "640 x 480");
    EXPECT_EQ(texts.colors, "Millions (24 bits)");
    EXPECT_EQ(texts.details, "Camera Make: Acme\r\nExposure Time: 1/60\r\n");
    // The long format names the weekday, the month and the year of the time.
    EXPECT_EQ(texts.modified, FormatPropertiesTime(one.modified));
    EXPECT_NE(texts.modified.find(FormatTime(one.modified, "%A")), std::string::npos) << texts.modified;
    EXPECT_NE(texts.modified.find(FormatTime(one.modified, "%B")), std::string::npos) << texts.modified;
    EXPECT_NE(texts.modified.find("2023"), std::string::npos) << texts.modified;
    EXPECT_NE(texts.date.find("2020"), std::string::npos) << texts.date;
    EXPECT_EQ(FormatPropertiesTime(-1), "");
}

TEST_F(PropertiesTexts, SeveralPicturesMergeIntoOne) {
    CPropertiesRecord a = Picture("a.jpg", "/one", 1000);
    CPropertiesRecord b = Picture("b.png", "/two", 2000, "PNG");
    b.modified = a.modified + 1;
    b.height = 400;
    b.bitsPerPixel = 8;
    b.date = -1;
    b.exif = {{"Camera Make", "Acme"}, {"Exposure Time", "1/125"}, {"Flash", "No"}};
    CPropertiesTexts texts = MakePropertiesTexts({a, b}, "%1 Properties", English());
    EXPECT_EQ(texts.title, "a.jpg, ... Properties");
    EXPECT_EQ(texts.name, "Multiple files");
    EXPECT_EQ(texts.location, "Multiple locations");
    EXPECT_EQ(texts.type, "Multiple types");
    EXPECT_EQ(texts.size, "2.92KB (3,000 bytes)");
    EXPECT_EQ(texts.modified, "");
    EXPECT_EQ(texts.imageSize, "");
    EXPECT_EQ(texts.colors, "");
    EXPECT_EQ(texts.date, "");
    // Only what both share with the same value stays.
    EXPECT_EQ(texts.details, "Camera Make: Acme\r\n");

    // Alike pictures keep what they share; the third one's difference still counts.
    CPropertiesRecord c = Picture("c.jpg", "/one", 24);
    c.bitsPerPixel = 1;
    CPropertiesTexts same =
        MakePropertiesTexts({a, Picture("a2.jpg", "/one", 5)}, "%1 Properties", English());
    EXPECT_EQ(same.location, "/one");
    EXPECT_EQ(same.type, "JPEG");
    EXPECT_EQ(same.imageSize, "640 x 480");
    EXPECT_EQ(same.colors, "Millions (24 bits)");
    EXPECT_EQ(same.modified, FormatPropertiesTime(a.modified));
    EXPECT_EQ(same.details, "Camera Make: Acme\r\nExposure Time: 1/60\r\n");
    CPropertiesTexts three =
        MakePropertiesTexts({a, Picture("a2.jpg", "/one", 5), c}, "%1 Properties", English());
    EXPECT_EQ(three.colors, "");
    EXPECT_EQ(three.size, "1.00KB (1,029 bytes)");
}

TEST_F(PropertiesTexts, NoPictureLeavesTheFieldsEmpty) {
    CPropertiesTexts texts = MakePropertiesTexts({}, "%1 Properties", English());
    EXPECT_EQ(texts.title, " Properties");
    EXPECT_EQ(texts.size, "");
    EXPECT_EQ(texts.name, "");
}

class TransferTexts : public CataloguesInstalled {};

TEST_F(TransferTexts, FailedTextIsTheAdviceThenTheReferenceCodes) {
    UploadItemInfo item;
    item.SetPath("/pictures/beach.jpg");
    UploadJob job(item);
    job.AppendErrorText("ESOCKCONNECT\r\n");
    job.AppendErrorText("EHTTP500\r\n");
    std::string text = MakeTransferFailedText(&job);
    EXPECT_EQ(text.rfind("Please check the Error Reference Code(s) listed below.\r\n\r\n", 0), 0u);
    EXPECT_NE(text.find("If you have received \"Network\" or \"Socket\" errors, please\r\n"),
              std::string::npos);
    const std::string tail = "Error Reference Code:\r\nESOCKCONNECT\r\nEHTTP500\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(MakeTransferFailedText(nullptr), "");
}

TEST_F(TransferTexts, StatusVariantsByCounts) {
    CTransferStatusContent none = MakeTransferStatusContent(0, 3);
    EXPECT_EQ(none.message.rfind("No pictures could be added to your album.", 0), 0u);
    EXPECT_EQ(none.banner, 195u);
    EXPECT_EQ(none.icon, 194u);
    EXPECT_EQ(none.buttons, (std::vector<uint32_t>{200}));

    EXPECT_EQ(MakeTransferStatusContent(1, 0).message,
              "1 picture was successfully added to your Pixolane account.\n\nWhat do you want to do next?");
    CTransferStatusContent all = MakeTransferStatusContent(5, 0);
    EXPECT_EQ(all.message,
              "5 pictures were successfully added to your Pixolane account.\n\nWhat do you want to do next?");
    EXPECT_EQ(all.banner, 197u);
    EXPECT_EQ(all.icon, 196u);
    EXPECT_EQ(all.buttons, (std::vector<uint32_t>{199, 198}));

    CTransferStatusContent some = MakeTransferStatusContent(2, 1);
    EXPECT_EQ(some.message,
              "2 pictures were successfully added to your Pixolane account.\n\nHowever, 1 picture "
              "failed to transfer.\n\nWhat do you want to do next?");
    EXPECT_EQ(some.banner, 195u);
    EXPECT_EQ(some.icon, 194u);
    EXPECT_EQ(some.buttons, (std::vector<uint32_t>{200, 198}));
    EXPECT_NE(MakeTransferStatusContent(1, 4).message.find("1 picture was successfully"), std::string::npos);
    EXPECT_NE(MakeTransferStatusContent(1, 4).message.find("However, 4 pictures failed"), std::string::npos);

    EXPECT_EQ(TransferStatusResultOf(198), 1);
    EXPECT_EQ(TransferStatusResultOf(199), 2);
    EXPECT_EQ(TransferStatusResultOf(200), 2);
}

TEST(TransferStatusStyle, ButtonsTakeThePagesColoursOnWhite) {
    PluginParameters page;
    page.d_buttonColor = "#102030";
    page.d_buttonTextColor = "#405060";
    page.d_buttonPressedColor = "#708090";
    page.d_buttonPressedTextColor = "red";
    page.d_buttonDisabledColor = "#010203";
    page.d_buttonDisabledTextColor = "#040506";
    CTransferStatusStyle style = CTransferStatusStyle::FromParameters(page);
    EXPECT_EQ(style.font, "Verdana-normal-13");
    EXPECT_EQ(style.buttons.background, CUIColor(255, 255, 255));
    EXPECT_EQ(style.buttons.normalBody, CUIColor(0x10, 0x20, 0x30));
    EXPECT_EQ(style.buttons.normalText, CUIColor(0x40, 0x50, 0x60));
    EXPECT_EQ(style.buttons.pressedBody, CUIColor(0x70, 0x80, 0x90));
    EXPECT_EQ(style.buttons.pressedText, CUIColor(255, 0, 0));
    EXPECT_EQ(style.buttons.disabledBody, CUIColor(1, 2, 3));
    EXPECT_EQ(style.buttons.disabledText, CUIColor(4, 5, 6));
    // A style made without a page has the parameters' defaults.
    EXPECT_EQ(CTransferStatusStyle().buttons,
              CTransferStatusStyle::FromParameters(PluginParameters()).buttons);
    EXPECT_EQ(CTransferStatusStyle().buttons.normalBody, CUIColor(0x99, 0x99, 0xcc));
}

TEST(ErrorLog, LinesAppendedFromManyThreadsStayWholeAndInEachThreadsOrder) {
    // No application: only the log itself, which is what the appending threads touch.
    CErrorLogDialog log;
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i)
                log.Append("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (std::thread& writer : writers)
        writer.join();

    std::string text = log.GetLog();
    std::vector<int> next(kThreads, 0);
    size_t lines = 0;
    for (size_t start = 0; start < text.size(); ++lines) {
        size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "a line without CR LF";
        std::istringstream line(text.substr(start, end - start));
        std::string word1, word2;
        int t = -1, i = -1;
        line >> word1 >> t >> word2 >> i;
        ASSERT_TRUE(word1 == "thread" && word2 == "line" && t >= 0 && t < kThreads)
            << text.substr(start, end - start);
        EXPECT_EQ(i, next[t]++) << "thread " << t;
        start = end + 2;
    }
    EXPECT_EQ(lines, size_t(kThreads * kLines));
}

// A task that holds until the test lets it go, so the test knows where the worker is.
class Gate {
public:
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Pass() {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    void WaitEntered() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_entered; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_entered = false;
};

TEST(ProgressRun, RunsEveryTaskInOrderAndCounts) {
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::string> counters;
    CProgressRun* self = nullptr;
    CProgressRun run("%1 of %2", [&] {
        std::lock_guard lock(mutex);
        counters.push_back(self->GetCounterText());
    });
    self = &run;
    EXPECT_EQ(run.GetCounterText(), ""); // nothing queued, not finished
    std::vector<CProgressRun::Task> tasks;
    for (int i = 0; i < 4; ++i)
        tasks.push_back([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
    tasks.push_back([] { throw std::runtime_error("broken"); });
    run.Start(std::move(tasks));
    ASSERT_TRUE(run.WaitFinished(30));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(run.GetDoneCount(), 5u);
    EXPECT_EQ(run.GetQueuedCount(), 5u);
    EXPECT_EQ(run.GetCounterText(), "5 of 5");
    EXPECT_EQ(run.GetFailures().size(), 1u); // a failing task is counted done and reported
    std::lock_guard lock(mutex);
    ASSERT_FALSE(counters.empty());
    EXPECT_EQ(counters.back(), "5 of 5");
}

TEST(ProgressRun, StopDropsTheTasksNotStarted) {
    Gate gate;
    std::atomic<int> ran{0};
    CProgressRun run("%1 of %2", {});
    std::vector<CProgressRun::Task> tasks;
    tasks.push_back([&] {
        gate.Pass();
        ++ran;
    });
    for (int i = 0; i < 5; ++i)
        tasks.push_back([&] { ++ran; });
    run.Start(std::move(tasks));
    gate.WaitEntered();
    EXPECT_EQ(run.GetCounterText(), "0 of 6");
    run.Stop();
    EXPECT_FALSE(run.IsFinished()); // the running task is not cut off
    gate.Open();
    ASSERT_TRUE(run.WaitFinished(30));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(run.GetDoneCount(), 1u);
    EXPECT_EQ(run.GetCounterText(), "1 of 6");
    run.Stop(); // after the end: nothing more happens
    EXPECT_TRUE(run.IsFinished());
}

TEST(ProgressRun, AnEmptyListFinishesAtOnce) {
    CProgressRun run("%1 of %2", {});
    run.Start({});
    ASSERT_TRUE(run.WaitFinished(30));
    EXPECT_EQ(run.GetCounterText(), "0 of 0");
}

} // namespace
