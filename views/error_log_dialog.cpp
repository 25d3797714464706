#include "views/error_log_dialog.h"

#include "ui/application.h"
#include "ui/messages.h"

CErrorLogDialog::CErrorLogDialog(CUIWindow* owner)
    : m_app(CUIApplication::Get()), m_owner(owner), m_alive(std::make_shared<bool>(true)) {}

CErrorLogDialog::~CErrorLogDialog() {
    *m_alive = false;
}

void CErrorLogDialog::Append(const std::string& text) {
    {
        std::lock_guard lock(m_lock);
        m_log += text;
        m_log += "\r\n";
        if (m_refreshPosted)
            return;
        m_refreshPosted = true;
    }
    if (m_app == nullptr)
        return;
    std::shared_ptr<bool> alive = m_alive;
    m_app->PostCall([this, alive] {
        if (*alive)
            ShowLog();
    });
}

std::string CErrorLogDialog::GetLog() const {
    std::lock_guard lock(m_lock);
    return m_log;
}

void CErrorLogDialog::ShowLog() {
    std::string log;
    {
        std::lock_guard lock(m_lock);
        m_refreshPosted = false;
        log = m_log;
    }
    if (GetHandle() == nullptr)
        Create(kTemplateId, m_owner);
    SetItemText(kLog, log);
    Show(true);
}

bool CErrorLogDialog::OnCommand(int id, int notification) {
    // Modeless and kept: closing only hides it.
    if (notification == ui::kBnClicked && (id == ui::kIdOk || id == ui::kIdCancel)) {
        Show(false);
        return true;
    }
    return CUIDialog::OnCommand(id, notification);
}
