// The upload list's dialogs as windows under a private X server, driven by real pointer and key
// events: the Transfer Status variants as they are painted on the screen, their buttons' results
// and pointer, Transfer Failed over a picture that really failed to go, the error log filled from
// another thread, and Removing over a real queue.
#include "foundation/path.h"
#include "pictures/picture_format_list.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/loopback.h"
#include "tests/support/network_ready.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "ui/image.h"
#include "ui/image_button.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_job.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"
#include "views/error_log_dialog.h"
#include "views/standard_upload_list_dialogs.h"
#include "views/transfer_failed_dialog.h"
#include "views/transfer_status_dialog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr CUIColor kWhite{255, 255, 255};

// The whole screen as the X server shows it, grabbed with ImageMagick as a binary PPM.
class ScreenGrab {
public:
    static std::optional<ScreenGrab> Take(const std::string& folder) {
        std::string file = folder + "/screen.ppm";
        if (std::system(("import -window root -depth 8 ppm:" + file).c_str()) != 0)
            return std::nullopt;
        std::ifstream in(file, std::ios::binary);
        std::string magic;
        int width = 0, height = 0, maximum = 0;
        in >> magic >> width >> height >> maximum;
        in.get(); // the one white-space character before the pixels
        if (magic != "P6" || width <= 0 || height <= 0 || maximum != 255)
            return std::nullopt;
        ScreenGrab grab;
        grab.m_width = width;
        grab.m_height = height;
        grab.m_rgb.resize(size_t(width) * height * 3);
        if (!in.read(reinterpret_cast<char*>(grab.m_rgb.data()), std::streamsize(grab.m_rgb.size())))
            return std::nullopt;
        return grab;
    }
    CUIColor At(CUIPoint p) const {
        if (p.x < 0 || p.y < 0 || p.x >= m_width || p.y >= m_height)
            return CUIColor(1, 2, 3);
        const uint8_t* rgb = &m_rgb[(size_t(p.y) * m_width + p.x) * 3];
        return CUIColor(rgb[0], rgb[1], rgb[2]);
    }
    // How many pixels of `image` placed at `origin` differ from the screen.
    int Mismatches(const CUIImage& image, CUIPoint origin) const {
        int wrong = 0;
        for (int y = 0; y < image.Height(); ++y)
            for (int x = 0; x < image.Width(); ++x)
                wrong += At({origin.x + x, origin.y + y}) != image.GetPixel(x, y);
        return wrong;
    }
    // Pixels of the rectangle (screen coordinates) that are not white.
    int Inked(const CUIRect& rect) const {
        int inked = 0;
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                inked += At({x, y}) != kWhite;
        return inked;
    }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<uint8_t> m_rgb;
};

// Keeps the modal pump turning and runs the test's script once, when the dialog is shown at its size.
class ScriptedStatusDialog : public CTransferStatusDialog {
public:
    using CTransferStatusDialog::CTransferStatusDialog;
    ~ScriptedStatusDialog() override {
        if (m_awake)
            CUIApplication::Get()->RemoveTimer(m_awake);
    }
    static constexpr int kNeverEnded = -99;
    std::function<void(ScriptedStatusDialog&)> script;
    bool scriptRan = false;

protected:
    void ModalStep() override {
        if (!m_awake) {
            m_awake = new gui::KeepAwake;
            CUIApplication::Get()->AddTimer(m_awake, 10);
        }
        if (m_started == std::chrono::steady_clock::time_point())
            m_started = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - m_started > std::chrono::seconds(30)) {
            ADD_FAILURE() << "the dialog did not end";
            End(kNeverEnded);
            return;
        }
        CUIRect client = GetClientRect();
        if (!scriptRan && script && IsVisible() && client.Width() == kClientSize.cx &&
            client.Height() == kClientSize.cy) {
            scriptRan = true;
            script(*this);
        }
        CTransferStatusDialog::ModalStep();
    }

