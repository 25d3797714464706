#include "views/transfer_failed_dialog.h"

#include "foundation/string_format.h"
#include "platform/resources.h"
#include "upload/upload_job.h"

namespace {
constexpr uint32_t kStringAdvice = 10086;

std::string AdviceText() {
    return platform::LoadStringResource(kStringAdvice).value_or("");
}
} // namespace

std::string MakeTransferFailedText(const UploadJob* job) {
    if (job == nullptr)
        return "";
    return AdviceText() + job->GetErrorText();
}

int CTransferFailedDialog::Run(CUIWindow* owner, const UploadJob* job) {
    if (job == nullptr)
        return Run(owner, "", "");
    return Run(owner, job->GetFileName(), job->GetErrorText());
}

int CTransferFailedDialog::Run(CUIWindow* owner, const std::string& name, const std::string& errorText) {
    Create(kTemplateId, owner);
    SetText(SubstituteArgs(GetText(), {name}));
    SetItemText(kText, errorText.empty() ? std::string() : AdviceText() + errorText);
    return RunModal();
}
