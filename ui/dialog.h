// A toolkit window made from a dialog template of the module's resources: its controls are native
// controls found by id. A dialog runs modeless, or modal in a loop of the application's pump that
// disables its owner until it ends. Modal dialogs nest; the process keeps them on one modal stack
// with, for each, the owner it disabled and the window that had the focus before.
//
// Threads: the UI thread only.
#pragma once

#include "platform/window_system.h"
#include "ui/window.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CUIDialog : public CUIWindow {
public:
    CUIDialog();
    ~CUIDialog() override;

    // Modeless, from the template `templateId` of the module's resources. Throws
    // CUIResourceNotFoundException when there is no such template, CUICreateWindowException when the
    // native layer fails.
    void Create(uint32_t templateId, CUIWindow* owner = nullptr);
    void Create(const platform::DialogTemplate& dialog, CUIWindow* owner = nullptr);

    // Runs the created dialog modally and returns the code it ended with.
    int RunModal();
    void End(int code);

    static int GetModalResult();
    static size_t GetModalDepth();
    static bool IsOnModalStack(const CUIDialog* dialog);

    // Controls by id.
    platform::NativeWindow GetItem(int id) const;
    int GetItemId(platform::NativeWindow control) const;
    void SetItemText(int id, const std::string& text);
    std::string GetItemText(int id) const;
    void SetItemChecked(int id, bool checked);
    bool IsItemChecked(int id) const;
    void EnableItem(int id, bool enable);
    // A single-line edit that shows its text but does not let the user change it.
    void SetItemReadOnly(int id, bool readOnly);
    bool IsItemReadOnly(int id) const;

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

protected:
    virtual void OnInit() {}
    virtual void OnEnd(int /*code*/) {}
    // One step of the modal loop: one round of the application's pump.
    virtual void ModalStep();
    // WM_COMMAND from a control; the base ends the dialog on OK and Cancel. True when handled.
    virtual bool OnCommand(int id, int notification);

    void OnAttach() override;
    void OnDetach() override;

private:
    bool IsModalOpen() const;
};

// The binary template that the resource compiler writes, decoded; nothing when it is malformed.
bool DecodeDialogTemplate(std::span<const uint8_t> data, platform::DialogTemplate& dialog);
