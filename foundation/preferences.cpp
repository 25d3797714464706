#include "foundation/preferences.h"

#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "foundation/string_format.h"
#include "foundation/string_number.h"
#include "platform/file_system.h"
#include "platform/system_message.h"

#include <algorithm>
#include <optional>

namespace {

constexpr const char* kBrowseDir = "browseDir";
constexpr const char* kBrowseDirSpecified = "browsedirspecified";
constexpr const char* kOldFileDialog = "oldfiledialog";
constexpr const char* kAutoStart = "autostart";
constexpr const char* kAlertDone = "alertDone";
constexpr const char* kProxyState = "proxyState";
constexpr const char* kProxyAddress = "proxyAddress";
constexpr const char* kProxyPort = "proxyPort";
constexpr const char* kProxyUsername = "proxyUsername";
constexpr const char* kProxyPassword = "proxyPassword";
constexpr const char* kCurItem = "CurItem";

constexpr int kDefaultProxyPort = 80;
constexpr int kMaxPort = 65535;
constexpr int kMaxColumnOrder = 3; // three columns can be sorted on
constexpr int kMaxColumnWidth = 65535;

constexpr uint32_t kStringProxyAddressMissing = 10071;
constexpr uint32_t kStringProxyPortInvalid = 10072;

constexpr PreferenceDefinition kDefinitions[] = {
    {"browseDir", PreferenceKind::Text, ""},
    {"browsedirspecified", PreferenceKind::Boolean, "false"},
    {"oldfiledialog", PreferenceKind::Boolean, "false"},
    {"autostart", PreferenceKind::Boolean, "true"},
    {"alertDone", PreferenceKind::Boolean, "false"},
    {"proxyState", PreferenceKind::ProxyState, "system"},
    {"proxyAddress", PreferenceKind::Text, ""},
    {"proxyPort", PreferenceKind::Port, ""},
    {"proxyUsername", PreferenceKind::Text, ""},
    {"proxyPassword", PreferenceKind::Text, ""},
    {"columns/nameOrder", PreferenceKind::Order, "0"},
    {"columns/nameWidth", PreferenceKind::Width, "130"},
    {"columns/sizeOrder", PreferenceKind::Order, "0"},
    {"columns/sizeWidth", PreferenceKind::Width, "48"},
    {"columns/statusOrder", PreferenceKind::Order, "0"},
    {"columns/statusWidth", PreferenceKind::Width, "160"},
};

struct ColumnNames {
    const char* order;
    const char* width;
    int defaultWidth;
};

const ColumnNames& NamesOf(UploadListColumn column) {
    static constexpr ColumnNames kColumns[] = {
        {"columns/nameOrder", "columns/nameWidth", 130},
        {"columns/sizeOrder", "columns/sizeWidth", 48},
        {"columns/statusOrder", "columns/statusWidth", 160},
    };
    return kColumns[static_cast<int>(column)];
}

// The stored text of a preference, or null when it is absent. Never raises, whatever the document
// holds: a getter must always be able to fall back to its default.
const std::string* FindStored(const CNameValueDocument& document, std::string_view path) {
    const CNameValueDocument* node = &document;
    if (size_t slash = path.find('/'); slash != std::string_view::npos) {
        auto it = document.GetNodes().find(path.substr(0, slash));
        if (it == document.GetNodes().end())
            return nullptr;
        node = it->second.get();
        path.remove_prefix(slash + 1);
    }
    auto it = node->GetValues().find(path);
    return it != node->GetValues().end() ? &it->second : nullptr;
}

std::string ReadText(const CNameValueDocument& document, const char* name) {
    const std::string* text = FindStored(document, name);
    return text != nullptr ? *text : std::string();
}

bool ReadBoolean(const CNameValueDocument& document, const char* name, bool absent) {
    const std::string* text = FindStored(document, name);
    return text != nullptr ? *text == "true" : absent;
}

bool WriteBoolean(CNameValueDocument& document, const char* name, bool value) {
    return document.SetValue(name, value ? "true" : "false");
}

// A decimal number made of digits only (with an optional "-" when `negative` allows it) that lies
// within [low, high].
bool ParseNumber(std::string_view text, bool negative, int low, int high, int* value) {
    bool minus = negative && !text.empty() && text.front() == '-';
    if (minus)
        text.remove_prefix(1);
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    int64_t number = 0;
    for (char c : text) {
        number = number * 10 + (c - '0');
        if (number > (std::max<int64_t>)(high, -int64_t{low}))
            return false; // out of range either way; stopping here also keeps it from overflowing
    }
    if (minus)
        number = -number;
    if (number < low || number > high)
        return false;
    *value = static_cast<int>(number);
    return true;
}

bool IsValidPort(std::string_view port) {
    int value = 0;
    return port.empty() || ParseNumber(port, false, 1, kMaxPort, &value);
}

int ReadColumnNumber(const CNameValueDocument& document, const char* name, int absent) {
    const std::string* text = FindStored(document, name);
    if (text == nullptr)
        return absent;
    size_t consumed = 0;
    int value = StrToL32(*text, 10, &consumed);
    return consumed != 0 ? value : absent;
}

enum class FolderState { Exists, Gone, Unknown };

// A folder that cannot be examined for another reason (no permission, an I/O error) is neither listed
// nor forgotten: the failure may pass.
FolderState StateOfFolder(const std::string& path) {
    if (path.empty())
        return FolderState::Gone;
    platform::PathProblem problem = platform::PathProblem::Inaccessible;
    std::optional<platform::FileStatus> status = platform::GetFileStatus(path, &problem);
    if (!status)
        return problem == platform::PathProblem::Missing ? FolderState::Gone : FolderState::Unknown;
    return status->isFolder ? FolderState::Exists : FolderState::Gone;
}

std::string RecentName(int slot) {
    return FormatString("Recent%d", slot);
}

} // namespace

