#include "views/upload_list_commands.h"

#include "platform/resources.h"

#include <array>

namespace {

constexpr std::array<UploadListCommandInfo, kUploadListCommandCount> kCommands{{
    {UploadListCommandKind::Properties, 10023, 10022, 32769},
    {UploadListCommandKind::Remove, 10028, 10027, 32768},
    {UploadListCommandKind::PauseResume, 10030, 10029, 32770},
    {UploadListCommandKind::Retry, 10087, 10088, 0},
    {UploadListCommandKind::Preferences, 10046, 10045, 32771},
    {UploadListCommandKind::Browse, 10048, 10047, 32773},
}};

} // namespace

const UploadListCommandInfo& GetUploadListCommandInfo(UploadListCommandKind kind) {
    return kCommands[static_cast<size_t>(kind)];
}

CUploadListCommand::CUploadListCommand(UploadListCommandKind kind, IUploadListCommandTarget& target)
    : CUICommand(platform::LoadText(GetUploadListCommandInfo(kind).name),
                 platform::LoadText(GetUploadListCommandInfo(kind).description)),
      m_kind(kind), m_target(&target) {}

bool CUploadListCommand::IsEnabled() const {
    return m_target != nullptr && m_target->IsCommandEnabled(m_kind);
}

bool CUploadListCommand::IsChecked() const {
    return m_target != nullptr && m_target->IsCommandChecked(m_kind);
}

void CUploadListCommand::Execute() {
    if (m_target != nullptr)
        m_target->ExecuteCommand(m_kind);
}
