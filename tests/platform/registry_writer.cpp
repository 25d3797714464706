// A second process for the registry tests:
//   registry_writer STORE PORT KEY PREFIX COUNT
// opens the store at STORE, connects to the test on 127.0.0.1:PORT and waits for one byte (the go),
// then stores COUNT values (0: until killed) under HKEY_CURRENT_USER\KEY, one commit each, reporting
// each commit to the test.
#include "tests/platform/registry_writer.h"

#include "platform/registry.h"
#include "platform/system_message.h"
#include "tests/support/loopback.h"

#include <cstdlib>
#include <string>

using namespace platform;
using namespace registry_writer;

int main(int argc, char** argv) {
    if (argc != 6)
        return kUsage;
    const std::string store = argv[1];
    const auto port = static_cast<uint16_t>(std::atoi(argv[2]));
    const std::string keyPath = argv[3];
    const std::string prefix = argv[4];
    const long count = std::atol(argv[5]);

    SetRegistryPath(store);
    testsupport::LoopbackStream test = testsupport::LoopbackStream::Connect(port);
    constexpr double kGoWait = 30.0;
    if (!test.IsOpen() || test.ReceiveExactly(1, kGoWait).size() != 1)
        return kNoGo;

    RegistryHandle key = 0;
    if (CreateRegistryKey(kHKeyCurrentUser, keyPath, kKeyRead | kKeyWrite, &key) != kErrorSuccess)
        return kNoKey;
    for (int32_t i = 0; count == 0 || i < count; ++i) {
        std::string data = ValueText(prefix, i) + '\0';
        if (SetRegistryValue(key, ValueName(prefix, i), kRegSz, reinterpret_cast<const uint8_t*>(data.data()),
                             static_cast<uint32_t>(data.size())) != kErrorSuccess)
            return kSetFailed;
        if (!test.SendAll(EncodeCount(static_cast<uint32_t>(i + 1))))
            return kNoReport;
    }
    CloseRegistryKey(key);
    return 0;
}
