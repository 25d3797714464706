// The upload list window under a private X server, over a real upload queue: what it paints (read
// back from a memory drawing of the same paint, and seen on a screenshot), and what real clicks, keys
// and drops from another X client do to the queue, the sort and the dialogs it asks for. The queue's
// server is a port where nothing listens, or the reference server where pictures must go through.
#include "control/resources/module_resources.h"
#include "foundation/exception.h"
#include "foundation/message_table.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "net/http_connection.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "pictures/picture_format_list.h"
#include "platform/system_colors.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/child_process.h"
#include "tests/support/ref_server.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/drawable.h"
#include "ui/image.h"
#include "upload/plugin_parameters.h"
#include "upload/sender_thread.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_exception.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"
#include "views/upload_list_dialogs.h"
#include "views/upload_list_texts.h"
#include "views/upload_list_view.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kClient = std::string(PX_SOURCE_DIR) + "/tests/ui/x_client.py";
constexpr const char* kTitle = "upload list view test";
constexpr int kWidth = 640;
constexpr int kHeight = 480;

// The dialogs the view asks for, recorded; each answers as the test sets it.
class RecordingDialogs : public IUploadListDialogs {
public:
    std::vector<std::vector<std::string>> properties;
    std::vector<std::string> transferFailed;
    std::vector<std::string> refusals;
    int removing = 0;
    std::vector<std::pair<size_t, size_t>> statuses;
    int statusResult = 2;
    int preferences = 0;
    int preferencesResult = 0;
    std::function<void()> duringPreferences;
    std::vector<std::string> preferenceFolders; // the current browse folder of each run
    std::vector<std::string> chooserFolders; // the folder each chooser started in
    std::vector<std::string> chosen;
    std::vector<FileChooser> chooserKinds;
    std::string chooserEndFolder;

    void ShowProperties(CUIWindow&, const std::vector<std::string>& paths) override {
        properties.push_back(paths);
    }
    void ShowTransferFailed(CUIWindow&, const std::string& path, const std::string& refusal) override {
        transferFailed.push_back(path);
        refusals.push_back(refusal);
    }
    bool pausedWhileRemoving = false;

    void RunRemoving(CUIWindow&, CUploadSelection& selection) override {
        ++removing;
        pausedWhileRemoving = selection.GetQueue().IsPaused();
        // As the real dialog does, one picture at a time.
        for (const std::string& path : selection.GetElements()) {
            selection.GetQueue().Remove(path);
            selection.Deselect(path);
        }
    }
    int RunTransferStatus(CUIWindow&, size_t successes, size_t failures) override {
        statuses.emplace_back(successes, failures);
        return statusResult;
    }
    int RunPreferences(CUIWindow&, const std::string& currentBrowseFolder) override {
        ++preferences;
        preferenceFolders.push_back(currentBrowseFolder);
        if (duringPreferences)
            duringPreferences();
        return preferencesResult;
    }
    std::vector<std::string> ChooseFiles(CUIWindow&, std::string& folder, FileChooser kind) override {
        chooserFolders.push_back(folder);
        chooserKinds.push_back(kind);
        folder = chooserEndFolder;
        return chosen;
    }
};

// The preferences live in a registry store of the test's own, for the whole process.
class PrivateConfig : public ::testing::Environment {
public:
    void SetUp() override {
        m_folder = std::make_unique<testsupport::ScopedTempFolder>("pxviewcfg");
        setenv("XDG_CONFIG_HOME", m_folder->Path().c_str(), 1);
    }
    void TearDown() override { m_folder.reset(); }

private:
    std::unique_ptr<testsupport::ScopedTempFolder> m_folder;
};

std::string JpegOf(const testsupport::ScopedTempFolder& folder, const std::string& name, uint32_t width,
                   uint32_t height) {
    testpictures::JpegOptions options;
    options.width = width;
    options.height = height;
    options.noise = 40;
    const std::string path = folder / name;
    testpictures::WriteFile(path, testpictures::EncodeJpeg(options));
    return path;
}

bool SameColor(CUIColor a, CUIColor b) {
    return a.GetPacked() == b.GetPacked();
}

class UploadListViewGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetResourceModule(&PxModuleResources());
        SetErrorMessageTable(LoadMessageTable(kErrorMessageTable));
        SetSocketMessageTable(LoadMessageTable(kSocketMessageTable));
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
        // Failures come at once rather than after the real pauses between attempts.
        PxSenderThread::SetBusyPauseScaleForTests(0.01);
        CHTTPConnection::SetRetryPauseScaleForTests(0.01);
        SetPreference("autostart", std::nullopt);
        system = platform::GetNativeWindowSystem();
        ASSERT_NE(system, nullptr) << "no display";
        app = std::make_unique<CUIApplication>(*system);
        parameters.d_albumName = "Summer by the lake";
        parameters.d_edgeColor = "#204080";
        parameters.d_dropColor = "#e02020";
        parameters.d_backgroundColor = "#eeeeee";
        parameters.d_maxConnections = 2;
    }
    void TearDown() override {
        view.reset();
        frame.Destroy();
        selection.reset();
        queue.reset();
        app.reset();
        CHTTPConnection::SetRetryPauseScaleForTests(1.0);
        PxSenderThread::SetBusyPauseScaleForTests(1.0);
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
        SetSocketMessageTable(nullptr);
        SetErrorMessageTable(nullptr);
        platform::SetResourceModule(nullptr);
    }

    static void SetPreference(const char* name, std::optional<std::string> value) {
        if (value)
            ASSERT_EQ(SetStoredPreference(name, *value), PreferenceError::None);
        else
            ASSERT_EQ(UnsetStoredPreference(name), PreferenceError::None);
    }

    // The queue paused, as the control starts it, and the view filling a frame.
    void Open(const std::string& server = "127.0.0.1:9") {
        parameters.d_server = server;
        queue = std::make_unique<UploadQueue>(
            parameters, UploadEndpoint(server, "view test", 2.0, false), [](const std::string& path) {
                return CPictureFormatList::Get().FindByFileName(path) != nullptr;
            });
        queue->Pause();
        selection = std::make_unique<CUploadSelection>("upload", *queue);
        view = std::make_unique<CUploadListView>(*selection, dialogs, parameters);
        frame.CreateTopLevel(kTitle);
        frame.Move(CUIRect::FromSize(0, 0, kWidth, kHeight));
        frame.SetClientSize({kWidth, kHeight});
        view->Create(frame);
        view->Move(CUIRect::FromSize(0, 0, kWidth, kHeight));
        view->Show();
        frame.Show();
        app->SetMainWindow(view->GetHandle());
        ASSERT_TRUE(gui::PumpUntil(*app, [&] {
            return view->GetClientRect().Width() == kWidth && view->GetLayout().list.Width() > 0 &&
                   view->ClientToScreen({0, 0}).x >= 0 && view->IsVisible();
        }));
        gui::PumpFor(*app, 0.3);
    }

    // The view's paint, into memory.
    CUIDrawable PaintToMemory() {
        CUIDrawable drawable = CUIDrawable::ForMemory(kWidth, kHeight);
        view->Paint(*drawable);
        return drawable;
    }

    // A synchronous move waits for the pointer to move, so it starts from a step away: the pointer
    // may already be at the point.
    std::string MoveTo(CUIPoint client) {
        CUIPoint at = view->ClientToScreen(client);
        return "xdotool mousemove " + std::to_string(at.x + 3) + " " + std::to_string(at.y + 2) +
               " sleep 0.05 mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y);
    }
    // A real click at a point of the view, once the frame is shown.
    void Click(CUIPoint client, const std::function<bool()>& done, int button = 1) {
        auto input = gui::RunAsync(MoveTo(client) + " sleep 0.1 click " + std::to_string(button));
        EXPECT_TRUE(gui::PumpUntil(*app, done, 15))
            << "the click at " << client.x << "," << client.y << " changed nothing";
        EXPECT_EQ(input.get(), 0);
    }
    static CUIPoint Middle(const CUIRect& rect) {
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    // The middle of the view's row at display position `index`.
    CUIPoint RowPoint(size_t index, int x = 60) const {
        const CUIRect& rows = view->GetLayout().rows;
        return {rows.left + x,
                rows.top + static_cast<int>(index) * view->GetRowHeight() + view->GetRowHeight() / 2};
    }
    // The middle of the title of column `index`.
    CUIPoint TitlePoint(int index) const { return Middle(view->GetColumnRect(index)); }

    // For a person to look at: the screen as it is, saved when PX_VIEW_SCREENSHOTS names a folder.
    void Screenshot(const std::string& name) {
        const char* folder = std::getenv("PX_VIEW_SCREENSHOTS");
        if (folder == nullptr)
            return;
        view->Invalidate();
        gui::PumpFor(*app, 0.5);
        const std::string command = "import -window root '" + std::string(folder) + "/" + name + ".png'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (size_t i = 0; i < view->GetRows().Count(); ++i)
            names.push_back(view->GetRows().At(i).name);
        return names;
    }

    // Three pictures of different sizes, added in the order b, a, c (a smallest, b largest).
    std::vector<std::string> AddThree() {
        std::vector<std::string> paths = {JpegOf(pictures, "b.jpg", 320, 240),
                                          JpegOf(pictures, "a.jpg", 32, 24),
                                          JpegOf(pictures, "c.jpg", 128, 96)};
        view->AddFiles(paths);
        return paths;
    }

    testsupport::ScopedTempFolder pictures{"pxviewpics"};
    platform::WindowSystem* system = nullptr;
    std::unique_ptr<CUIApplication> app;
    PluginParameters parameters;
    std::unique_ptr<UploadQueue> queue;
    std::unique_ptr<CUploadSelection> selection;
    RecordingDialogs dialogs;
    CUIWindow frame;
    std::unique_ptr<CUploadListView> view;
};

