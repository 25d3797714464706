// The "Preferences" dialog (template 129): starting and alerting, the file chooser, the folder the
// picture chooser opens, and how connections reach the internet. It opens from the stored
// preferences, checks a manual proxy before anything is stored, saves on OK and applies a changed
// proxy at once to new connections and to the running session.
//
// Ownership: the session is borrowed for the dialog's life and may be null. Threads: the UI thread.
#pragma once

#include "foundation/name_value_document.h"
#include "ui/dialog.h"
#include "views/preferences_rules.h"

#include <optional>
#include <string>

class CPreferencesDialog : public CUIDialog {
public:
    static constexpr uint32_t kTemplateId = 129;
    static constexpr int kAutoStart = 1018;
    static constexpr int kShowAlert = 1035;
    static constexpr int kOldFileDialog = 1068;
    static constexpr int kLastFolder = 1069;
    static constexpr int kSpecifiedFolder = 1070;
    static constexpr int kFolder = 1071;
    static constexpr int kBrowse = 1072;
    static constexpr int kDirect = 1026;
    static constexpr int kSystemProxy = 1027;
    static constexpr int kManualProxy = 1028;
    static constexpr int kAddressLabel = 1032;
    static constexpr int kAddress = 1029;
    static constexpr int kPortLabel = 1033;
    static constexpr int kPort = 1030;
    static constexpr int kUsernameLabel = 1034;
    static constexpr int kUsername = 1031;
    static constexpr int kPasswordLabel = 1036;
    static constexpr int kPassword = 1037;
    static constexpr int kVersion = 1023;

    // What Run gives.
    static constexpr int kResultNotLoaded = 0;
    static constexpr int kResultOk = 1; // the preferences were stored (and saved, or the user was told)
    static constexpr int kResultCancel = 2;

    explicit CPreferencesDialog(IPreferencesSession* session = nullptr) : m_session(session) {}

    // Modal over `owner`, the folder edit showing `currentBrowseFolder`. When the preferences cannot
    // be loaded the dialog does not open: the error is shown over the application's main window and
    // the result is 0.
    int Run(CUIWindow* owner, const std::string& currentBrowseFolder);

    // Whether the system option could be chosen when the dialog opened.
    bool IsSystemProxyUsable() const { return m_systemUsable; }

protected:
    void OnInit() override;
    bool OnCommand(int id, int notification) override;
    // "B&rowse...": the system's folder chooser, starting at `start`; nothing when cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string& start);

private:
    PreferencesState ReadFields() const;
    void ShowFields(const PreferencesState& state);
    // The folder edit and Browse follow the folder choice; the proxy fields follow the proxy choice.
    void ApplyFolderEnabling();
    void ApplyProxyEnabling();
    void OnOk();
    void FocusItem(int id);

    IPreferencesSession* m_session;
    CNameValueDocument m_preferences;
    std::string m_currentBrowseFolder;
    bool m_systemUsable = false;
};