private:
    gui::KeepAwake* m_awake = nullptr;
    std::chrono::steady_clock::time_point m_started;
};

// The words of a text, whatever the spaces and line breaks between them.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Looks on each tick (a timer of the application, which owns it) for a dialog of the application that holds
// the keyboard focus.
class FocusedDialogWatch : public CUITimerHandler {
public:
    explicit FocusedDialogWatch(std::function<bool(CUIDialog&)> onFound) : m_onFound(std::move(onFound)) {}
    void OnTimer() override {
        if (m_done)
            return;
        CUIApplication* app = CUIApplication::Get();
        platform::WindowSystem& system = app->GetWindowSystem();
        for (platform::NativeWindow w = system.GetFocus(); w != nullptr; w = system.GetParent(w)) {
            if (CUIDialog* dialog = app->FindDialog(w)) {
                m_done = m_onFound(*dialog);
                return;
            }
        }
    }

private:
    std::function<bool(CUIDialog&)> m_onFound;
    bool m_done = false;
};

class DialogsGuiTest : public NetworkReadyFastRetries {
protected:
    void SetUp() override {
        NetworkReadyFastRetries::SetUp();
        ASSERT_TRUE(desk.Open("upload list", {640, 480})) << "no display";
    }
    void TearDown() override {
        desk.Close();
        NetworkReadyFastRetries::TearDown();
    }

    // Screen coordinates of a point of the dialog's client area.
    static CUIPoint OnScreen(const CUIWindow& window, CUIPoint client) {
        return window.ClientToScreen(client);
    }
    static CUIPoint Centre(const CUIRect& rect) {
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }
    static std::string MoveTo(CUIPoint screen) {
        // Without --sync, which waits for ever when the pointer is there already.
        return "xdotool mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y) +
               " sleep 0.1";
    }
    // Saves a screenshot under $PX_DIALOG_SCREENSHOTS, for a person to look at.
    static void Screenshot(const std::string& name) {
        if (const char* folder = std::getenv("PX_DIALOG_SCREENSHOTS")) {
            EXPECT_EQ(
                std::system(("import -window root '" + std::string(folder) + "/" + name + ".png'").c_str()),
                0);
        }
    }

    std::unique_ptr<UploadQueue> MakeQueue(uint16_t port) {
        PluginParameters parameters;
        parameters.d_server = "127.0.0.1:" + std::to_string(port);
        parameters.d_albumName = "Summer";
        parameters.d_maxConnections = 1;
        return std::make_unique<UploadQueue>(
            parameters, UploadEndpoint(parameters.d_server, "dialogs test", 2.0, false),
            [](const std::string& path) {
                return CPictureFormatList::Get().FindByFileName(path) != nullptr;
            });
    }
    std::string PutPicture(const std::string& name) {
        testpictures::Bytes jpeg = testpictures::EncodeJpeg({});
        return folder.Put(name, std::string(jpeg.begin(), jpeg.end()));
    }

    gui::DialogOwner desk;
    platform::WindowSystem*& system = desk.system;
    std::unique_ptr<CUIApplication>& app = desk.app;
    CUIWindow& owner = desk.owner;
    testsupport::ScopedTempFolder folder;
};

struct StatusVariant {
    uint64_t successes;
    uint64_t failures;
    const char* message;
    uint32_t banner;
    uint32_t icon;
    std::vector<uint32_t> buttons;
    const char* screenshot;
};

const StatusVariant kVariants[] = {
    // Nothing went: the incomplete banner, the red mark and only the retry button.
    {0,
     3,
     "No pictures could be added to your album.\n\nPlease check your Internet connection; a temporary "
     "server problem or very heavy user volume may also have stopped the transfers.\n\nClick the button "
     "below to view and retry the failed pictures.",
     195,
     194,
     {200},
     "transfer-status-none"},
    // Everything went, one picture: the singular, the complete banner and the green icon.
    {1,
     0,
     "1 picture was successfully added to your Pixolane account.\n\nWhat do you want to do next?",
     197,
     196,
     {199, 198},
     "transfer-status-all"},
    // Some went and some failed: both counts with their plurals.
    {4,
     2,
     "4 pictures were successfully added to your Pixolane account.\n\nHowever, 2 pictures failed to "
     "transfer.\n\nWhat do you want to do next?",
     195,
     194,
     {200, 198},
     "transfer-status-some"},
};