TEST_F(UploadListViewGuiTest, AnEmptyListShowsItsPictureAndTheDropHint) {
    Open();
    ASSERT_EQ(view->GetRowCount(), 0u);
    CUIDrawable drawn = PaintToMemory();
    const UploadListLayout& layout = view->GetLayout();
    auto picture = CUIImage::FromResource(139);
    auto hint = CUIImage::FromResource(201);
    ASSERT_TRUE(picture && hint);
    // The picture is centred in the list, the hint at the bottom right in the 44 pixels above the edge.
    const CUIPoint origin{layout.list.left + (layout.list.Width() - picture->Width()) / 2,
                          layout.list.top + (layout.list.Height() - picture->Height()) / 2};
    const CUIPoint hintOrigin{kWidth - kUploadListEdge - hint->Width() - 8,
                              kHeight - kUploadListEdge - 44 + (44 - hint->Height()) / 2};
    int pictureMatches = 0, hintMatches = 0, samples = 0;
    for (int y = 10; y < 160; y += 30) {
        for (int x = 10; x < 230; x += 40) {
            ++samples;
            pictureMatches +=
                SameColor(drawn->GetPixel({origin.x + x, origin.y + y}), picture->GetPixel(x, y));
            const int hx = x % hint->Width(), hy = y % hint->Height();
            hintMatches +=
                SameColor(drawn->GetPixel({hintOrigin.x + hx, hintOrigin.y + hy}), hint->GetPixel(hx, hy));
        }
    }
    EXPECT_EQ(pictureMatches, samples);
    EXPECT_EQ(hintMatches, samples);
    Screenshot("empty");
    // Outside the picture the empty list is white; the frame is in the edge colour.
    EXPECT_TRUE(
        SameColor(drawn->GetPixel({layout.list.left + 2, layout.list.top + 2}), CUIColor(255, 255, 255)));
    EXPECT_TRUE(SameColor(drawn->GetPixel({kWidth / 2, 1}), view->GetEdgeColor()));
    // Nothing to remove, pause or retry; Preferences works whatever happens.
    EXPECT_FALSE(app->FindCommand(view->GetCommandId(UploadListCommandKind::Remove))->IsEnabled());
    EXPECT_FALSE(app->FindCommand(view->GetCommandId(UploadListCommandKind::PauseResume))->IsEnabled());
    EXPECT_FALSE(app->FindCommand(view->GetCommandId(UploadListCommandKind::Retry))->IsEnabled());
    EXPECT_TRUE(app->FindCommand(view->GetCommandId(UploadListCommandKind::Preferences))->IsEnabled());
}

TEST_F(UploadListViewGuiTest, AddedFilesBecomeRowsAndTheirThumbnailsArriveWithoutBlockingThePaint) {
    Open();
    std::vector<std::string> paths = AddThree();
    ASSERT_EQ(view->GetRowCount(), 3u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg"}));
    // A paint before any decode draws the rows at once and asks for the thumbnails.
    PaintToMemory();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] {
        return view->HasThumbnail(paths[0]) && view->HasThumbnail(paths[1]) && view->HasThumbnail(paths[2]);
    }));
    CUIDrawable drawn = PaintToMemory();
    // The thumbnail of b.jpg (a gradient, red to the right) fills the top row's picture cell: its
    // left and right ends differ, where an empty cell would be one colour.
    const CUIPoint row = RowPoint(0, 0);
    const int iconSize = static_cast<int>(parameters.d_iconSize);
    CUIColor left = drawn->GetPixel({row.x + 2 + iconSize / 4, row.y});
    CUIColor right = drawn->GetPixel({row.x + 2 + iconSize * 3 / 4, row.y});
    EXPECT_LT(left.Red() + 30, right.Red()) << "no thumbnail in the first row";
    // The footer counts the pictures left; the completion text is not shown before a run.
    EXPECT_EQ(queue->GetTotalCount(), 3u);
    EXPECT_FALSE(view->IsCompletionTextShown());
    Screenshot("rows");
}

TEST_F(UploadListViewGuiTest, ClickingAColumnTitleSortsAndASecondClickReverses) {
    Open();
    AddThree();
    gui::PumpFor(*app, 0.2);
    Click(TitlePoint(1), [&] { return view->GetColumns().SortPosition(UploadListColumn::Size) == 0; });
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.jpg", "c.jpg", "b.jpg"}));
    // The first key's title carries the dark arrow pointing up (bitmap 132) at its right end; the
    // arrow's white ground lets the title band show.
    {
        auto arrow = CUIImage::FromResource(132);
        ASSERT_TRUE(arrow);
        CUIDrawable drawn = PaintToMemory();
        const CUIRect cell = view->GetColumnRect(1);
        const CUIPoint at{cell.right - 4 - arrow->Width(), cell.top + (cell.Height() - arrow->Height()) / 2};
        const CUIColor band = drawn->GetPixel({cell.left + 2, cell.top + 2});
        int ink = 0, matching = 0;
        for (int y = 0; y < arrow->Height(); ++y) {
            for (int x = 0; x < arrow->Width(); ++x) {
                const CUIColor expected = arrow->GetPixel(x, y);
                const bool ground = SameColor(expected, CUIColor(255, 255, 255));
                ink += !ground;
                matching += SameColor(drawn->GetPixel({at.x + x, at.y + y}), ground ? band : expected);
            }
        }
        EXPECT_GT(ink, 10);
        EXPECT_EQ(matching, arrow->Width() * arrow->Height());
    }
    Click(TitlePoint(1), [&] { return !view->GetColumns().Ascending(UploadListColumn::Size); });
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.jpg", "c.jpg", "a.jpg"}));
    // The name column then leads, keeping its own direction; size follows it.
    Click(TitlePoint(0), [&] { return view->GetColumns().SortPosition(UploadListColumn::Name) == 0; });
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(view->GetColumns().SortPosition(UploadListColumn::Size), 1);
    Screenshot("sorted");
}

