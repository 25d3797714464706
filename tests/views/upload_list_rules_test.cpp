#include "tests/support/catalogues.h"
#include "views/upload_list_rules.h"

#include <gtest/gtest.h>

namespace {

using T = UploadResumeTemplate;

TEST(UploadResumeButton, StartOnlyForAStoppedPausedSessionWithoutAutoStart) {
    EXPECT_EQ(ChooseResumeTemplate(T::Resume, false, true, false), T::Start);
    // Autostart on, or still running: a paused session keeps whatever it showed.
    EXPECT_EQ(ChooseResumeTemplate(T::Resume, false, true, true), T::Resume);
    EXPECT_EQ(ChooseResumeTemplate(T::Start, false, true, true), T::Start);
    EXPECT_EQ(ChooseResumeTemplate(T::Resume, true, true, false), T::Resume);
    EXPECT_EQ(ChooseResumeTemplate(T::Start, true, true, false), T::Start);
    // Not paused: always back to Resume.
    EXPECT_EQ(ChooseResumeTemplate(T::Start, false, false, false), T::Resume);
    EXPECT_EQ(ChooseResumeTemplate(T::Start, true, false, true), T::Resume);
}

TEST(UploadCompletion, OnlyTheEndOfARunCounts) {
    using A = UploadCompletionAction;
    EXPECT_EQ(DecideCompletion(true, false, false), A::PostStatusTask);
    EXPECT_EQ(DecideCompletion(true, false, true), A::ClearCounts);
    EXPECT_EQ(DecideCompletion(false, false, false), A::None); // still stopped
    EXPECT_EQ(DecideCompletion(false, true, false), A::None);  // starting
    EXPECT_EQ(DecideCompletion(true, true, false), A::None);   // still running
    // Paused with pictures still to send: no "Upload complete", no status dialog, counts kept.
    EXPECT_EQ(DecideCompletion(true, false, false, true), A::None);
    EXPECT_EQ(DecideCompletion(true, false, true, true), A::None);
    // The deferred task shows the dialog only if nothing restarted and something happened.
    EXPECT_TRUE(ShouldShowTransferStatus(false, 1, 0));
    EXPECT_TRUE(ShouldShowTransferStatus(false, 0, 2));
    EXPECT_FALSE(ShouldShowTransferStatus(false, 0, 0));
    EXPECT_FALSE(ShouldShowTransferStatus(true, 3, 1));
}

TEST(UploadAutoStart, TurningItOnResumesAndOffPauses) {
    using A = UploadAutoStartAction;
    EXPECT_EQ(DecideAutoStartChange(false, true, true), A::Resume);
    EXPECT_EQ(DecideAutoStartChange(false, true, false), A::None); // already running
    EXPECT_EQ(DecideAutoStartChange(true, false, false), A::Pause);
    EXPECT_EQ(DecideAutoStartChange(true, false, true), A::None); // already paused
    EXPECT_EQ(DecideAutoStartChange(true, true, true), A::None);  // unchanged setting
    EXPECT_EQ(DecideAutoStartChange(false, false, false), A::None);
}

class UploadRemoveQuestion : public CataloguesInstalled {};

TEST_F(UploadRemoveQuestion, CountsOnTheSecondLine) {
    EXPECT_EQ(FormatRemoveQuestion(1), "Are you sure you want to remove\n1 picture?");
    EXPECT_EQ(FormatRemoveQuestion(2), "Are you sure you want to remove\n2 pictures?");
    EXPECT_EQ(FormatRemoveQuestion(0), "Are you sure you want to remove\n0 pictures?");
    EXPECT_EQ(RemoveQuestionCaption(), "Remove?");
}

} // namespace
