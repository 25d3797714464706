#include "views/standard_upload_list_dialogs.h"

#include "foundation/path.h"
#include "platform/resources.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"
#include "upload/upload_job.h"
#include "upload/upload_queue.h"
#include "views/picture_browser_dialog.h"
#include "views/preferences_dialog.h"
#include "views/progress_dialog.h"
#include "views/transfer_failed_dialog.h"

#include <memory>

CStandardUploadListDialogs::CStandardUploadListDialogs(UploadQueue& queue, CTransferStatusStyle style,
                                                       CUIWindow* errorLogOwner)
    : m_queue(queue), m_style(std::move(style)), m_errorLog(errorLogOwner) {}

CStandardUploadListDialogs::~CStandardUploadListDialogs() = default;

void CStandardUploadListDialogs::ShowProperties(CUIWindow& owner, const std::vector<std::string>& paths) {
    m_properties.ShowProperties(&owner, paths);
}

void CStandardUploadListDialogs::ShowTransferFailed(CUIWindow& owner, const std::string& path,
                                                    const std::string& refusal) {
    // Held for the dialog's run: the queue may let the picture go meanwhile (a retry, a removal).
    std::shared_ptr<UploadJob> job = m_queue.Find(path);
    // A refused picture may share its path with the one queued before it.
    if (!refusal.empty()) {
        CTransferFailedDialog().Run(&owner, GetFileName(path), refusal);
        return;
    }
    // A picture that kept no error has nothing to report: the dialog shows an empty name and text.
    if (job != nullptr && job->GetErrorText().empty())
        job.reset();
    CTransferFailedDialog dialog;
    dialog.Run(&owner, job.get());
}

void CStandardUploadListDialogs::RunRemoving(CUIWindow& owner, CUploadSelection& selection) {
    CRemovingDialog().Run(&owner, selection);
}

int CStandardUploadListDialogs::RunTransferStatus(CUIWindow& owner, size_t successes, size_t failures) {
    CTransferStatusDialog dialog(m_style);
    return dialog.Run(&owner, successes, failures);
}

int CStandardUploadListDialogs::RunPreferences(CUIWindow& owner, const std::string& currentBrowseFolder) {
    CQueuePreferencesSession session(m_queue);
    CPreferencesDialog dialog(&session);
    return dialog.Run(&owner, currentBrowseFolder);
}

std::vector<std::string> CStandardUploadListDialogs::ChooseFiles(CUIWindow& owner, std::string& folder,
                                                                 FileChooser kind) {
    if (kind == FileChooser::PictureBrowser) {
        CPictureBrowserDialog browser;
        if (browser.Run(&owner, folder) != ui::kIdOk)
            return {};
        if (!browser.GetLastFolder().empty())
            folder = browser.GetLastFolder();
        return browser.GetChosenPaths();
    }
    CUIFileDialog chooser(platform::LoadText(kStringChooseTitle));
    chooser.SetStartFolder(folder);
    chooser.SetFilters(ParseFileFilters(platform::LoadText(kStringChooseFilters)));
    chooser.SetMultipleSelection(true);
    std::vector<std::string> paths = chooser.Run(&owner);
    // The chooser reports only what was chosen: the folder it ended in is the one the pictures are in.
    if (!paths.empty())
        folder = GetFolder(paths.front());
    return paths;
}