TEST_F(UploadListViewGuiTest, DraggingATitleBorderChangesTheColumnWidthOnRelease) {
    Open();
    AddThree();
    gui::PumpFor(*app, 0.2);
    const CUIRect& band = view->GetLayout().columnTitles;
    const int border = view->GetColumnRect(0).right;
    const int y = (band.top + band.bottom) / 2;
    CUIPoint from = view->ClientToScreen({border, y});
    const std::string script = "xdotool mousemove --sync " + std::to_string(from.x) + " " +
                               std::to_string(from.y) + " mousedown 1 sleep 0.1 mousemove --sync " +
                               std::to_string(from.x + 30) + " " + std::to_string(from.y) +
                               " sleep 0.1 mousemove --sync " + std::to_string(from.x + 60) + " " +
                               std::to_string(from.y) + " sleep 0.2 mouseup 1";
    auto input = gui::RunAsync(script);
    ASSERT_TRUE(
        gui::PumpUntil(*app, [&] { return view->GetColumns().Width(UploadListColumn::Name) != 130; }));
    EXPECT_EQ(input.get(), 0);
    EXPECT_EQ(view->GetColumns().Width(UploadListColumn::Name), 190);
    // Resizing is not a click on the title: the order stays.
    EXPECT_EQ(view->GetColumns().SortPosition(UploadListColumn::Name), -1);
}

TEST_F(UploadListViewGuiTest, DeleteAsksFirstAndRemovesOnlyWhenAnsweredYes) {
    Open();
    std::vector<std::string> paths = AddThree();
    gui::PumpFor(*app, 0.2);
    Click(RowPoint(1), [&] { return selection->GetCount() == 1; });
    ASSERT_TRUE(selection->Contains(paths[1]));
    // No (asked by Backspace this time): nothing changes and the removing dialog never runs.
    {
        auto keys = gui::RunAsync(gui::PressKeysIn(kTitle, "BackSpace") + " && " +
                                  gui::PressKeysIn("^Remove\\?$", "alt+n"));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return keys.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20));
        EXPECT_EQ(keys.get(), 0);
    }
    gui::PumpFor(*app, 0.2);
    EXPECT_EQ(dialogs.removing, 0);
    EXPECT_EQ(view->GetRowCount(), 3u);
    // Yes, while the queue runs: it is paused around the removal and the row goes.
    queue->Resume();
    {
        auto keys = gui::RunAsync(gui::PressKeysIn(kTitle, "Delete") + " && " +
                                  gui::PressKeysIn("^Remove\\?$", "alt+y"));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return view->GetRowCount() == 2u; }, 20));
        EXPECT_EQ(keys.get(), 0);
    }
    EXPECT_EQ(dialogs.removing, 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.jpg", "c.jpg"}));
    EXPECT_FALSE(queue->Contains(paths[1]));
    EXPECT_TRUE(dialogs.pausedWhileRemoving);
    EXPECT_FALSE(queue->IsPaused()) << "the pause around the removal was not taken back";
}

TEST_F(UploadListViewGuiTest, KeysMoveAndExtendTheSelectionAndTheContextMenuShowsProperties) {
    Open();
    std::vector<std::string> paths = AddThree();
    gui::PumpFor(*app, 0.2);
    Click(RowPoint(0), [&] { return selection->GetCount() == 1; });
    auto keys = gui::RunAsync(gui::PressKeysIn(kTitle, "Down"));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return selection->Contains(paths[1]); }));
    EXPECT_EQ(keys.get(), 0);
    EXPECT_EQ(selection->GetCount(), 1u);
    keys = gui::RunAsync(gui::PressKeysIn(kTitle, "ctrl+a"));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return selection->GetCount() == 3u; }));
    EXPECT_EQ(keys.get(), 0);
    // A right click brings up "Context"; its one item runs Properties on the selection.
    auto input =
        gui::RunAsync(MoveTo(RowPoint(2)) + " sleep 0.1 click 3 sleep 0.6 key Down sleep 0.1 key Return");
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return !dialogs.properties.empty(); }, 15));
    EXPECT_EQ(input.get(), 0);
    std::vector<std::string> expected = paths;
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> shown = dialogs.properties[0];
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, expected);
}

TEST_F(UploadListViewGuiTest, ThePauseAndResumeButtonsTakeTurnsAndStartShowsWithoutAutostart) {
    SetPreference("autostart", "false");
    Open();
    AddThree();
    gui::PumpFor(*app, 0.2);
    ASSERT_TRUE(queue->IsPaused());
    EXPECT_FALSE(view->IsPauseButtonShown());
    // Paused from the start and not starting by itself: Start at once.
    EXPECT_EQ(view->GetResumeTemplate(), UploadResumeTemplate::Start);
    const CUIRect resume = view->GetLayout().resume;
    Click(Middle(resume), [&] { return !queue->IsPaused(); });
    EXPECT_TRUE(view->IsPauseButtonShown());
    EXPECT_EQ(view->GetResumeTemplate(), UploadResumeTemplate::Resume);
    // The button drawn is Pause's look, in the button colour.
    const CUIRect pause = view->GetLayout().pause;
    Click(Middle(pause), [&] { return queue->IsPaused(); });
    EXPECT_FALSE(view->IsPauseButtonShown());
    // Stopped, paused and not starting by itself: the button offers Start.
    ASSERT_TRUE(
        gui::PumpUntil(*app, [&] { return view->GetResumeTemplate() == UploadResumeTemplate::Start; }));
    SetPreference("autostart", std::nullopt);
}