TEST_F(DialogsGuiTest, TransferStatusVariantsPaintTheirBannerIconMessageAndButtons) {
    for (const StatusVariant& variant : kVariants) {
        SCOPED_TRACE(variant.screenshot);
        ScriptedStatusDialog dialog;
        dialog.script = [&](ScriptedStatusDialog& shown) {
            // Closed however the checks end.
            std::shared_ptr<void> close(nullptr, [&](void*) { shown.PostMessage(ui::kWmClose); });
            gui::PumpFor(*app, 0.4);
            EXPECT_EQ(shown.GetText(), "Transfer Status");
            EXPECT_EQ(shown.GetItemText(CTransferStatusDialog::kMessage), variant.message);
            // Painted whole: every word on the lines, and the lines within the pane.
            std::string painted;
            for (const std::string& line : shown.GetMessageLines())
                painted += line + "\n";
            EXPECT_EQ(Words(painted), Words(variant.message));
            EXPECT_GT(shown.GetMessageLineHeight(), 8);
            EXPECT_LE(int(shown.GetMessageLines().size()) * shown.GetMessageLineHeight(),
                      CTransferStatusDialog::kMessageRect.Height());
            EXPECT_FALSE(shown.GetMessageFont().IsEmpty());
            std::vector<CTransferStatusDialog::Button> buttons = shown.GetButtons();
            ASSERT_EQ(buttons.size(), variant.buttons.size());
            for (size_t i = 0; i < buttons.size(); ++i) {
                EXPECT_EQ(buttons[i].bitmap, variant.buttons[i]);
                // Inside the dialog, below the message, left to right without overlapping.
                EXPECT_GE(buttons[i].rect.left, 0);
                EXPECT_LE(buttons[i].rect.right, CTransferStatusDialog::kClientSize.cx);
                EXPECT_LE(buttons[i].rect.bottom, CTransferStatusDialog::kClientSize.cy);
                EXPECT_GE(buttons[i].rect.top, CTransferStatusDialog::kMessageRect.bottom);
                if (i > 0) {
                    EXPECT_GT(buttons[i].rect.left, buttons[i - 1].rect.right);
                }
            }

            std::optional<ScreenGrab> screen = ScreenGrab::Take(folder.Path());
            ASSERT_TRUE(screen);
            Screenshot(variant.screenshot);
            CUIPoint origin = OnScreen(shown, {0, 0});
            auto at = [&](CUIPoint p) { return CUIPoint{origin.x + p.x, origin.y + p.y}; };
            std::optional<CUIImage> banner = CUIImage::FromResource(variant.banner);
            std::optional<CUIImage> icon = CUIImage::FromResource(variant.icon);
            ASSERT_TRUE(banner && icon);
            EXPECT_EQ(screen->Mismatches(*banner, at(CTransferStatusDialog::kBannerAt)), 0);
            EXPECT_EQ(screen->Mismatches(*icon, at(CTransferStatusDialog::kIconAt)), 0);
            // Each button in the normal look of its bitmap, in the page's default button colours.
            for (const CTransferStatusDialog::Button& button : buttons) {
                CUIImageButton look(*CUIImage::FromResource(button.bitmap));
                look.SetColors(CTransferStatusStyle::DefaultButtonColors());
                EXPECT_EQ(screen->Mismatches(look.GetImage(CUIImageButton::State::Normal),
                                             at({button.rect.left, button.rect.top})),
                          0)
                    << button.bitmap;
            }
            // Black text in the message pane, white everywhere that nothing is drawn.
            CUIRect pane = CTransferStatusDialog::kMessageRect;
            EXPECT_GT(screen->Inked(pane.Offset(origin.x, origin.y)), 500);
            EXPECT_EQ(screen->Inked(
                          CUIRect{pane.right, 0, CTransferStatusDialog::kClientSize.cx, pane.bottom}.Offset(
                              origin.x, origin.y)),
                      0);
            EXPECT_EQ(screen->Inked(CUIRect{0, 0, CTransferStatusDialog::kBannerAt.x, pane.bottom}.Offset(
                          origin.x, origin.y)),
                      0);
        };
        EXPECT_EQ(dialog.Run(&owner, variant.successes, variant.failures), kTransferStatusResultOther);
        EXPECT_TRUE(dialog.scriptRan);
        EXPECT_TRUE(owner.IsEnabled()) << "the owner stayed disabled after the dialog";
    }
}

