#include "control/authorization_listener.h"

#include "foundation/exception.h"
#include "foundation/string_format.h"
#include "platform/resources.h"
#include "ui/application.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

constexpr uint32_t kStringAuthorizationFailed = 10083; // the caption
constexpr uint32_t kStringServerRefused = 10084;
constexpr uint32_t kStringProxyRefused = 10085; // "%1": the exception's own text

void ShowOverMainWindow(const std::string& caption, const std::string& text) {
    CUIApplication* application = CUIApplication::Get();
    CUIWindow* owner = application != nullptr ? CUIWindow::FromHandle(application->GetMainWindow()) : nullptr;
    CUIMessageBox(caption, text, CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Exclamation).Show(owner);
}

} // namespace

CAuthorizationListener::CAuthorizationListener(Poster post, Shower show)
    : m_post(std::move(post)), m_show(show ? std::move(show) : Shower(&ShowOverMainWindow)) {
    if (!m_post) {
        CUIApplication* application = CUIApplication::Get();
        m_post = [application](std::function<void()> call) {
            if (application != nullptr)
                application->PostCall(std::move(call));
        };
    }
}

std::string CAuthorizationListener::TextFor(bool proxy, const CException& error) {
    if (proxy)
        return SubstituteArgs(platform::LoadText(kStringProxyRefused), {error.GetText()});
    return platform::LoadText(kStringServerRefused);
}

void CAuthorizationListener::Report(bool proxy, const CException& error) {
    if (m_reported.exchange(true))
        return;
    // The texts are made here, while the exception exists; the call keeps copies only.
    m_post([show = m_show, caption = platform::LoadText(kStringAuthorizationFailed),
            text = TextFor(proxy, error)] { show(caption, text); });
}
