// The rows copied from a real queue, paused so that no sender thread runs and no server is needed.
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "pictures/picture_format_list.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_queue.h"
#include "views/upload_list_rows.h"
#include "views/upload_list_texts.h"

#include <gtest/gtest.h>

namespace {

class UploadListRowsTest : public CataloguesInstalled {
protected:
    static PluginParameters Parameters() {
        PluginParameters parameters;
        parameters.d_albumName = "Summer";
        parameters.d_maxConnections = 1;
        return parameters;
    }
    void SetUp() override {
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
        queue = std::make_unique<UploadQueue>(
            Parameters(), UploadEndpoint("127.0.0.1:9", "test", 1.0, false),
            [](const std::string& path) { return CPictureFormatList::Get().FindByFileName(path) != nullptr; });
        queue->Pause();
    }
    void TearDown() override {
        queue.reset();
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
        CataloguesInstalled::TearDown();
    }
    std::string Make(const std::string& name, size_t size) { return folder.Put(name, std::string(size, 'x')); }

    testsupport::ScopedTempFolder folder{"pxlist"};
    std::unique_ptr<UploadQueue> queue;
    CUploadListColumns columns;
    CUploadListRows rows;
};

TEST_F(UploadListRowsTest, CopiesTheQueueOnlyWhenItChanged) {
    rows.Refresh(*queue, columns, true);
    EXPECT_TRUE(rows.Empty());
    const std::string b = Make("b.jpg", 300), a = Make("A.jpg", 100), c = Make("c.jpg", 200);
    for (const std::string& path : {b, a, c})
        ASSERT_TRUE(queue->AddFromUser(path));
    EXPECT_TRUE(rows.Refresh(*queue, columns));
    ASSERT_EQ(rows.Count(), 3u);
    // Unsorted: the order of adding.
    EXPECT_EQ(rows.At(0).name, "b.jpg");
    EXPECT_EQ(rows.At(0).path, b);
    EXPECT_EQ(rows.At(0).size, 300u);
    EXPECT_EQ(rows.At(0).state, kUploadStateActive);
    EXPECT_EQ(rows.At(0).fraction, 0.0);
    EXPECT_EQ(rows.At(1).name, "A.jpg");
    // Nothing happened since: the refresh does no work.
    EXPECT_FALSE(rows.Refresh(*queue, columns));

    queue->Remove(a);
    EXPECT_TRUE(rows.Refresh(*queue, columns));
    EXPECT_EQ(rows.Count(), 2u);
    EXPECT_EQ(rows.PositionOf(a), -1);
    EXPECT_EQ(rows.PositionOf(c), 1);
}

TEST_F(UploadListRowsTest, FollowsTheSortKeys) {
    const std::string b = Make("b.jpg", 300), a = Make("A.jpg", 100), c = Make("c.jpg", 200);
    for (const std::string& path : {b, a, c})
        ASSERT_TRUE(queue->AddFromUser(path));
    columns.ClickTitle(UploadListColumn::Name);
    rows.Refresh(*queue, columns);
    EXPECT_EQ(rows.PositionOf(a), 0);
    EXPECT_EQ(rows.PositionOf(b), 1);
    EXPECT_EQ(rows.PositionOf(c), 2);
    columns.ClickTitle(UploadListColumn::Size);
    columns.ClickTitle(UploadListColumn::Size); // size descending
    rows.Resort(columns);
    EXPECT_EQ(rows.At(0).name, "b.jpg");
    EXPECT_EQ(rows.At(1).name, "c.jpg");
    EXPECT_EQ(rows.At(2).name, "A.jpg");
}

} // namespace