TEST_F(UploadListViewGuiTest, FilesDraggedInColourTheFrameAndAreAddedWhenDropped) {
    Open();
    const std::string first = JpegOf(pictures, "dropped one.jpg", 40, 30);
    const std::string second = JpegOf(pictures, "dropped two.jpg", 50, 30);
    testsupport::ChildProcess source({"/usr/bin/python3", kClient, "drag", "700", "300", first, second});
    ASSERT_TRUE(source.Started());
    const CUIPoint target = view->ClientToScreen({kWidth / 2, kHeight / 2});
    const std::string t = std::to_string(target.x) + " " + std::to_string(target.y);
    const std::string script = "xdotool search --sync --onlyvisible --name 'drag source' >/dev/null && "
                               "xdotool sleep 0.5 mousemove --sync 740 340 sleep 0.2 mousedown 1 sleep 0.2 "
                               "mousemove --sync 750 350 sleep 0.2 mousemove --sync 600 300 sleep 0.2 "
                               "mousemove --sync " +
                               std::to_string(target.x + 20) + " " + std::to_string(target.y + 10) +
                               " sleep 0.3 mousemove --sync " + t + " sleep 1.0 mouseup 1";
    auto done = gui::RunAsync(script);
    // While the drag is over the window the frame takes the drop colour.
    bool coloured = false;
    ASSERT_TRUE(gui::PumpUntil(
        *app,
        [&] {
            if (view->IsDragOver() && !coloured) {
                CUIDrawable drawn = PaintToMemory();
                coloured = SameColor(drawn->GetPixel({kWidth / 2, 1}), view->GetDropColor()) &&
                           SameColor(drawn->GetPixel({1, kHeight / 2}), view->GetDropColor());
            }
            return view->GetRowCount() == 2u;
        },
        25));
    EXPECT_EQ(done.get(), 0);
    EXPECT_TRUE(coloured) << "the frame never showed the drop colour";
    EXPECT_FALSE(view->IsDragOver());
    CUIDrawable drawn = PaintToMemory();
    EXPECT_TRUE(SameColor(drawn->GetPixel({kWidth / 2, 1}), view->GetEdgeColor()));
    EXPECT_TRUE(queue->Contains(first));
    EXPECT_TRUE(queue->Contains(second));
}

TEST_F(UploadListViewGuiTest, TheColumnStateIsWrittenAndReadBack) {
    Open();
    CNameValueDocument stored;
    stored.SetValue("columns/sizeOrder", "-1");
    stored.SetValue("columns/nameOrder", "2");
    stored.SetValue("columns/statusWidth", "200");
    stored.SetValue("browseDir", pictures.Path());
    view->ReadState(stored);
    AddThree();
    // Size descending first, then name.
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.jpg", "c.jpg", "a.jpg"}));
    EXPECT_EQ(view->GetColumns().Width(UploadListColumn::Status), 200);
    CNameValueDocument written;
    view->WriteState(written);
    EXPECT_EQ(written.GetValue("columns/sizeOrder"), "-1");
    EXPECT_EQ(written.GetValue("columns/nameOrder"), "2");
    EXPECT_EQ(written.GetValue("columns/statusOrder"), "0");
    EXPECT_EQ(written.GetValue("columns/statusWidth"), "200");
    EXPECT_EQ(written.GetValue("columns/nameWidth"), "130");
    EXPECT_EQ(written.GetValue("browseDir"), pictures.Path());
    // Browse starts in that folder; the chooser's last folder becomes the next start.
    dialogs.chooserEndFolder = pictures.Path() + "/elsewhere";
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Browse)));
    ASSERT_EQ(dialogs.chooserFolders.size(), 1u);
    EXPECT_EQ(dialogs.chooserFolders[0], pictures.Path());
    EXPECT_EQ(view->GetBrowseFolder(), pictures.Path() + "/elsewhere");
    // Our own browser, unless the preferences ask for the standard chooser.
    EXPECT_EQ(dialogs.chooserKinds, (std::vector<FileChooser>{FileChooser::PictureBrowser}));
    SetPreference("oldfiledialog", "true");
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Browse)));
    EXPECT_EQ(dialogs.chooserKinds, (std::vector<FileChooser>{FileChooser::PictureBrowser, FileChooser::Standard}));
    SetPreference("oldfiledialog", std::nullopt);
}

TEST_F(UploadListViewGuiTest, TurningAutostartOnInThePreferencesResumesAPausedQueue) {
    SetPreference("autostart", "false");
    Open();
    AddThree();
    ASSERT_TRUE(queue->IsPaused());
    dialogs.preferencesResult = 1;
    dialogs.duringPreferences = [] {
        ASSERT_EQ(SetStoredPreference("autostart", "true"), PreferenceError::None);
    };
    Click(Middle(view->GetLayout().preferences), [&] { return dialogs.preferences == 1; });
    EXPECT_FALSE(queue->IsPaused());
    // And off again while it runs: paused.
    dialogs.duringPreferences = [] {
        ASSERT_EQ(SetStoredPreference("autostart", "false"), PreferenceError::None);
    };
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Preferences)));
    EXPECT_TRUE(queue->IsPaused());
    // Cancelled: nothing changes.
    dialogs.preferencesResult = 2;
    dialogs.duringPreferences = [] {
        ASSERT_EQ(SetStoredPreference("autostart", "true"), PreferenceError::None);
    };
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Preferences)));
    EXPECT_TRUE(queue->IsPaused());
    // A folder fixed in the preferences becomes the browse folder, and the chooser no longer moves it.
    dialogs.preferencesResult = 1;
    const std::string fixed = pictures.Path() + "/fixed";
    dialogs.duringPreferences = [&] {
        ASSERT_EQ(SetStoredPreference("browsedirspecified", "true"), PreferenceError::None);
        ASSERT_EQ(SetStoredPreference("browseDir", fixed), PreferenceError::None);
    };
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Preferences)));
    EXPECT_EQ(view->GetBrowseFolder(), fixed);
    dialogs.chooserEndFolder = pictures.Path() + "/wandered";
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Browse)));
    ASSERT_EQ(dialogs.chooserFolders.size(), 1u);
    EXPECT_EQ(dialogs.chooserFolders[0], fixed);
    EXPECT_EQ(view->GetBrowseFolder(), fixed);
    // The dialog opens on the list's current folder.
    dialogs.preferencesResult = 2;
    dialogs.duringPreferences = nullptr;
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Preferences)));
    EXPECT_EQ(dialogs.preferenceFolders.back(), fixed);
    SetPreference("browsedirspecified", std::nullopt);
    SetPreference("browseDir", std::nullopt);
    SetPreference("autostart", std::nullopt);
}

