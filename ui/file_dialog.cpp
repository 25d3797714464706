#include "ui/file_dialog.h"

#include "ui/application.h"
#include "ui/window.h"

#include <cassert>

namespace {

platform::WindowSystem& UISystem() {
    CUIApplication* app = CUIApplication::Get();
    assert(app != nullptr && app->IsUIThread() && "choosers and the clipboard belong to the UI thread");
    return app->GetWindowSystem();
}

} // namespace

std::vector<std::pair<std::string, std::string>> ParseFileFilters(const std::string& text) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : text) {
        if (c == '\n' || c == '|') {
            fields.push_back(field);
            field.clear();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!field.empty())
        fields.push_back(field);
    std::vector<std::pair<std::string, std::string>> filters;
    for (size_t i = 0; i + 1 < fields.size(); i += 2)
        if (!fields[i + 1].empty())
            filters.emplace_back(fields[i], fields[i + 1]);
    return filters;
}

std::vector<std::string> CUIFileDialog::Run(CUIWindow* owner) const {
    return UISystem().ChooseFiles(owner != nullptr ? owner->GetHandle() : nullptr, m_options);
}

void CUIClipboard::SetText(const std::string& text) {
    UISystem().SetClipboardText(text);
}

std::optional<std::string> CUIClipboard::GetText() {
    return UISystem().GetClipboardText();
}
