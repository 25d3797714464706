#include "views/preferences_dialog.h"

#include "foundation/exception.h"
#include "foundation/module_version.h"
#include "foundation/preferences.h"
#include "foundation/string_format.h"
#include "net/system_proxy_settings.h"
#include "platform/resources.h"
#include "ui/application.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

namespace {

constexpr uint32_t kStringLoadError = 10041;
constexpr uint32_t kStringLoadErrorCaption = 10042;
constexpr uint32_t kStringSaveError = 10043;
constexpr uint32_t kStringSaveErrorCaption = 10044;
constexpr uint32_t kStringInputErrorCaption = 10070;
constexpr uint32_t kStringChooserTitle = 10292;
constexpr uint32_t kStringChooserPrompt = 10293;

} // namespace

int CPreferencesDialog::Run(CUIWindow* owner, const std::string& currentBrowseFolder) {
    m_currentBrowseFolder = currentBrowseFolder;
    try {
        LoadPreferences(m_preferences);
    } catch (const CException& error) {
        // Nothing to change: the dialog never shows, and the box belongs to the control's window.
        CUIApplication* app = CUIApplication::Get();
        CUIWindow* mainWindow = app != nullptr ? CUIWindow::FromHandle(app->GetMainWindow()) : nullptr;
        CUIMessageBox(platform::LoadText(kStringLoadErrorCaption),
                      SubstituteArgs(platform::LoadText(kStringLoadError), {error.GetText()}),
                      CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Stop)
            .Show(mainWindow != nullptr ? mainWindow : owner);
        return kResultNotLoaded;
    }
    Create(kTemplateId, owner);
    return RunModal() == ui::kIdOk ? kResultOk : kResultCancel;
}

void CPreferencesDialog::OnInit() {
    std::optional<CFileVersion> version = GetModuleFileVersion();
    SetItemText(kVersion, version ? version->Format() : std::string());

    // The system option describes what the system's own settings say, whatever override is installed.
    SystemProxyDescription system = DescribeSystemProxy(CSystemProxySettings());
    m_systemUsable = system.usable;
    SetItemText(kSystemProxy, SubstituteArgs(GetItemText(kSystemProxy), {system.text}));
    EnableItem(kSystemProxy, m_systemUsable);

    ShowFields(MakeOpeningState(m_preferences, m_currentBrowseFolder, m_systemUsable));
    ApplyFolderEnabling();
    ApplyProxyEnabling();
    // The keyboard starts at the first control, so that the keys work before any click.
    FocusItem(kAutoStart);
}

void CPreferencesDialog::ShowFields(const PreferencesState& state) {
    SetItemChecked(kAutoStart, state.autoStart);
    SetItemChecked(kShowAlert, state.showAlert);
    SetItemChecked(kOldFileDialog, state.oldFileDialog);
    SetItemChecked(state.browseDirSpecified ? kSpecifiedFolder : kLastFolder, true);
    SetItemText(kFolder, state.folder);
    switch (state.proxy) {
    case ProxyChoice::System:
        SetItemChecked(kSystemProxy, true);
        break;
    case ProxyChoice::Manual:
        SetItemChecked(kManualProxy, true);
        break;
    default:
        SetItemChecked(kDirect, true);
        break;
    }
    SetItemText(kAddress, state.address);
    SetItemText(kPort, state.port);
    SetItemText(kUsername, state.username);
    SetItemText(kPassword, state.password);
}

PreferencesState CPreferencesDialog::ReadFields() const {
    PreferencesState state;
    state.autoStart = IsItemChecked(kAutoStart);
    state.showAlert = IsItemChecked(kShowAlert);
    state.oldFileDialog = IsItemChecked(kOldFileDialog);
    state.browseDirSpecified = IsItemChecked(kSpecifiedFolder);
    state.folder = GetItemText(kFolder);
    state.proxy = IsItemChecked(kDirect)        ? ProxyChoice::Direct
                  : IsItemChecked(kSystemProxy) ? ProxyChoice::System
                  : IsItemChecked(kManualProxy) ? ProxyChoice::Manual
                                                : ProxyChoice::None;
    state.address = GetItemText(kAddress);
    state.port = GetItemText(kPort);
    state.username = GetItemText(kUsername);
    state.password = GetItemText(kPassword);
    return state;
}

void CPreferencesDialog::ApplyFolderEnabling() {
    const bool specified = GetEnabling(ReadFields()).folder;
    SetItemReadOnly(kFolder, !specified);
    EnableItem(kBrowse, specified);
}

void CPreferencesDialog::ApplyProxyEnabling() {
    const PreferencesEnabling enabling = GetEnabling(ReadFields());
    for (int id : {kAddressLabel, kAddress, kPortLabel, kPort})
        EnableItem(id, enabling.addressAndPort);
    for (int id : {kUsernameLabel, kUsername, kPasswordLabel, kPassword})
        EnableItem(id, enabling.usernameAndPassword);
}

bool CPreferencesDialog::OnCommand(int id, int notification) {
    if (notification != ui::kBnClicked)
        return CUIDialog::OnCommand(id, notification);
    switch (id) {
    case kDirect:
    case kSystemProxy:
    case kManualProxy:
        ApplyProxyEnabling();
        return true;
    case kLastFolder:
        SetItemText(kFolder, m_currentBrowseFolder);
        ApplyFolderEnabling();
        return true;
    case kSpecifiedFolder:
        ApplyFolderEnabling();
        return true;
    case kBrowse:
        if (std::optional<std::string> folder = ChooseFolder(GetItemText(kFolder)))
            SetItemText(kFolder, *folder);
        return true;
    case ui::kIdOk:
        OnOk();
        return true;
    default:
        return CUIDialog::OnCommand(id, notification);
    }
}

void CPreferencesDialog::OnOk() {
    const PreferencesState state = ReadFields();
    if (std::optional<PreferencesInputError> error = CheckPreferencesInput(state)) {
        CUIMessageBox(platform::LoadText(kStringInputErrorCaption), platform::LoadText(error->textId),
                      CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Exclamation)
            .Show(this);
        FocusItem(error->field == PreferencesInputError::Field::Address ? kAddress : kPort);
        return;
    }
    if (std::optional<std::string> saveError = CommitPreferences(state, m_preferences, m_session)) {
        CUIMessageBox(platform::LoadText(kStringSaveErrorCaption),
                      SubstituteArgs(platform::LoadText(kStringSaveError), {*saveError}),
                      CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Stop)
            .Show(this);
    }
    End(ui::kIdOk);
}

void CPreferencesDialog::FocusItem(int id) {
    if (platform::NativeWindow item = GetItem(id))
        System().SetFocus(item);
}

std::optional<std::string> CPreferencesDialog::ChooseFolder(const std::string& start) {
    CUIFileDialog chooser(platform::LoadText(kStringChooserTitle));
    chooser.SetChooseFolders(true);
    chooser.SetStartFolder(start);
    chooser.SetPrompt(platform::LoadText(kStringChooserPrompt));
    chooser.SetStatusText(&MakeFolderStatusText);
    std::vector<std::string> chosen = chooser.Run(this);
    if (chosen.empty())
        return std::nullopt;
    return chosen.front();
}