TEST_F(UploadListViewGuiTest, AFailedRowsStatusOpensItsDetailsAndRetryIsOffered) {
    // Nothing listens on the queue's port: every picture fails.
    Open();
    std::vector<std::string> paths = {JpegOf(pictures, "lost.jpg", 40, 30)};
    view->AddFiles(paths);
    queue->Resume();
    ASSERT_TRUE(gui::PumpUntil(
        *app,
        [&] {
            view->Refresh();
            return view->GetRows().Count() == 1 && view->GetRows().At(0).state == kUploadStateFailed;
        },
        30));
    EXPECT_TRUE(app->FindCommand(view->GetCommandId(UploadListCommandKind::Retry))->IsEnabled());
    // The status text is a link to the picture's details.
    const int statusX = view->GetColumnRect(2).left - view->GetLayout().rows.left + 20;
    Click(RowPoint(0, statusX), [&] { return !dialogs.transferFailed.empty(); });
    ASSERT_EQ(dialogs.transferFailed.size(), 1u);
    EXPECT_EQ(dialogs.transferFailed[0], paths[0]);
    // A row's other cells only select it.
    Click(RowPoint(0, 20), [&] { return selection->GetCount() == 1; });
    EXPECT_EQ(dialogs.transferFailed.size(), 1u);
    Screenshot("failed");
}

TEST_F(UploadListViewGuiTest, AFileTheQueueRefusesShowsAsAFailedRowWithItsError) {
    Open();
    const std::string path = JpegOf(pictures, "twice.jpg", 40, 30);
    view->AddFiles({path});
    view->AddFiles({path}); // already queued: refused
    ASSERT_EQ(view->GetRowCount(), 2u);
    EXPECT_EQ(view->GetRowPath(1), path);
    Click(RowPoint(1, view->GetColumnRect(2).left - view->GetLayout().rows.left + 20),
          [&] { return !dialogs.transferFailed.empty(); });
    EXPECT_EQ(dialogs.transferFailed[0], path);
    // The refused row's own error, not the queued picture's (which has none).
    EXPECT_EQ(dialogs.refusals[0], CPluginAddUploadExistsException(path).GetText()) << dialogs.refusals[0];
    // A refusal the control reports: removing its row forgets it, and the queue is left alone.
    const std::string gone = pictures / "gone.jpg";
    view->ReportAddError(gone, CException("EUI"));
    ASSERT_EQ(view->GetRowCount(), 3u);
    Click(RowPoint(2), [&] { return selection->Contains(gone); });
    auto keys = gui::RunAsync(gui::PressKeysIn("^Remove\\?$", "alt+y"));
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::Remove)));
    EXPECT_EQ(keys.get(), 0);
    EXPECT_EQ(view->GetRowCount(), 2u);
    EXPECT_TRUE(queue->Contains(path));
    EXPECT_EQ(dialogs.removing, 0);
}

TEST_F(UploadListViewGuiTest, AFinishedRunShowsTheTransferStatusOnceAndViewPicturesOpensTheAlbum) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    // The browser is a stand-in that writes down the address it is asked to open.
    testsupport::ScopedTempFolder bin("pxviewbin");
    const std::string opened = bin / "opened";
    bin.Put("xdg-open",
            "#!/bin/sh\necho \"$1\" > '" + opened + ".part' && mv '" + opened + ".part' '" + opened + "'\n");
    ASSERT_EQ(chmod((bin / "xdg-open").c_str(), 0755), 0);
    testsupport::ScopedEnv path("PATH", bin.Path() + ":" + std::getenv("PATH"));
    parameters.d_viewURL = "http://127.0.0.1:9/album?id=7";
    dialogs.statusResult = 1;
    Open(server.Server());
    AddThree();
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    ASSERT_FALSE(queue->IsPaused());
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return !dialogs.statuses.empty(); }, 40));
    EXPECT_EQ(dialogs.statuses[0], (std::pair<size_t, size_t>{3, 0}));
    EXPECT_EQ(queue->GetCompletedCount(), 0u) << "the counts were not cleared";
    EXPECT_TRUE(view->IsCompletionTextShown());
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !bin.Read("opened").empty(); }));
    EXPECT_EQ(bin.Read("opened"), parameters.d_viewURL + "\n");
    // One run, one dialog: the next ticks find the counts cleared.
    gui::PumpFor(*app, 1.2);
    EXPECT_EQ(dialogs.statuses.size(), 1u);
}

