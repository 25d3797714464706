#include "upload/upload_engine.h"

#include "foundation/exception.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "net/http_basic_authenticate.h"
#include "net/http_sspi_authenticate.h"
#include "net/proxy_settings.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_commands.h"
#include "upload/user_agent.h"

PxUploadEngine::PxUploadEngine(const PluginParameters& parameters, UploadQueue::PictureTest isPicture,
                               AuthorizationReport report, CCommandRegistry& registry)
    : d_report(std::move(report)) {
    d_basic = std::make_shared<CHTTPBasicAuthenticate>();
    CHTTPBasicAuthenticate::ReceiveProxyCredentials(d_basic);
    CNameValueDocument preferences;
    try {
        LoadPreferences(preferences);
    } catch (const CException&) {
        // Unreadable preferences leave the defaults.
    }
    ApplyProxyPreferences(preferences);

    d_endpoint = UploadEndpoint::FromParameters(parameters, BuildUserAgent(parameters));
    d_endpoint.SetListener("Basic", d_basic);
    try {
        d_endpoint.SetListener("NTLM", std::make_shared<CHTTPNTLMAuthenticate>());
    } catch (const CException&) {
        // No security package on this system: NTLM challenges go unanswered.
    }
    d_endpoint.SetAuthorizationListener([this](bool proxy, const CException& error) {
        // Told once, as the control's message box is shown once.
        if (!d_authorizationReported.exchange(true) && d_report)
            d_report(proxy, error);
    });

    d_queue = std::make_unique<UploadQueue>(parameters, d_endpoint, std::move(isPicture));
    d_selection = std::make_unique<CUploadSelection>("upload", *d_queue);
    RegisterUploadCommands(registry);
}

PxUploadEngine::~PxUploadEngine() {
    // No sender thread may run while the queue and its session go.
    if (d_queue)
        d_queue->Pause();
    d_selection.reset();
    d_queue.reset();
}