void LoadPreferences(CNameValueDocument& document) {
    document.Clear();
    std::optional<CRegistryKey> key;
    try {
        key.emplace(kRootCurrentUser, kPreferencesKey, CRegistryKey::Open::Existing);
    } catch (const CRegistryKeyNotFoundException&) {
        return; // never saved: every preference has its default
    }
    // Loaded aside so that a failure half-way leaves the document empty rather than partial.
    CNameValueDocument loaded;
    LoadDocument(*key, loaded);
    document = std::move(loaded);
}

void SavePreferences(const CNameValueDocument& document) {
    CRegistryKey key(kRootCurrentUser, kPreferencesKey, CRegistryKey::Open::Create);
    SaveDocument(document, key);
}

std::string GetBrowseDir(const CNameValueDocument& document) {
    return ReadText(document, kBrowseDir);
}
bool SetBrowseDir(CNameValueDocument& document, std::string_view folder) {
    return document.SetValue(kBrowseDir, folder);
}

bool GetBrowseDirSpecified(const CNameValueDocument& document) {
    return ReadBoolean(document, kBrowseDirSpecified, false);
}
bool SetBrowseDirSpecified(CNameValueDocument& document, bool specified) {
    return WriteBoolean(document, kBrowseDirSpecified, specified);
}

bool GetOldFileDialog(const CNameValueDocument& document) {
    return ReadBoolean(document, kOldFileDialog, false);
}
bool SetOldFileDialog(CNameValueDocument& document, bool oldDialog) {
    return WriteBoolean(document, kOldFileDialog, oldDialog);
}

bool GetAutoStart(const CNameValueDocument& document) {
    return ReadBoolean(document, kAutoStart, true);
}
bool SetAutoStart(CNameValueDocument& document, bool autoStart) {
    return WriteBoolean(document, kAutoStart, autoStart);
}

bool GetAlertDone(const CNameValueDocument& document) {
    return ReadBoolean(document, kAlertDone, false);
}
bool SetAlertDone(CNameValueDocument& document, bool alertDone) {
    return WriteBoolean(document, kAlertDone, alertDone);
}

int GetProxyState(const CNameValueDocument& document) {
    const std::string* text = FindStored(document, kProxyState);
    if (text == nullptr || text->empty() || *text == "system")
        return kProxyStateSystem;
    return *text == "manual" ? kProxyStateManual : kProxyStateNone;
}

bool SetProxyState(CNameValueDocument& document, int state) {
    const char* text = state == kProxyStateSystem ? "system" : state == kProxyStateManual ? "manual" : "none";
    return document.SetValue(kProxyState, text);
}

std::string GetProxyAddress(const CNameValueDocument& document) {
    return ReadText(document, kProxyAddress);
}
std::string GetProxyPort(const CNameValueDocument& document) {
    return ReadText(document, kProxyPort);
}

int GetProxyPortNumber(const CNameValueDocument& document) {
    std::string port = GetProxyPort(document);
    return port.empty() ? kDefaultProxyPort : StrToL32(port, 10);
}

