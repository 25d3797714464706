#include "views/preferences_rules.h"

#include "foundation/exception.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "foundation/string_format.h"
#include "net/proxy_settings.h"
#include "platform/resources.h"
#include "upload/upload_queue.h"

namespace {

constexpr uint32_t kStringProxyDisabled = 10067; // "<disabled>"
constexpr uint32_t kStringProxyInvalid = 10068;  // "<settings are invalid>"
constexpr uint32_t kStringProxyHostPort = 10069; // "%1:%2"

constexpr int kMaxPort = 65535;
constexpr size_t kStatusTextLimit = 35; // a longer path is cut...
constexpr size_t kStatusTextKept = 34;  // ...to this many characters and "..."

} // namespace

bool CQueuePreferencesSession::IsPaused() const {
    return m_queue.IsPaused();
}
void CQueuePreferencesSession::Pause() {
    m_queue.Pause();
}
void CQueuePreferencesSession::Resume() {
    m_queue.Resume();
}

SystemProxyDescription DescribeSystemProxy(bool enabled, const std::string& host, int port) {
    if (!enabled)
        return {platform::LoadText(kStringProxyDisabled), false};
    if (host.empty() || port < 1 || port > kMaxPort)
        return {platform::LoadText(kStringProxyInvalid), false};
    return {SubstituteArgs(platform::LoadText(kStringProxyHostPort), {host, FormatString("%d", port)}), true};
}

SystemProxyDescription DescribeSystemProxy(const CProxySettings& system) {
    if (!system.IsProxyEnabled("http"))
        return DescribeSystemProxy(false, "", 0);
    int port = 0;
    std::string host = system.GetProxyServer("http", port);
    return DescribeSystemProxy(true, host, port);
}

PreferencesState MakeOpeningState(const CNameValueDocument& preferences,
                                  const std::string& currentBrowseFolder, bool systemProxyUsable) {
    PreferencesState state;
    state.autoStart = GetAutoStart(preferences);
    state.showAlert = !GetAlertDone(preferences);
    state.oldFileDialog = GetOldFileDialog(preferences);
    state.browseDirSpecified = GetBrowseDirSpecified(preferences);
    state.folder = currentBrowseFolder;
    switch (GetProxyState(preferences)) {
    case kProxyStateSystem:
        state.proxy = systemProxyUsable ? ProxyChoice::System : ProxyChoice::Direct;
        break;
    case kProxyStateManual:
        state.proxy = ProxyChoice::Manual;
        break;
    default:
        state.proxy = ProxyChoice::Direct;
        break;
    }
    state.address = GetProxyAddress(preferences);
    state.port = GetProxyPort(preferences);
    state.username = GetProxyUsername(preferences);
    state.password = GetProxyPassword(preferences);
    return state;
}

PreferencesEnabling GetEnabling(const PreferencesState& state) {
    return {state.browseDirSpecified, state.proxy == ProxyChoice::Manual, state.proxy != ProxyChoice::Direct};
}

std::optional<PreferencesInputError> CheckPreferencesInput(const PreferencesState& state) {
    if (state.proxy != ProxyChoice::Manual)
        return std::nullopt;
    PreferenceError error = CheckProxySettings(kProxyStateManual, state.address, state.port);
    switch (error) {
    case PreferenceError::ProxyAddressMissing:
        return PreferencesInputError{GetPreferenceErrorStringId(error),
                                     PreferencesInputError::Field::Address};
    case PreferenceError::BadProxyPort:
        return PreferencesInputError{GetPreferenceErrorStringId(error), PreferencesInputError::Field::Port};
    default:
        return std::nullopt;
    }
}

bool StorePreferencesState(const PreferencesState& state, CNameValueDocument& preferences) {
    SetAutoStart(preferences, state.autoStart);
    SetAlertDone(preferences, !state.showAlert);
    SetOldFileDialog(preferences, state.oldFileDialog);
    SetBrowseDirSpecified(preferences, state.browseDirSpecified);
    if (GetEnabling(state).folder)
        SetBrowseDir(preferences, state.folder);
    // No choice at all counts as the system's settings.
    const int mode = state.proxy == ProxyChoice::None ? kProxyStateSystem : static_cast<int>(state.proxy);
    const bool changed =
        mode != GetProxyState(preferences) || state.address != GetProxyAddress(preferences) ||
        state.port != GetProxyPort(preferences) || state.username != GetProxyUsername(preferences) ||
        state.password != GetProxyPassword(preferences);
    if (!changed)
        return false;
    SetProxyState(preferences, mode);
    SetProxyAddressAndPort(preferences, state.address, state.port);
    SetProxyUsername(preferences, state.username);
    SetProxyPassword(preferences, state.password);
    return true;
}

void ApplyChangedProxy(const CNameValueDocument& preferences, IPreferencesSession* session) {
    ApplyProxyPreferences(preferences);
    if (session == nullptr || session->IsPaused())
        return;
    session->Pause();
    session->Resume();
}

std::optional<std::string> CommitPreferences(const PreferencesState& state, CNameValueDocument& preferences,
                                             IPreferencesSession* session) {
    const bool proxyChanged = StorePreferencesState(state, preferences);
    std::optional<std::string> saveError;
    try {
        SavePreferences(preferences);
    } catch (const CException& error) {
        saveError = error.GetText();
    }
    if (proxyChanged)
        ApplyChangedProxy(preferences, session);
    return saveError;
}

std::string MakeFolderStatusText(const std::string& path) {
    if (path.size() <= kStatusTextLimit)
        return path;
    return path.substr(0, kStatusTextKept) + "...";
}
