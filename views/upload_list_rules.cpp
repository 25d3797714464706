#include "views/upload_list_rules.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

namespace {

constexpr uint32_t kStringRemoveQuestion = 10063; // "Are you sure you want to remove\n%1 %2?"
constexpr uint32_t kStringRemoveCaption = 10034;
constexpr uint32_t kStringPicture = 10037;
constexpr uint32_t kStringPictures = 10038;

} // namespace

UploadResumeTemplate ChooseResumeTemplate(UploadResumeTemplate current, bool running, bool paused,
                                          bool autoStart) {
    if (!running && paused && !autoStart)
        return UploadResumeTemplate::Start;
    if (!paused)
        return UploadResumeTemplate::Resume;
    return current;
}

UploadCompletionAction DecideCompletion(bool wasRunning, bool running, bool alertDone,
                                        bool pausedWithPending) {
    if (!wasRunning || running || pausedWithPending)
        return UploadCompletionAction::None;
    return alertDone ? UploadCompletionAction::ClearCounts : UploadCompletionAction::PostStatusTask;
}

bool ShouldShowTransferStatus(bool running, size_t successes, size_t failures) {
    return !running && (successes != 0 || failures != 0);
}

UploadAutoStartAction DecideAutoStartChange(bool before, bool after, bool paused) {
    if (!before && after && paused)
        return UploadAutoStartAction::Resume;
    if (before && !after && !paused)
        return UploadAutoStartAction::Pause;
    return UploadAutoStartAction::None;
}

std::string FormatRemoveQuestion(size_t count) {
    const std::string number = FormatString("%u", static_cast<unsigned>(count));
    return SubstituteArgs(platform::LoadText(kStringRemoveQuestion),
                          {number, platform::LoadText(count == 1 ? kStringPicture : kStringPictures)});
}

std::string RemoveQuestionCaption() {
    return platform::LoadText(kStringRemoveCaption);
}
