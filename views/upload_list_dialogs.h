// The dialogs that the upload list's commands open, as the view asks for them. The view holds one of
// these instead of the dialogs themselves, so that they are built and tested on their own and the
// control object chooses the implementation it plugs in.
#pragma once

#include <string>
#include <vector>

class CUIWindow;
class CUploadSelection;

enum class FileChooser { PictureBrowser, Standard };

class IUploadListDialogs {
public:
    virtual ~IUploadListDialogs() = default;

    // The properties of the pictures at `paths`, modeless.
    virtual void ShowProperties(CUIWindow& owner, const std::vector<std::string>& paths) = 0;
    // "Transfer Failed: NAME" with the error kept for the item at `path`; for a picture that the
    // queue refused, and so keeps nothing of, `refusal` is the error the list showed for it.
    virtual void ShowTransferFailed(CUIWindow& owner, const std::string& path, const std::string& refusal = "") = 0;
    // "Removing...": cancels and removes the selected items one by one, modally.
    virtual void RunRemoving(CUIWindow& owner, CUploadSelection& selection) = 0;
    // "Transfer Status" after a run; 1 for "View pictures", 2 for the other button or closing.
    virtual int RunTransferStatus(CUIWindow& owner, size_t successes, size_t failures) = 0;
    // The preferences dialog, its folder field showing `currentBrowseFolder`; 1 when it ended with OK.
    virtual int RunPreferences(CUIWindow& owner, const std::string& currentBrowseFolder) = 0;
    // Pictures chosen starting in `folder`, with our picture browser or the system's open-file
    // chooser; empty when the user cancelled. `folder` becomes the folder the chooser ended in.
    virtual std::vector<std::string> ChooseFiles(CUIWindow& owner, std::string& folder,
                                                 FileChooser chooser = FileChooser::PictureBrowser) = 0;
};
