// What the preferences dialog decides, apart from its window: the description of the system's
// proxy, the dialog's state as the stored preferences open it, which fields are enabled, the check of
// the manual proxy, what OK stores and whether the proxy changed, and how a changed proxy reaches the
// running session.
//
// Threads: the UI thread; the functions hold no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class CNameValueDocument;
class CProxySettings;
class UploadQueue;

// The upload session as the preferences dialog sees it: a changed proxy is applied by pausing and
// resuming a running session, so that its connections are made again. Tests and the start-up check
// may give none.
class IPreferencesSession {
public:
    virtual ~IPreferencesSession() = default;
    virtual bool IsPaused() const = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
};

// The queue's session, paused and resumed through the queue so that its observers (the upload list's
// Pause button) hear of it. The queue is borrowed and outlives this object.
class CQueuePreferencesSession : public IPreferencesSession {
public:
    explicit CQueuePreferencesSession(UploadQueue& queue) : m_queue(queue) {}
    bool IsPaused() const override;
    void Pause() override;
    void Resume() override;

private:
    UploadQueue& m_queue;
};

// The caption's %1 of the system-proxy option, and whether the option may be chosen.
struct SystemProxyDescription {
    std::string text;
    bool usable = false;
};

// From what the system's settings say for "http": "<disabled>" when no proxy is enabled,
// "<settings are invalid>" (unusable) for an empty host or a port outside 1 to 65535, else
// "host:port".
SystemProxyDescription DescribeSystemProxy(bool enabled, const std::string& host, int port);
// The same, asking `system` (the system's settings, never the installed override).
SystemProxyDescription DescribeSystemProxy(const CProxySettings& system);

// The radio buttons of the proxy mode, numbered as "proxyState" is.
enum class ProxyChoice { Direct = 0, System = 1, Manual = 2, None = -1 };

// What the dialog's fields hold.
struct PreferencesState {
    bool autoStart = true;
    bool showAlert = true; // the negation of "alertDone"
    bool oldFileDialog = false;
    bool browseDirSpecified = false;
    std::string folder;
    ProxyChoice proxy = ProxyChoice::System;
    std::string address;
    std::string port;
    std::string username;
    std::string password;
};

// The fields as the dialog opens: the stored preferences, the list's current browse folder, and the
// system option replaced by the direct one when it cannot be used.
PreferencesState MakeOpeningState(const CNameValueDocument& preferences,
                                  const std::string& currentBrowseFolder, bool systemProxyUsable);

struct PreferencesEnabling {
    bool folder;              // the folder edit (read-only otherwise) and its Browse button
    bool addressAndPort;      // only for the manual proxy
    bool usernameAndPassword; // for any proxy
};
PreferencesEnabling GetEnabling(const PreferencesState& state);

// A refused input: the text of its box (under the caption "Input Error") and the field to focus.
struct PreferencesInputError {
    enum class Field { Address, Port };
    uint32_t textId;
    Field field;
};
// The manual proxy needs an address, and a port that is empty or from 1 to 65535.
std::optional<PreferencesInputError> CheckPreferencesInput(const PreferencesState& state);

// Writes the fields into the preferences: the folder only while it may be edited, the five proxy
// values only when the mode or one of the four texts differs from what is stored. True when the
// proxy changed.
bool StorePreferencesState(const PreferencesState& state, CNameValueDocument& preferences);

// After the preferences were stored: installs their proxy for new connections and, when the session
// runs, pauses and resumes it so that its connections use it.
void ApplyChangedProxy(const CNameValueDocument& preferences, IPreferencesSession* session);

// OK's work once the input is checked: store, save, and apply a changed proxy (also when saving
// failed: the dialog still ends, and the session follows what the user confirmed). Gives the text of
// the save's error, or nothing.
std::optional<std::string> CommitPreferences(const PreferencesState& state, CNameValueDocument& preferences,
                                             IPreferencesSession* session);

// The folder chooser's status line: the path, cut to its first 34 characters and "..." when it is
// longer than 35.
std::string MakeFolderStatusText(const std::string& path);