TEST_F(DialogsGuiTest, TransferStatusButtonsEndWithTheirResultsAndShowAHand) {
    struct Click {
        uint64_t successes;
        uint64_t failures;
        uint32_t button;
        int result;
    };
    const Click kClicks[] = {
        {3, 0, kTransferStatusViewPictures, 1},
        {3, 0, kTransferStatusAddMore, 2},
        {3, 1, kTransferStatusViewPictures, 1},
        {0, 1, kTransferStatusRetryFailed, 2},
    };
    for (const Click& c : kClicks) {
        SCOPED_TRACE(testing::Message() << c.successes << "/" << c.failures << " button " << c.button);
        ScriptedStatusDialog dialog;
        std::future<int> click;
        dialog.script = [&](ScriptedStatusDialog& shown) {
            // Closed if the checks end before the click.
            std::shared_ptr<void> close(nullptr, [&](void*) {
                if (!click.valid())
                    shown.PostMessage(ui::kWmClose);
            });
            gui::PumpFor(*app, 0.2);
            std::optional<CTransferStatusDialog::Button> target;
            for (const CTransferStatusDialog::Button& button : shown.GetButtons())
                if (button.bitmap == c.button)
                    target = button;
            ASSERT_TRUE(target);
            CUIPoint centre = Centre(target->rect);

            // The pointer is a hand over the button and an arrow beside it.
            auto over = gui::RunAsync(MoveTo(OnScreen(shown, centre)));
            EXPECT_TRUE(gui::PumpUntil(
                *app, [&] { return system->GetCursor(shown.GetHandle()) == platform::CursorShape::Hand; }));
            EXPECT_EQ(over.get(), 0);
            auto beside = gui::RunAsync(MoveTo(OnScreen(shown, {30, 280})));
            EXPECT_TRUE(gui::PumpUntil(
                *app, [&] { return system->GetCursor(shown.GetHandle()) == platform::CursorShape::Arrow; }));
            EXPECT_EQ(beside.get(), 0);

            click = gui::RunAsync(MoveTo(OnScreen(shown, centre)) + " click 1");
        };
        EXPECT_EQ(dialog.Run(&owner, c.successes, c.failures), c.result);
        ASSERT_TRUE(click.valid());
        EXPECT_EQ(click.get(), 0);
    }
}

TEST_F(DialogsGuiTest, TransferStatusEscapeAndEnterAreNoViewPictures) {
    // Escape is the other way out; Enter asks for a button the dialog does not have and does nothing.
    ScriptedStatusDialog dialog;
    std::future<int> keys;
    dialog.script = [&](ScriptedStatusDialog&) {
        keys = gui::RunAsync(gui::PressKeysIn("^Transfer Status$", "Return Escape"));
    };
    EXPECT_EQ(dialog.Run(&owner, 0, 2), kTransferStatusResultOther);
    EXPECT_EQ(keys.get(), 0);

    // The standard set runs the same dialog.
    auto pictures = MakeQueue(testsupport::FreeLoopbackPort());
    CStandardUploadListDialogs dialogs(*pictures);
    auto escape = gui::RunAsync(gui::PressKeysIn("^Transfer Status$", "Escape"));
    EXPECT_EQ(dialogs.RunTransferStatus(owner, 2, 0), kTransferStatusResultOther);
    EXPECT_EQ(escape.get(), 0);
}

