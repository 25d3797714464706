// The details of one failed upload: the advice text followed by the item's error reference codes,
// shown modally in template 131 ("Transfer Failed: %1").
//
// Threads: the UI thread only.
#pragma once

#include "ui/dialog.h"

#include <string>

class UploadJob;

// The advice followed by the reference codes the item recorded (`errorText`); nothing without an item.
std::string MakeTransferFailedText(const UploadJob* job);

class CTransferFailedDialog : public CUIDialog {
public:
    static constexpr uint32_t kTemplateId = 131;
    static constexpr int kText = 1021;

    // Modal; `job` may be null (an empty name and an empty text). Returns the code the dialog ended with.
    int Run(CUIWindow* owner, const UploadJob* job);
    // The same for a picture outside the queue: its name and its error's text.
    int Run(CUIWindow* owner, const std::string& name, const std::string& errorText);
};
