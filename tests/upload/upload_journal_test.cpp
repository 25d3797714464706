// The upload journal over a real journal file in a temporary folder: what a later run gets back, what
// it must not get back, and two processes sharing the file.
#include "platform/file_system.h"
#include "platform/journal_store.h"
#include "platform/user_folders.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_item_info.h"
#include "upload/upload_journal.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

namespace {

using testsupport::ChildProcess;
using testsupport::GetEnv;
using testsupport::ScopedTempFolder;

PluginParameters Session(const std::string& album = "Holidays") {
    PluginParameters parameters;
    parameters.d_server = "127.0.0.1:8080";
    parameters.d_sessionID = "session-1";
    parameters.d_uid = "user-7";
    parameters.d_albumName = album;
    parameters.d_albumID = "album-3";
    return parameters;
}

platform::JournalIdentity IdentityOf(const PluginParameters& parameters) {
    return {parameters.d_server, parameters.d_sessionID, parameters.d_uid, parameters.d_albumName,
            parameters.d_albumID};
}

UploadItemInfo Item(const std::string& path, const std::string& album = "Holidays") {
    UploadItemInfo item;
    item.SetPath(path);
    item.SetAlbumName(album);
    item.SetAlbumID("album-3");
    return item;
}

// What the sender learns from "GetImageID".
void Identify(UploadItemInfo& item, const std::string& id) {
    item.SetImageID(id);
    item.SetServer("127.0.0.1:9090");
    item.SetUploadServer("upload-2");
    item.SetCookie("JSESSIONID=abc; Path=/");
}

// Run by LiveProcess as a process of its own: waits until it is killed.
TEST(UploadJournalChild, DISABLED_RunsUntilKilled) {
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

// A child process that runs until it is killed: a live holder of journal records.
class LiveProcess {
public:
    LiveProcess()
        : m_process(testsupport::ThisProgramRunning("UploadJournalChild.DISABLED_RunsUntilKilled")) {
        EXPECT_TRUE(m_process.Started());
    }
    void End() { m_process.Kill(); }
    int64_t Id() const { return m_process.ProcessId(); }

private:
    ChildProcess m_process;
};

constexpr int kSharedPictures = 40; // per process, in TwoProcessesRecordingAtOnceLoseNothing

std::string SharedPicture(const std::string& folder, int i) {
    return platform::JoinPath(folder, std::to_string(i) + ".jpg"); // as the temporary folder joins
}

// One of the two processes of TwoProcessesRecordingAtOnceLoseNothing: records every other picture,
// from the one PX_JOURNAL_CHILD names, in the journal PX_JOURNAL_PATH; fails when one is lost.
TEST(UploadJournalChild, DISABLED_RecordsEveryOtherPicture) {
    const std::optional<std::string> path = GetEnv("PX_JOURNAL_PATH");
    const std::optional<std::string> folder = GetEnv("PX_JOURNAL_FOLDER");
    const std::optional<std::string> child = GetEnv("PX_JOURNAL_CHILD");
    ASSERT_TRUE(path && folder && child);
    bool ok = true;
    {
        CUploadJournal journal(*path, Session(), [&ok](const std::string&) { ok = false; });
        for (int i = std::stoi(*child); i < 2 * kSharedPictures; i += 2) {
            UploadItemInfo item = Item(SharedPicture(*folder, i));
            ok = ok && journal.Admit(item) == CUploadJournal::Admission::New;
            Identify(item, "img-" + std::to_string(i));
            journal.Identified(item);
        }
    }
    EXPECT_TRUE(ok);
}

class UploadJournalTest : public ::testing::Test {
protected:
    std::string JournalPath() const { return m_folder / "state/pixolane/journal.db"; }

    ScopedTempFolder m_folder{"pxjournal"};
};

TEST_F(UploadJournalTest, AnUnchangedPictureGoesOnWithWhatTheEarlierRunLearnt) {
    std::string picture = m_folder.PutSized("a.jpg", 5000);
    {
        CUploadJournal journal(JournalPath(), Session());
        ASSERT_TRUE(journal.IsWorking());
        UploadItemInfo item = Item(picture);
        EXPECT_EQ(journal.Admit(item), CUploadJournal::Admission::New);
        Identify(item, "img-42");
        journal.Identified(item);
    }
    CUploadJournal later(JournalPath(), Session());
    UploadItemInfo again = Item(picture);
    EXPECT_EQ(later.Admit(again), CUploadJournal::Admission::Resumed);
    EXPECT_EQ(again.GetImageID(), "img-42");
    EXPECT_EQ(again.GetServer(), "127.0.0.1:9090");
    EXPECT_EQ(again.GetUploadServer(), "upload-2");
    EXPECT_EQ(again.GetCookie(), "JSESSIONID=abc; Path=/");

#ifndef _WIN32
    // The journal file and its folders are the user's alone.
    struct stat status {};
    ASSERT_EQ(stat(JournalPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((m_folder / "state/pixolane").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
#endif
}

TEST_F(UploadJournalTest, AChangedFileOrAnotherSessionStartsOver) {
    std::string picture = m_folder.PutSized("a.jpg", 5000);
    {
        CUploadJournal journal(JournalPath(), Session());
        UploadItemInfo item = Item(picture);
        journal.Admit(item);
        Identify(item, "img-42");
        journal.Identified(item);
    }
    // Another album of the same user is another session identity.
    {
        CUploadJournal other(JournalPath(), Session("Birthdays"));
        UploadItemInfo item = Item(picture, "Birthdays");
        EXPECT_EQ(other.Admit(item), CUploadJournal::Admission::New);
        EXPECT_EQ(item.GetImageID(), "");
    }
    // A file of another size is another picture: the identifier it had is not sent again.
    m_folder.PutSized("a.jpg", 6000);
    CUploadJournal later(JournalPath(), Session());
    UploadItemInfo changed = Item(picture);
    EXPECT_EQ(later.Admit(changed), CUploadJournal::Admission::New);
    EXPECT_EQ(changed.GetImageID(), "");
    EXPECT_EQ(changed.GetServer(), "");
}

TEST_F(UploadJournalTest, OnlyUnfinishedPicturesOfTheSessionAreListedInTheirOrder) {
    std::string first = m_folder.PutSized("first.jpg", 10);
    std::string done = m_folder.PutSized("done.jpg", 20);
    std::string failed = m_folder.PutSized("failed.jpg", 30);
    std::string own = m_folder.PutSized("own album.jpg", 40);
    {
        CUploadJournal journal(JournalPath(), Session());
        for (const std::string& path : {first, done, failed}) {
            UploadItemInfo item = Item(path);
            journal.Admit(item);
        }
        UploadItemInfo ownAlbum = Item(own, "Spec album");
        ownAlbum.SetAlbumID("");
        journal.Admit(ownAlbum);
        journal.Forget(done);
        journal.Failed(Item(failed));
        UploadItemInfo elsewhere = Item(first, "Birthdays");
        CUploadJournal(JournalPath(), Session("Birthdays")).Admit(elsewhere);
    }
    CUploadJournal later(JournalPath(), Session());
    std::vector<CUploadJournal::Picture> unfinished = later.GetUnfinished();
    ASSERT_EQ(unfinished.size(), 3u);
    EXPECT_EQ(unfinished[0].path, first);
    EXPECT_EQ(unfinished[0].albumName, "");
    EXPECT_FALSE(unfinished[0].failed);
    EXPECT_EQ(unfinished[1].path, failed);
    EXPECT_TRUE(unfinished[1].failed);
    EXPECT_EQ(unfinished[2].path, own);
    EXPECT_EQ(unfinished[2].albumName, "Spec album");
}

TEST_F(UploadJournalTest, APictureHeldByARunningCopyIsNeitherTakenNorListed) {
    std::string picture = m_folder.PutSized("a.jpg", 5000);
    PluginParameters session = Session();
    LiveProcess holder;
    {
        std::string error;
        std::unique_ptr<platform::JournalStore> store = platform::JournalStore::Open(JournalPath(), &error);
        ASSERT_TRUE(store) << error;
        platform::JournalRecord record;
        record.path = picture;
        record.size = 5000;
        ASSERT_EQ(store->Take(IdentityOf(session), record, holder.Id()), platform::JournalStore::Claim::New);
    }
    {
        CUploadJournal journal(JournalPath(), session);
        UploadItemInfo item = Item(picture);
        EXPECT_EQ(journal.Admit(item), CUploadJournal::Admission::HeldByOther);
        EXPECT_TRUE(journal.GetUnfinished().empty());
    }
    // Once the holder is gone (killed, so it let go of nothing), the picture is free again.
    holder.End();
    CUploadJournal journal(JournalPath(), session);
    EXPECT_EQ(journal.GetUnfinished().size(), 1u);
    UploadItemInfo item = Item(picture);
    EXPECT_NE(journal.Admit(item), CUploadJournal::Admission::HeldByOther);
}

TEST_F(UploadJournalTest, TwoProcessesRecordingAtOnceLoseNothing) {
    constexpr int kPictures = kSharedPictures;
    std::vector<std::string> pictures;
    for (int i = 0; i < 2 * kPictures; ++i)
        pictures.push_back(m_folder.PutSized(std::to_string(i).append(".jpg"), 100 + i));
    ASSERT_EQ(pictures[1], SharedPicture(m_folder.Path(), 1));
    CUploadJournal(JournalPath(), Session()); // the file exists before both start

    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int child = 0; child < 2; ++child) {
        children.push_back(std::make_unique<ChildProcess>(
            testsupport::ThisProgramRunning("UploadJournalChild.DISABLED_RecordsEveryOtherPicture"),
            ChildProcess::Options{.environment = {{"PX_JOURNAL_PATH", JournalPath()},
                                                  {"PX_JOURNAL_FOLDER", m_folder.Path()},
                                                  {"PX_JOURNAL_CHILD", std::to_string(child)}},
                                  .outputPath = m_folder / ("child-" + std::to_string(child) + ".log"),
                                  .errorPath = m_folder / ("child-" + std::to_string(child) + ".log")}));
        ASSERT_TRUE(children.back()->Started());
    }
    for (size_t child = 0; child < children.size(); ++child) {
        ASSERT_TRUE(children[child]->Wait(120));
        EXPECT_EQ(children[child]->ExitCode(), 0) << m_folder.Read("child-" + std::to_string(child) + ".log");
    }
    CUploadJournal journal(JournalPath(), Session());
    EXPECT_EQ(journal.GetUnfinished().size(), static_cast<size_t>(2 * kPictures));
    for (int i = 0; i < 2 * kPictures; ++i) {
        UploadItemInfo item = Item(pictures[i]);
        ASSERT_EQ(journal.Admit(item), CUploadJournal::Admission::Resumed);
        EXPECT_EQ(item.GetImageID(), "img-" + std::to_string(i));
    }
}

TEST_F(UploadJournalTest, AnUnusableFileIsReportedOnceAndUploadsGoOn) {
    std::string notAJournal = m_folder.Put("journal.db", std::string(4096, 'x'));
    std::vector<std::string> reports;
    CUploadJournal journal(notAJournal, Session(),
                           [&reports](const std::string& text) { reports.push_back(text); });
    EXPECT_FALSE(journal.IsWorking());
    UploadItemInfo item = Item(m_folder.PutSized("a.jpg", 10));
    EXPECT_EQ(journal.Admit(item), CUploadJournal::Admission::New);
    journal.Identified(item);
    journal.Forget(item.GetPath());
    EXPECT_TRUE(journal.GetUnfinished().empty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(notAJournal), std::string::npos);
}

#ifndef _WIN32 // the XDG folders are Linux's
TEST(UserFolders, XdgVariablesWinWhenTheyAreAbsolute) {
    std::string saved = getenv("XDG_STATE_HOME") != nullptr ? getenv("XDG_STATE_HOME") : "";
    bool had = getenv("XDG_STATE_HOME") != nullptr;
    setenv("XDG_STATE_HOME", "/var/tmp/state", 1);
    EXPECT_EQ(platform::GetUserFolder(platform::UserFolder::State), "/var/tmp/state");
    EXPECT_EQ(CUploadJournal::DefaultPath(), "/var/tmp/state/pixolane/journal.db");
    setenv("XDG_STATE_HOME", "relative/state", 1);
    setenv("HOME", getenv("HOME") != nullptr ? getenv("HOME") : "/home/someone", 1);
    EXPECT_EQ(platform::GetUserFolder(platform::UserFolder::State),
              std::string(getenv("HOME")) + "/.local/state");
    if (had)
        setenv("XDG_STATE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}
#endif

} // namespace