TEST_F(UploadListViewGuiTest, WhileARunGoesOnTheFooterShowsTheProgressBarAndTheTimeLeft) {
    // A slow link, so that the run is certainly under way when the footer is looked at.
    RefServer server({"--fault", R"({"servlet":"UploadImage","slow":4000})"});
    ASSERT_TRUE(server.IsListening());
    Open(server.Server());
    AddThree();
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    const UploadJob& totals = queue->GetSession().GetTotals();
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return totals.GetFractionDone() > 0.05 && totals.GetStatus() == UploadStatus::Pending; },
        20));
    CUIDrawable drawn = PaintToMemory();
    const double fraction = totals.GetFractionDone();
    ASSERT_LT(fraction, 0.9) << "the run went too fast to be looked at";
    const CUIRect& right = view->GetLayout().footerRight;
    // The bar's filled part starts at its left end, in the highlight colour, as far as the fraction done.
    const CUIColor highlight = CUIColor::FromSystem(platform::kColorHighlight);
    const int filledEnd = right.left + 1 + static_cast<int>((right.Width() - 2) * fraction);
    EXPECT_TRUE(SameColor(drawn->GetPixel({right.left + 2, right.top + 4}), highlight));
    EXPECT_TRUE(SameColor(drawn->GetPixel({filledEnd - 2, right.top + 4}), highlight));
    EXPECT_FALSE(SameColor(drawn->GetPixel({filledEnd + 2, right.top + 4}), highlight));
    // Below the bar, the time left is written: some pixel differs from the band's colour.
    const int fontHeight = CUIFont::FromStandard(CUIFont::kDialogFont).GetHeight();
    int inked = 0;
    for (int y = right.top + fontHeight + 10; y < right.bottom; ++y)
        for (int x = right.left; x < right.right; ++x)
            inked += !SameColor(drawn->GetPixel({x, y}), CUIColor(0xee, 0xee, 0xee));
    EXPECT_GT(inked, 20) << "no time-remaining text under the bar";
    Screenshot("running");
    view->Refresh();
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    EXPECT_TRUE(queue->IsPaused());
}

TEST_F(UploadListViewGuiTest, WithAlertDoneTheEndOfARunOnlyClearsTheCounts) {
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    SetPreference("alertDone", "true");
    Open(server.Server());
    AddThree();
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    ASSERT_TRUE(gui::PumpUntil(
        *app, [&] { return view->IsCompletionTextShown(); }, 40));
    EXPECT_EQ(queue->GetCompletedCount(), 0u);
    gui::PumpFor(*app, 1.2);
    EXPECT_TRUE(dialogs.statuses.empty());
    // The completion text lasts until pictures are added again.
    view->AddFiles({JpegOf(pictures, "more.jpg", 20, 20)});
    EXPECT_FALSE(view->IsCompletionTextShown());
    SetPreference("alertDone", std::nullopt);
}

TEST_F(UploadListViewGuiTest, ARunRefusedBeforeTheFirstRefreshStillEndsWithTheTransferStatus) {
    // The picture fails within milliseconds, long before the view's next tick looks.
    RefServer server({"--fault", R"({"servlet":"GetImageID","error":3,"message":"Album closed"})"});
    ASSERT_TRUE(server.IsListening());
    Open(server.Server());
    view->AddFiles({JpegOf(pictures, "refused.jpg", 40, 30)});
    // Resumed behind the view's back, as the control's start-up does.
    queue->Resume();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !dialogs.statuses.empty(); }, 20));
    EXPECT_EQ(dialogs.statuses[0], (std::pair<size_t, size_t>{0, 1}));
    EXPECT_TRUE(view->IsCompletionTextShown());
    gui::PumpFor(*app, 1.2);
    EXPECT_EQ(dialogs.statuses.size(), 1u);
}

TEST_F(UploadListViewGuiTest, PausingWithPicturesLeftIsNotTheEndOfTheRun) {
    RefServer server({"--fault", R"({"servlet":"UploadImage","slow":20000})"});
    ASSERT_TRUE(server.IsListening());
    Open(server.Server());
    AddThree();
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    const UploadJob& totals = queue->GetSession().GetTotals();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return queue->GetCompletedCount() >= 1; }, 30));
    ASSERT_EQ(totals.GetStatus(), UploadStatus::Pending) << "the run went too fast to be paused";
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    ASSERT_TRUE(queue->IsPaused());
    // Paused with pictures left: neither the status dialog nor "Upload complete".
    gui::PumpFor(*app, 2.2);
    EXPECT_TRUE(dialogs.statuses.empty());
    EXPECT_FALSE(view->IsCompletionTextShown());
    // The run that goes on reports all three at its end, the one sent before the pause included.
    ASSERT_TRUE(app->DispatchCommand(view->GetCommandId(UploadListCommandKind::PauseResume)));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !dialogs.statuses.empty(); }, 60));
    EXPECT_EQ(dialogs.statuses[0], (std::pair<size_t, size_t>{3, 0}));
}

