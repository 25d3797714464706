// The host program of a build without the window toolkit (Windows, until its user interface
// exists): every command but the window works, and asking for the window says so.
#include "apps/pxupload/host_window.h"

#include "apps/pxupload/host_texts.h"

#include <iostream>

namespace {

constexpr int kExitUsage = 2;
constexpr uint32_t kStringNoWindowInBuild = 10303;

} // namespace

bool CanRunHostWindow() {
    return false;
}

int RunHostWindow(const PluginParameters&, const PageObjectSize&, const std::vector<std::string>&, uint64_t) {
    std::cerr << "pxupload: " << HostText(kStringNoWindowInBuild) << "\n";
    return kExitUsage;
}
