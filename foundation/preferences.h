// The user's preferences and recently used picture folders, as the current user's registry keeps
// them: loading and saving the preferences document, a typed accessor for every preference with its
// default and stored text, the checks that the preferences dialog and the command line share, and
// the rotation of the recent folders.
//
// The functions hold no state of their own; a document is used by one thread at a time.
#pragma once

#include "foundation/name_value_document.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Keys below HKEY_CURRENT_USER.
constexpr const char* kRegistryBaseKey = "Software\\Pixolane\\UploadPlugin";
constexpr const char* kPreferencesKey = "Software\\Pixolane\\UploadPlugin\\Settings\\Preferences";
constexpr const char* kRecentItemsKey = "Software\\Pixolane\\UploadPlugin\\Settings\\RecentItems";

constexpr int kRecentFolderValues = 10; // "Recent0" to "Recent9" are read
constexpr int kRecentFolderSlots = 9;   // "Recent0" to "Recent8" are written, in rotation

// Replaces the document's contents with the stored preferences. A missing preferences key leaves it
// empty (every preference at its default); every other registry failure is raised, with the document
// left empty.
void LoadPreferences(CNameValueDocument& document);
// Stores every value of the document, creating the keys that are missing.
void SavePreferences(const CNameValueDocument& document);

// --- Typed accessors -----------------------------------------------------------------------------
// Each getter gives the stored value or the default when it is absent; each setter stores the text
// the registry keeps and returns whether the document changed. Booleans are stored as "true" and
// "false" and read as true only from the exact text "true".

std::string GetBrowseDir(const CNameValueDocument& document); // default ""
bool SetBrowseDir(CNameValueDocument& document, std::string_view folder);
bool GetBrowseDirSpecified(const CNameValueDocument& document); // default false
bool SetBrowseDirSpecified(CNameValueDocument& document, bool specified);
bool GetOldFileDialog(const CNameValueDocument& document); // default false
bool SetOldFileDialog(CNameValueDocument& document, bool oldDialog);
bool GetAutoStart(const CNameValueDocument& document); // default true
bool SetAutoStart(CNameValueDocument& document, bool autoStart);
bool GetAlertDone(const CNameValueDocument& document); // default false
bool SetAlertDone(CNameValueDocument& document, bool alertDone);

// Proxy modes, as the dialog and the proxy configuration number them.
enum ProxyState : int {
    kProxyStateNone = 0,   // stored as "none"
    kProxyStateSystem = 1, // stored as "system"; also an absent or empty value
    kProxyStateManual = 2, // stored as "manual"
};
// "manual" gives 2, "system", "" and an absent value 1, any other text 0.
int GetProxyState(const CNameValueDocument& document);
// 1 stores "system", 2 "manual", any other number "none".
bool SetProxyState(CNameValueDocument& document, int state);

std::string GetProxyAddress(const CNameValueDocument& document); // default ""
std::string GetProxyPort(const CNameValueDocument& document);    // the stored text, default ""
// The port to connect to: 80 for an empty text, else the decimal number it starts with (0 for none).
int GetProxyPortNumber(const CNameValueDocument& document);
// The manual proxy's address and port are always set together.
bool SetProxyAddressAndPort(CNameValueDocument& document, std::string_view address, std::string_view port);
std::string GetProxyUsername(const CNameValueDocument& document); // default ""
bool SetProxyUsername(CNameValueDocument& document, std::string_view username);
std::string GetProxyPassword(const CNameValueDocument& document); // default "", kept as plain text
bool SetProxyPassword(CNameValueDocument& document, std::string_view password);

// The upload list's columns, stored in the child node "columns" as "<column>Order" and "<column>Width".
enum class UploadListColumn { Name, Size, Status };
// 1 + the position in the sort order, negative for a descending sort; 0 (the default) for none.
int GetColumnOrder(const CNameValueDocument& document, UploadListColumn column);
bool SetColumnOrder(CNameValueDocument& document, UploadListColumn column, int order);
// In pixels; the defaults are 130 (name), 48 (size) and 160 (status).
int GetColumnWidth(const CNameValueDocument& document, UploadListColumn column);
bool SetColumnWidth(CNameValueDocument& document, UploadListColumn column, int width);

// --- Preferences by name, for the command line and the preferences dialog ------------------------

enum class PreferenceKind { Text, Boolean, ProxyState, Port, Order, Width };

struct PreferenceDefinition {
    const char* name; // a document path: "autostart", "columns/nameWidth"
    PreferenceKind kind;
    const char* defaultText; // what the getter gives when the value is absent, as text
};

// Every preference, in the order a listing shows them.
std::span<const PreferenceDefinition> GetPreferenceDefinitions();
const PreferenceDefinition* FindPreferenceDefinition(std::string_view name);

struct PreferenceSetting {
    std::string name;
    std::string text; // the stored text, or the default's text when nothing is stored
    bool stored;
};
std::vector<PreferenceSetting> ListPreferences(const CNameValueDocument& document);

enum class PreferenceError {
    None,
    UnknownName,
    NotBoolean,          // a boolean must be "true" or "false"
    BadProxyState,       // "system", "manual" or "none"
    BadProxyPort,        // empty, or a number from 1 to 65535
    ProxyAddressMissing, // the manual proxy needs an address
    BadNumber,           // a column's order (-3 to 3) or width (0 to 65535)
};

// The string-table text that the preferences dialog shows for the error, or 0 when it has none.
uint32_t GetPreferenceErrorStringId(PreferenceError error);

// The dialog's check of the proxy fields: in manual mode the address must not be empty and the port
// must be empty or a number from 1 to 65535.
PreferenceError CheckProxySettings(int state, std::string_view address, std::string_view port);
// Whether `text` is acceptable for the preference (its own form only).
PreferenceError CheckPreferenceText(const PreferenceDefinition& definition, std::string_view text);

// Sets or removes one preference in the document after checking it; a change to the proxy settings
// must leave a manual proxy with an address. The document is unchanged when an error is returned.
PreferenceError SetPreference(CNameValueDocument& document, std::string_view name, std::string_view text);
PreferenceError UnsetPreference(CNameValueDocument& document, std::string_view name);

// The same on the stored preferences: load, change, store. Registry failures are raised.
PreferenceError SetStoredPreference(std::string_view name, std::string_view text);
PreferenceError UnsetStoredPreference(std::string_view name);

// --- Recent folders ------------------------------------------------------------------------------

// The stored folders that still exist, in slot order. Values naming folders that no longer exist are
// removed from the registry; registry failures only shorten the list.
std::vector<std::string> LoadRecentFolders();
// Stores the folder in the next slot of the rotation unless another slot already holds exactly that
// text. Registry failures end the save silently.
void SaveRecentFolder(std::string_view folder);