TEST_F(UploadListViewGuiTest, ALongListScrollsWithTheWheelTheScrollBarAndTheKeys) {
    Open();
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "picture %02d.jpg", i);
        paths.push_back(JpegOf(pictures, name, 16, 12));
    }
    // More files than are added in one go: they go in under "Processing...".
    view->AddFiles(paths);
    ASSERT_EQ(view->GetRowCount(), 40u);
    ASSERT_EQ(view->GetTopRow(), 0u);
    const CUIRect& rows = view->GetLayout().rows;
    const size_t visible = static_cast<size_t>(rows.Height() / view->GetRowHeight());
    const size_t last = 40u - visible;
    // The thumb, at the top of the bar, dragged to the bottom shows the last page.
    {
        CUIPoint thumb =
            view->ClientToScreen({rows.right - CUploadListView::kScrollBarWidth / 2, rows.top + 5});
        CUIPoint bottom =
            view->ClientToScreen({rows.right - CUploadListView::kScrollBarWidth / 2, rows.bottom + 40});
        const std::string script = "xdotool mousemove " + std::to_string(thumb.x + 1) + " " +
                                   std::to_string(thumb.y) + " sleep 0.05 mousemove --sync " +
                                   std::to_string(thumb.x) + " " + std::to_string(thumb.y) +
                                   " mousedown 1 sleep 0.1 mousemove --sync " + std::to_string(bottom.x) +
                                   " " + std::to_string(bottom.y) + " sleep 0.2 mouseup 1";
        auto input = gui::RunAsync(script);
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return view->GetTopRow() == last; }));
        EXPECT_EQ(input.get(), 0);
    }
    // Three rows a notch of the wheel.
    const CUIPoint inside{rows.left + 100, rows.top + 40};
    {
        auto input = gui::RunAsync(MoveTo(inside) + " sleep 0.1 click 4 sleep 0.1 click 4");
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return view->GetTopRow() == last - 6; }));
        EXPECT_EQ(input.get(), 0);
    }
    {
        auto input = gui::RunAsync(MoveTo(inside) + " sleep 0.1 click 5");
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return view->GetTopRow() == last - 3; }));
        EXPECT_EQ(input.get(), 0);
    }
    // Home selects the first row and brings it into view; Shift+End selects them all.
    {
        auto keys = gui::RunAsync(gui::PressKeysIn(kTitle, "Home shift+End"));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return selection->GetCount() == 40u; }));
        EXPECT_EQ(keys.get(), 0);
    }
    EXPECT_EQ(view->GetTopRow(), last);
    Screenshot("scrolled");
}

TEST_F(UploadListViewGuiTest, ADisabledViewShowsAWhiteListAndOffersOnlyPreferences) {
    Open();
    AddThree();
    view->SetDisabled(true);
    for (UploadListCommandKind kind :
         {UploadListCommandKind::Properties, UploadListCommandKind::Remove,
          UploadListCommandKind::PauseResume, UploadListCommandKind::Retry, UploadListCommandKind::Browse})
        EXPECT_FALSE(app->FindCommand(view->GetCommandId(kind))->IsEnabled()) << static_cast<int>(kind);
    EXPECT_TRUE(app->FindCommand(view->GetCommandId(UploadListCommandKind::Preferences))->IsEnabled());
    CUIDrawable drawn = PaintToMemory();
    // Where the first row's thumbnail and name would be, white.
    const CUIRect& list = view->GetLayout().list;
    int white = 0, samples = 0;
    for (int y = list.top + 2; y < list.bottom - 2; y += 7) {
        for (int x = list.left + 2; x < list.right - 2; x += 13) {
            ++samples;
            white += SameColor(drawn->GetPixel({x, y}), CUIColor(255, 255, 255));
        }
    }
    EXPECT_EQ(white, samples);
    // A click selects nothing.
    auto input = gui::RunAsync(MoveTo(RowPoint(0)) + " sleep 0.1 click 1");
    EXPECT_EQ(input.get(), 0);
    gui::PumpFor(*app, 0.3);
    EXPECT_EQ(selection->GetCount(), 0u);
    view->SetDisabled(false);
    EXPECT_TRUE(app->FindCommand(view->GetCommandId(UploadListCommandKind::Browse))->IsEnabled());
}

TEST_F(UploadListViewGuiTest, ButtonsTellTheirCommandsDescriptionAndABusyViewShowsTheWaitCursor) {
    Open();
    AddThree();
    {
        auto input = gui::RunAsync(MoveTo(Middle(view->GetLayout().choose)));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return !view->GetToolTip().empty(); }));
        EXPECT_EQ(input.get(), 0);
    }
    EXPECT_EQ(view->GetToolTip(), "Adds pictures using the standard open file dialog.");
    {
        auto input = gui::RunAsync(MoveTo(Middle(view->GetLayout().remove)));
        EXPECT_TRUE(gui::PumpUntil(
            *app, [&] { return view->GetToolTip() == "Cancels and removes the selected items."; }));
        EXPECT_EQ(input.get(), 0);
    }
    {
        auto input = gui::RunAsync(MoveTo(RowPoint(1)));
        EXPECT_TRUE(gui::PumpUntil(*app, [&] { return view->GetToolTip().empty(); }));
        EXPECT_EQ(input.get(), 0);
    }
    view->SetBusy(true);
    EXPECT_EQ(system->GetCursor(view->GetHandle()), platform::CursorShape::Wait);
    view->SetBusy(false);
    EXPECT_EQ(system->GetCursor(view->GetHandle()), platform::CursorShape::Arrow);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PrivateConfig);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
