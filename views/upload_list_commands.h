// The upload list's six commands. Each is registered with the application (which owns it and hands it
// its id), serves as the action of the list's image buttons, and answers the context menu through its
// menu id. The command forwards to the view that made it; once the view has gone it is disabled and
// does nothing, since the application may keep it until it ends itself.
//
// Threads: the UI thread only.
#pragma once

#include "ui/button_command.h"
#include "ui/command.h"

#include <cstdint>

enum class UploadListCommandKind { Properties, Remove, PauseResume, Retry, Preferences, Browse };

constexpr int kUploadListCommandCount = 6;

// What the commands ask of the view.
class IUploadListCommandTarget {
public:
    virtual ~IUploadListCommandTarget() = default;
    virtual bool IsCommandEnabled(UploadListCommandKind kind) const = 0;
    virtual bool IsCommandChecked(UploadListCommandKind kind) const = 0;
    // May do anything, including running modal dialogs.
    virtual void ExecuteCommand(UploadListCommandKind kind) = 0;
};

struct UploadListCommandInfo {
    UploadListCommandKind kind;
    uint32_t name;        // string ids
    uint32_t description; // the tooltip
    int menuId;           // 0: never in a menu
};

// The table of the six, in registration order.
const UploadListCommandInfo& GetUploadListCommandInfo(UploadListCommandKind kind);

class CUploadListCommand : public CUICommand, public IUIButtonCommand {
public:
    CUploadListCommand(UploadListCommandKind kind, IUploadListCommandTarget& target);

    UploadListCommandKind GetKind() const { return m_kind; }
    int GetMenuId() const { return GetUploadListCommandInfo(m_kind).menuId; }
    // The view is going away: from now on the command is disabled.
    void Detach() { m_target = nullptr; }

    bool IsEnabled() const override;
    bool IsChecked() const override;
    void Execute() override;

private:
    UploadListCommandKind m_kind;
    IUploadListCommandTarget* m_target; // borrowed; null once the view has gone
};