bool SetProxyAddressAndPort(CNameValueDocument& document, std::string_view address, std::string_view port) {
    bool changed = document.SetValue(kProxyAddress, address);
    return document.SetValue(kProxyPort, port) || changed;
}

std::string GetProxyUsername(const CNameValueDocument& document) {
    return ReadText(document, kProxyUsername);
}
bool SetProxyUsername(CNameValueDocument& document, std::string_view username) {
    return document.SetValue(kProxyUsername, username);
}

std::string GetProxyPassword(const CNameValueDocument& document) {
    return ReadText(document, kProxyPassword);
}
bool SetProxyPassword(CNameValueDocument& document, std::string_view password) {
    return document.SetValue(kProxyPassword, password);
}

int GetColumnOrder(const CNameValueDocument& document, UploadListColumn column) {
    return ReadColumnNumber(document, NamesOf(column).order, 0);
}
bool SetColumnOrder(CNameValueDocument& document, UploadListColumn column, int order) {
    return document.SetValue(NamesOf(column).order, FormatString("%d", order));
}

int GetColumnWidth(const CNameValueDocument& document, UploadListColumn column) {
    const ColumnNames& names = NamesOf(column);
    return ReadColumnNumber(document, names.width, names.defaultWidth);
}
bool SetColumnWidth(CNameValueDocument& document, UploadListColumn column, int width) {
    return document.SetValue(NamesOf(column).width, FormatString("%d", width));
}

std::span<const PreferenceDefinition> GetPreferenceDefinitions() {
    return kDefinitions;
}

const PreferenceDefinition* FindPreferenceDefinition(std::string_view name) {
    for (const PreferenceDefinition& definition : kDefinitions) {
        if (name == definition.name)
            return &definition;
    }
    return nullptr;
}

std::vector<PreferenceSetting> ListPreferences(const CNameValueDocument& document) {
    std::vector<PreferenceSetting> settings;
    for (const PreferenceDefinition& definition : kDefinitions) {
        const std::string* text = FindStored(document, definition.name);
        settings.push_back(
            {definition.name, text != nullptr ? *text : definition.defaultText, text != nullptr});
    }
    return settings;
}

uint32_t GetPreferenceErrorStringId(PreferenceError error) {
    switch (error) {
    case PreferenceError::ProxyAddressMissing:
        return kStringProxyAddressMissing;
    case PreferenceError::BadProxyPort:
        return kStringProxyPortInvalid;
    default:
        return 0;
    }
}

PreferenceError CheckProxySettings(int state, std::string_view address, std::string_view port) {
    if (state != kProxyStateManual)
        return PreferenceError::None;
    if (address.empty())
        return PreferenceError::ProxyAddressMissing;
    return IsValidPort(port) ? PreferenceError::None : PreferenceError::BadProxyPort;
}

PreferenceError CheckPreferenceText(const PreferenceDefinition& definition, std::string_view text) {
    int value = 0;
    switch (definition.kind) {
    case PreferenceKind::Text:
        return PreferenceError::None;
    case PreferenceKind::Boolean:
        return text == "true" || text == "false" ? PreferenceError::None : PreferenceError::NotBoolean;
    case PreferenceKind::ProxyState:
        return text == "system" || text == "manual" || text == "none" ? PreferenceError::None
                                                                      : PreferenceError::BadProxyState;
    case PreferenceKind::Port:
        return IsValidPort(text) ? PreferenceError::None : PreferenceError::BadProxyPort;
    case PreferenceKind::Order:
        return ParseNumber(text, true, -kMaxColumnOrder, kMaxColumnOrder, &value)
                   ? PreferenceError::None
                   : PreferenceError::BadNumber;
    case PreferenceKind::Width:
        return ParseNumber(text, false, 0, kMaxColumnWidth, &value) ? PreferenceError::None
                                                                    : PreferenceError::BadNumber;
    }
    return PreferenceError::None;
}

namespace {

bool IsProxyPreference(std::string_view name) {
    return name == kProxyState || name == kProxyAddress || name == kProxyPort;
}

// After a change to the proxy settings, the settings as a whole must still be usable.
PreferenceError CheckProxyChange(const CNameValueDocument& changed, std::string_view name) {
    if (!IsProxyPreference(name))
        return PreferenceError::None;
    return CheckProxySettings(GetProxyState(changed), GetProxyAddress(changed), GetProxyPort(changed));
}

} // namespace

