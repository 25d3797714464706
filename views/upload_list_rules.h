// The upload list's decisions that depend only on the session's state and the stored preferences:
// which template the resume button wears, what the end of an upload run leads to, what a change of
// "autostart" does, and the question asked before removing pictures.
#pragma once

#include <cstddef>
#include <string>

enum class UploadResumeTemplate { Resume, Start };

// On each change of the session's state: a stopped, paused session that will not start by itself
// offers Start; a session that is not paused offers Resume; otherwise the button keeps its template.
UploadResumeTemplate ChooseResumeTemplate(UploadResumeTemplate current, bool running, bool paused,
                                          bool autoStart);

enum class UploadCompletionAction {
    None,          // the run has not just ended
    ClearCounts,   // the user asked for no alert: only forget the counts
    PostStatusTask // show the status dialog once the UI thread is free, then forget the counts
};

// Seen at each refresh: what the passage from wasRunning to running calls for. A run the user paused
// with pictures still to send (`pausedWithPending`) has not completed: it calls for nothing, and the
// run that goes on after Resume reports its pictures, those sent before the pause included, at its end.
UploadCompletionAction DecideCompletion(bool wasRunning, bool running, bool alertDone, bool pausedWithPending = false);
// When the deferred task runs: the dialog is still wanted only if the session stayed stopped and at
// least one picture succeeded or failed.
bool ShouldShowTransferStatus(bool running, size_t successes, size_t failures);

enum class UploadAutoStartAction { None, Resume, Pause };

// After the preferences dialog ends with OK: turning "autostart" on resumes a paused session, turning
// it off pauses a running one.
UploadAutoStartAction DecideAutoStartChange(bool before, bool after, bool paused);

// "Are you sure you want to remove\nN picture(s)?"
std::string FormatRemoveQuestion(size_t count);
// "Remove?"
std::string RemoveQuestionCaption();
