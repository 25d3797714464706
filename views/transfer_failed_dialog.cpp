#include "views/transfer_failed_dialog.h"

#include "foundation/string_format.h"
#include "platform/resources.h"
#include "upload/upload_job.h"

namespace {
constexpr uint32_t kStringAdvice = 10086;
}

std::string MakeTransferFailedText(const UploadJob* job) {
    if (job == nullptr)
        return "";
    return platform::LoadStringResource(kStringAdvice).value_or("") + job->GetErrorText();
}

int CTransferFailedDialog::Run(CUIWindow* owner, const UploadJob* job) {
    Create(kTemplateId, owner);
    SetText(SubstituteArgs(GetText(), {job != nullptr ? job->GetFileName() : std::string()}));
    SetItemText(kText, MakeTransferFailedText(job));
    return RunModal();
}