TEST_F(DialogsGuiTest, TransferFailedShowsTheAdviceAndTheCodesOfARealFailedUpload) {
    // Nothing listens on the queue's server port: the picture fails on its connection.
    std::unique_ptr<UploadQueue> queue = MakeQueue(testsupport::FreeLoopbackPort());
    std::string path = PutPicture("lake.jpg");
    queue->Pause();
    queue->Add(path, "");
    queue->Resume();
    ASSERT_TRUE(gui::PumpUntil(
        *app,
        [&] {
            queue->Refresh();
            return queue->HasFailed();
        },
        60));
    std::string codes = queue->Find(path)->GetErrorText();
    ASSERT_FALSE(codes.empty());

    CStandardUploadListDialogs dialogs(*queue);
    std::string title, text;
    auto* watch = new FocusedDialogWatch([&](CUIDialog& dialog) {
        if (dialog.GetText().rfind("Transfer Failed:", 0) != 0)
            return false;
        gui::PumpFor(*app, 0.3);
        title = dialog.GetText();
        text = dialog.GetItemText(CTransferFailedDialog::kText);
        Screenshot("transfer-failed");
        dialog.End(ui::kIdCancel);
        return true;
    });
    app->AddTimer(watch, 10);
    // A key in the dialog gives it the keyboard focus, through which the watch finds it.
    auto focus = gui::RunAsync(gui::PressKeysIn("^Transfer Failed", "Tab"));
    dialogs.ShowTransferFailed(owner, path);
    app->RemoveTimer(watch);
    EXPECT_EQ(focus.get(), 0);
    EXPECT_EQ(title, "Transfer Failed: lake.jpg");
    std::string advice = platform::LoadStringResource(10086).value_or("?");
    EXPECT_EQ(text, advice + codes);
    // Refused: nothing listens there.
    EXPECT_NE(codes.find("(10061)"), std::string::npos) << codes;
    queue->Pause();

    // A picture the queue does not hold has no error: an empty name and an empty text.
    title = text = "?";
    auto* again = new FocusedDialogWatch([&](CUIDialog& dialog) {
        title = dialog.GetText();
        text = dialog.GetItemText(CTransferFailedDialog::kText);
        dialog.End(ui::kIdCancel);
        return true;
    });
    app->AddTimer(again, 10);
    auto focusAgain = gui::RunAsync(gui::PressKeysIn("^Transfer Failed", "Tab"));
    dialogs.ShowTransferFailed(owner, folder / "gone.jpg");
    app->RemoveTimer(again);
    EXPECT_EQ(focusAgain.get(), 0);
    EXPECT_EQ(title, "Transfer Failed: ");
    EXPECT_EQ(text, "");
}

TEST_F(DialogsGuiTest, TheErrorLogCollectsLinesAppendedFromAnotherThread) {
    CErrorLogDialog log(&owner);
    std::string expected;
    for (int i = 0; i < 40; ++i)
        expected += "warning " + std::to_string(i) + "\r\n";
    std::thread writer([&] {
        for (int i = 0; i < 40; ++i)
            log.Append("warning " + std::to_string(i));
    });
    writer.join();
    EXPECT_EQ(log.GetLog(), expected);
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return log.IsVisible(); }));
    EXPECT_EQ(log.GetText(), "Errors and Warnings");
    EXPECT_EQ(log.GetItemText(CErrorLogDialog::kLog), expected);

    // Closed, it is only hidden; the next line shows it again with the whole log.
    auto close = gui::RunAsync(gui::PressKeysIn("^Errors and Warnings$", "Escape"));
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return !log.IsVisible(); }));
    EXPECT_EQ(close.get(), 0);
    std::thread late([&] { log.Append("error: the last one"); });
    late.join();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return log.IsVisible(); }));
    EXPECT_EQ(log.GetItemText(CErrorLogDialog::kLog), expected + "error: the last one\r\n");
}

