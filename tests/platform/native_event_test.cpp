// The native event's handle as the system's waits see it, and the CEvent that keeps one in step with itself.
#include "foundation/event.h"
#include "platform/native_event.h"
#include "tests/support/loopback.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

// Whether a wait on the handle ends within the time (readable on Linux, signalled on Windows); -1
// waits for ever.
bool Readable(platform::NativeWaitHandle handle, int timeoutMs = 0) {
    return testsupport::WaitHandleReady(handle, timeoutMs < 0 ? -1.0 : timeoutMs / 1000.0);
}

TEST(NativeEvent, StartsNotSetAndFollowsSetAndReset) {
    platform::NativeEvent event;
    ASSERT_TRUE(event.IsValid());
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(Readable(event.GetHandle()));
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(Readable(event.GetHandle()));
    // Stays readable until reset: reading readiness does not consume it.
    EXPECT_TRUE(Readable(event.GetHandle()));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(Readable(event.GetHandle()));
}

TEST(NativeEvent, ManySetsAreUndoneByOneReset) {
    platform::NativeEvent event;
    for (int i = 0; i < 1000; ++i)
        event.Set();
    event.Reset();
    EXPECT_FALSE(Readable(event.GetHandle()));
    // A reset of a clear event is harmless and leaves it usable.
    event.Reset();
    event.Set();
    EXPECT_TRUE(Readable(event.GetHandle()));
}

TEST(NativeEvent, SetFromAnotherThreadWakesAPoll) {
    platform::NativeEvent event;
    std::atomic<bool> setterRan{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        setterRan = true;
        event.Set();
    });
    // Waits without a limit: only the other thread's set can end it.
    EXPECT_TRUE(Readable(event.GetHandle(), -1));
    EXPECT_TRUE(setterRan);
    setter.join();
}

TEST(CEventNativeHandle, MirrorsTheStateAtCreationAndAfterwards) {
    CEvent initiallySet(true);
    EXPECT_TRUE(Readable(initiallySet.GetNativeWaitHandle()));
    initiallySet.Reset();
    EXPECT_FALSE(Readable(initiallySet.GetNativeWaitHandle()));

    CEvent event;
    platform::NativeWaitHandle handle = event.GetNativeWaitHandle();
    // The handle is made once; asking again gives the same one.
    EXPECT_EQ(handle, event.GetNativeWaitHandle());
    EXPECT_FALSE(Readable(handle));
    event.Set();
    event.Set();
    EXPECT_TRUE(Readable(handle));
    EXPECT_TRUE(event.Lock(0));
    event.Reset();
    EXPECT_FALSE(Readable(handle));
    EXPECT_FALSE(event.Lock(0));
}

TEST(CEventNativeHandle, SetOnAWorkerWakesAPollAndAPortableWaiterAlike) {
    CEvent event;
    platform::NativeWaitHandle handle = event.GetNativeWaitHandle();
    std::thread portableWaiter([&] { EXPECT_TRUE(event.Lock(10)); });
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        event.Set();
    });
    EXPECT_TRUE(Readable(handle, 10000));
    setter.join();
    portableWaiter.join();
}

// Sets and resets racing from two threads never leave the handle and the event disagreeing once
// both are done.
TEST(CEventNativeHandle, RacingSetsAndResetsEndInAgreement) {
    for (int round = 0; round < 20; ++round) {
        CEvent event;
        platform::NativeWaitHandle handle = event.GetNativeWaitHandle();
        std::thread setter([&] {
            for (int i = 0; i < 500; ++i)
                event.Set();
        });
        std::thread resetter([&] {
            for (int i = 0; i < 500; ++i)
                event.Reset();
        });
        setter.join();
        resetter.join();
        EXPECT_EQ(event.IsSet(), Readable(handle)) << "round " << round;
    }
}

} // namespace
