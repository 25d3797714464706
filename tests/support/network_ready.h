// The catalogues of catalogues.h, the socket library started, and no proxy: what a suite needs to
// make real connections to loopback peers, undone afterwards.
#pragma once

#include "net/http_connection.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/catalogues.h"

#include <memory>

class NetworkReady : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
    }
    void TearDown() override {
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
        CataloguesInstalled::TearDown();
    }
};

// NetworkReady, with the connections' pauses between retries cut to a hundredth, so that suites
// that make connections fail and retry do not wait the real seconds.
class NetworkReadyFastRetries : public NetworkReady {
protected:
    void SetUp() override {
        NetworkReady::SetUp();
        CHTTPConnection::SetRetryPauseScaleForTests(0.01);
    }
    void TearDown() override {
        CHTTPConnection::SetRetryPauseScaleForTests(1.0);
        NetworkReady::TearDown();
    }
};
