// The catalogues of catalogues.h, the socket library started, and no proxy: what a suite needs to
// make real connections to loopback peers, undone afterwards.
#pragma once

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
