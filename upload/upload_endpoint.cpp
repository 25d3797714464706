#include "upload/upload_endpoint.h"

#include "upload/plugin_parameters.h"

UploadEndpoint::UploadEndpoint(std::string server, std::string userAgent, double timeout, bool sendStatistics)
    : d_server(std::move(server)), d_baseURI("http://" + d_server + "/"), d_userAgent(std::move(userAgent)),
      d_timeout(timeout), d_sendStatistics(sendStatistics) {}

UploadEndpoint UploadEndpoint::FromParameters(const PluginParameters& parameters, std::string userAgent) {
    return UploadEndpoint(parameters.d_server, std::move(userAgent), parameters.GetTimeoutSeconds(),
                          parameters.d_sendStats);
}

UploadEndpoint UploadEndpoint::ForServer(const std::string& server) const {
    UploadEndpoint other(server, d_userAgent, d_timeout, d_sendStatistics);
    other.d_listeners = d_listeners;
    other.d_rateLimit = d_rateLimit;
    return other;
}

void UploadEndpoint::SetListener(const std::string& name, std::shared_ptr<CHTTPAuthenticate> authenticator) {
    d_listeners[name] = std::move(authenticator);
}