PreferenceError SetPreference(CNameValueDocument& document, std::string_view name, std::string_view text) {
    const PreferenceDefinition* definition = FindPreferenceDefinition(name);
    if (definition == nullptr)
        return PreferenceError::UnknownName;
    if (PreferenceError error = CheckPreferenceText(*definition, text); error != PreferenceError::None)
        return error;
    CNameValueDocument changed = document;
    changed.SetValue(name, text);
    if (PreferenceError error = CheckProxyChange(changed, name); error != PreferenceError::None)
        return error;
    document = std::move(changed);
    return PreferenceError::None;
}

PreferenceError UnsetPreference(CNameValueDocument& document, std::string_view name) {
    if (FindPreferenceDefinition(name) == nullptr)
        return PreferenceError::UnknownName;
    CNameValueDocument changed = document;
    changed.RemoveValue(name);
    if (PreferenceError error = CheckProxyChange(changed, name); error != PreferenceError::None)
        return error;
    document = std::move(changed);
    return PreferenceError::None;
}

PreferenceError SetStoredPreference(std::string_view name, std::string_view text) {
    CNameValueDocument document;
    LoadPreferences(document);
    if (PreferenceError error = SetPreference(document, name, text); error != PreferenceError::None)
        return error;
    SavePreferences(document);
    return PreferenceError::None;
}

PreferenceError UnsetStoredPreference(std::string_view name) {
    CNameValueDocument document;
    LoadPreferences(document);
    if (PreferenceError error = UnsetPreference(document, name); error != PreferenceError::None)
        return error;
    // Saving never removes anything, so the value is removed from its key directly.
    try {
        CRegistryKey key(kRootCurrentUser, kPreferencesKey, CRegistryKey::Open::Existing);
        size_t slash = name.find('/');
        if (slash == std::string_view::npos) {
            key.RemoveValue(name);
        } else {
            CRegistryKey node(key, name.substr(0, slash), CRegistryKey::Open::Existing);
            node.RemoveValue(name.substr(slash + 1));
        }
    } catch (const CRegistryKeyNotFoundException&) {
        // nothing stored, nothing to remove
    } catch (const CRegistryValueNotRemovedException& e) {
        if (e.GetError() != platform::kErrorFileNotFound)
            throw;
    }
    return PreferenceError::None;
}

std::vector<std::string> LoadRecentFolders() {
    std::vector<std::string> folders;
    try {
        CRegistryKey key(kRootCurrentUser, kRecentItemsKey, CRegistryKey::Open::Existing);
        for (int slot = 0; slot < kRecentFolderValues; ++slot) {
            std::string name = RecentName(slot);
            std::string folder;
            try {
                folder = key.ReadString(name);
            } catch (const CRegistryException&) {
                continue; // a missing (or unreadable) slot is skipped
            }
            switch (StateOfFolder(folder)) {
            case FolderState::Exists:
                folders.push_back(std::move(folder));
                break;
            case FolderState::Gone:
                try {
                    key.RemoveValue(name);
                } catch (const CRegistryException&) {
                    // left for the next load to try again
                }
                break;
            case FolderState::Unknown:
                break;
            }
        }
    } catch (const CRegistryException&) {
        // no recent folders yet, or none readable
    }
    return folders;
}

void SaveRecentFolder(std::string_view folder) {
    if (folder.empty())
        return;
    try {
        CRegistryKey key(kRootCurrentUser, kRecentItemsKey, CRegistryKey::Open::Create);
        int curItem = 0;
        try {
            curItem = key.ReadInteger(kCurItem);
        } catch (const CRegistryException&) {
            curItem = 0;
        }
        // A slot outside the rotation (a value edited by hand) starts the rotation again.
        if (curItem < 0 || curItem >= kRecentFolderSlots)
            curItem = 0;
        std::string target = RecentName(curItem);
        for (int slot = 0; slot < kRecentFolderValues; ++slot) {
            if (slot == curItem)
                continue;
            try {
                if (key.ReadString(RecentName(slot)) == folder)
                    return; // already listed under another slot
            } catch (const CRegistryException&) {
                // an empty slot holds no duplicate
            }
        }
        key.WriteString(target, folder);
        key.WriteString(kCurItem, FormatString("%d", (curItem + 1) % kRecentFolderSlots));
    } catch (const CRegistryException&) {
        // the recent folders are a convenience: a failed write ends the save
    }
}
