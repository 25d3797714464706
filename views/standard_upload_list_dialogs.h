// The dialogs the control plugs into its upload list: the properties dialog (modeless, kept and
// reused), "Transfer Failed" over the error the queue kept for a picture, "Removing...", the
// "Transfer Status" dialog after a run, the preferences over the queue's session, the picture
// browser or the open-file chooser of "Choose pictures...", and the error log that the control
// reports to.
//
// Ownership: the queue is borrowed and outlives this object; the properties dialog and the error log
// belong to it. Threads: the UI thread only, but for the error log's Append (see CErrorLogDialog).
#pragma once

#include "views/error_log_dialog.h"
#include "views/properties_dialog.h"
#include "views/transfer_status_dialog.h"
#include "views/upload_list_dialogs.h"

#include <string>
#include <vector>

class UploadQueue;

class CStandardUploadListDialogs : public IUploadListDialogs {
public:
    // The chooser's title and its filter pairs.
    static constexpr uint32_t kStringChooseTitle = 10049;
    static constexpr uint32_t kStringChooseFilters = 10050;

    // On the UI thread, with the application running.
    explicit CStandardUploadListDialogs(UploadQueue& queue, CTransferStatusStyle style = {},
                                        CUIWindow* errorLogOwner = nullptr);
    ~CStandardUploadListDialogs() override;

    void ShowProperties(CUIWindow& owner, const std::vector<std::string>& paths) override;
    void ShowTransferFailed(CUIWindow& owner, const std::string& path, const std::string& refusal = "") override;
    void RunRemoving(CUIWindow& owner, CUploadSelection& selection) override;
    int RunTransferStatus(CUIWindow& owner, size_t successes, size_t failures) override;
    int RunPreferences(CUIWindow& owner, const std::string& currentBrowseFolder) override;
    std::vector<std::string> ChooseFiles(CUIWindow& owner, std::string& folder,
                                         FileChooser chooser = FileChooser::PictureBrowser) override;

    CPropertiesDialog& GetPropertiesDialog() { return m_properties; }
    CErrorLogDialog& GetErrorLog() { return m_errorLog; }

private:
    UploadQueue& m_queue;
    const CTransferStatusStyle m_style;
    CPropertiesDialog m_properties;
    CErrorLogDialog m_errorLog;
};