TEST_F(DialogsGuiTest, RemovingOverARealQueueRemovesTheSelectedPictures) {
    std::unique_ptr<UploadQueue> queue = MakeQueue(testsupport::FreeLoopbackPort());
    queue->Pause();
    std::string a = PutPicture("a.jpg"), b = PutPicture("b.jpg"), c = PutPicture("c.jpg");
    for (const std::string& path : {a, b, c})
        queue->Add(path, "");
    CUploadSelection selection("uploads", *queue);
    selection.Select(a);
    selection.Select(c);

    CStandardUploadListDialogs dialogs(*queue);
    dialogs.RunRemoving(owner, selection);
    EXPECT_EQ(queue->GetDisplayOrder(), std::vector<std::string>{b});
    EXPECT_TRUE(selection.GetElements().empty());
    EXPECT_TRUE(owner.IsEnabled());
}

TEST_F(DialogsGuiTest, PropertiesAreOneModelessDialogShownAgainForEachSelection) {
    std::unique_ptr<UploadQueue> queue = MakeQueue(testsupport::FreeLoopbackPort());
    CStandardUploadListDialogs dialogs(*queue);
    std::string a = PutPicture("a.jpg"), b = PutPicture("b.jpg");
    dialogs.ShowProperties(owner, {a});
    CPropertiesDialog& properties = dialogs.GetPropertiesDialog();
    ASSERT_TRUE(gui::PumpUntil(*app, [&] { return properties.IsVisible(); }));
    platform::NativeWindow first = properties.GetHandle();
    EXPECT_EQ(properties.GetItemText(CPropertiesDialog::kName), "a.jpg");
    EXPECT_EQ(CUIDialog::GetModalDepth(), 0u);

    properties.Show(false);
    dialogs.ShowProperties(owner, {a, b});
    EXPECT_EQ(properties.GetHandle(), first);
    EXPECT_TRUE(properties.IsVisible());
    EXPECT_EQ(properties.GetItemText(CPropertiesDialog::kName), "Multiple files");
}

TEST_F(DialogsGuiTest, ChoosingPicturesShowsTheJpegFilesOfTheFolderAndTakesSeveral) {
    std::unique_ptr<UploadQueue> queue = MakeQueue(testsupport::FreeLoopbackPort());
    CStandardUploadListDialogs dialogs(*queue);
    std::string b = PutPicture("trip/b.jpg"), c = PutPicture("trip/c.jpg");
    folder.Put("trip/notes.txt", "not a picture");
    const std::string trip = folder / "trip";

    // Cancelled: nothing chosen, and the folder stays.
    std::string folderNow = trip;
    auto cancel = gui::RunAsync(gui::PressKeysIn("^Choose Pictures$", "Escape"));
    EXPECT_TRUE(dialogs.ChooseFiles(owner, folderNow, FileChooser::Standard).empty());
    EXPECT_EQ(cancel.get(), 0);
    EXPECT_EQ(folderNow, trip);

    // Everything the JPEG filter shows, chosen at once; the text file is not among them.
    auto all = gui::RunAsync(gui::PressKeysIn("^Choose Pictures$", "ctrl+a Return"));
    std::vector<std::string> chosen = dialogs.ChooseFiles(owner, folderNow, FileChooser::Standard);
    EXPECT_EQ(all.get(), 0);
    std::sort(chosen.begin(), chosen.end());
    EXPECT_EQ(chosen, (std::vector<std::string>{b, c}));
    EXPECT_EQ(folderNow, trip);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new gui::PrivateDisplay);
    return RUN_ALL_TESTS();
}
