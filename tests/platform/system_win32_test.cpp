// The small Windows layers over their real calls: message texts, the version record and locale
// names that the User-Agent is made of, thread priorities read back from the system, and the native
// event as a real wait sees it.
#include "control/resources/module_resources.h"
#include "platform/native_event.h"
#include "platform/open_url.h"
#include "platform/resources.h"
#include "platform/system_info.h"
#include "platform/system_message.h"
#include "platform/thread_priority.h"
#include "platform/winsock.h"
#include "upload/user_agent.h"

#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The module's resources as windres put them into this program's image and the system finds them:
// every block whole and byte for byte as the resource compiler wrote it, under its type and id only.
class ModuleImage : public testing::Test {
protected:
    void SetUp() override { platform::SetResourceModule(&PxModuleResources()); }
    void TearDown() override { platform::SetResourceModule(nullptr); }
};

TEST_F(ModuleImage, EveryBlockIsFoundByteForByteUnderItsTypeAndIdOnly) {
    ASSERT_TRUE(PxModuleResources().inImage);
    size_t blocks = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PX_RESOURCE_IMAGE_FOLDER)) {
        // <type>_<id>.bin; the string table (type 6) is read through its own call below.
        unsigned type = 0, id = 0;
        if (std::sscanf(entry.path().filename().string().c_str(), "%u_%u.bin", &type, &id) != 2 || type == 6)
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        auto found = platform::FindModuleResource(static_cast<platform::ResourceType>(type), id);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(std::vector<uint8_t>(found->begin(), found->end()), written);
        // Ids are 16 bits in an image: one past them must not wrap round to this block.
        EXPECT_FALSE(platform::FindModuleResource(static_cast<platform::ResourceType>(type), id + 0x10000));
        ++blocks;
    }
    // Three message tables, the version and the bitmaps at least.
    EXPECT_GE(blocks, 5u);
    EXPECT_FALSE(platform::FindModuleResource(platform::ResourceType::Bitmap, 107)) << "a message table's id";
    EXPECT_FALSE(platform::FindModuleResource(platform::ResourceType::RcData, 0));
}

TEST_F(ModuleImage, StringsComeWholeFromTheImagesTable) {
    EXPECT_EQ(platform::LoadStringResource(10303), "this build has no window yet; 'pxupload upload' works without");
    // Its neighbours in the same block of sixteen are whole too, and a missing one is missing.
    EXPECT_EQ(platform::LoadStringResource(10302),
              "no display: the window needs one (DISPLAY); 'pxupload upload' works without");
    EXPECT_FALSE(platform::LoadStringResource(10303 + 0x10000));
    EXPECT_FALSE(platform::LoadStringResource(65535));
    platform::SetResourceModule(nullptr);
    EXPECT_FALSE(platform::LoadStringResource(10303)) << "no module installed";
}

// The system's own wording is the one to give, whatever it is (Wine words them more briefly than
// Windows): the right number's text, whole, with its line break.
TEST(SystemMessage, TextsComeFromTheSystemWithTheirLineBreak) {
    struct Case {
        uint32_t error;
        const char* word; // in every wording of the text
    } cases[] = {
        {platform::kErrorFileNotFound, "not found"},
        {platform::kErrorAccessDenied, "denied"},
        {static_cast<uint32_t>(platform::kWsaEconnrefused), "refused"},
        {static_cast<uint32_t>(platform::kWsaHostNotFound), "host"},
    };
    for (const Case& c : cases) {
        std::string text = platform::FormatSystemMessage(c.error);
        char system[512] = {};
        DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        c.error, 0, system, sizeof system, nullptr);
        ASSERT_GT(length, 2u) << c.error;
        EXPECT_EQ(text, std::string(system, length)) << c.error;
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << c.error;
        std::string lower;
        for (char ch : text)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lower.find(c.word), std::string::npos) << c.error << ": " << text;
    }
    // COM's registry results are not in every system's table; then our own words stand in.
    EXPECT_NE(platform::FormatSystemMessage(platform::kRegdbEKeyMissing).find("registry"), std::string::npos);
    EXPECT_NE(platform::FormatSystemMessage(platform::kRegdbEInvalidValue).find("registry"), std::string::npos);
    EXPECT_EQ(platform::FormatSystemMessage(0x2000FFFFu), "") << "a number without a text";
}

TEST(SystemInfo, TheRealVersionRecordGivesTheWindowsSystemText) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(::GetVersionExA(&info));
#pragma GCC diagnostic pop
    platform::OsVersionRecord record = platform::GetOsVersion();
    EXPECT_EQ(record.platform, platform::OsPlatform::WindowsNT);
    EXPECT_EQ(record.major, info.dwMajorVersion);
    EXPECT_EQ(record.minor, info.dwMinorVersion);
    EXPECT_EQ(record.build, info.dwBuildNumber);
    EXPECT_EQ(record.servicePack, info.szCSDVersion);
    EXPECT_GE(record.major, 5u);

    std::string text = FormatSystemText(record);
    std::string expected = "win32 Windows";
    EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
    EXPECT_NE(text.find(std::to_string(record.major) + "." + std::to_string(record.minor) + " build " +
                        std::to_string(record.build)),
              std::string::npos)
        << text;
}

TEST(SystemInfo, LocaleNamesAreTheUsersAndFormTheUserAgentsLocale) {
    platform::LocaleNames names = platform::GetUserLocale();
    char iso[16] = {};
    ASSERT_GT(::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, iso, sizeof iso), 0);
    EXPECT_EQ(names.isoLanguage, iso) << "no terminating zero kept in the name";
    EXPECT_FALSE(names.isoCountry.empty());
    EXPECT_EQ(names.abbreviatedLanguage.size(), 3u) << names.abbreviatedLanguage;
    std::string locale = FormatLocale(names);
    ASSERT_GE(locale.size(), 5u) << locale;
    EXPECT_EQ(locale, names.isoLanguage + "_" + names.isoCountry);
    for (char c : names.isoLanguage)
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(c))) << locale;
}

TEST(ThreadPriority, StepsAreTheSystemsPrioritiesReadBack) {
    using platform::ThreadPriority;
    struct Row {
        ThreadPriority step;
        int system;
    } rows[] = {
        {ThreadPriority::Idle, THREAD_PRIORITY_IDLE},
        {ThreadPriority::Lowest, THREAD_PRIORITY_LOWEST},
        {ThreadPriority::BelowNormal, THREAD_PRIORITY_BELOW_NORMAL},
        // Back up again: Windows lets a thread raise itself to normal.
        {ThreadPriority::Normal, THREAD_PRIORITY_NORMAL},
    };
    std::thread([&] {
        for (const Row& row : rows) {
            ASSERT_TRUE(platform::SetCurrentThreadPriority(row.step));
            EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), row.system);
            EXPECT_EQ(platform::GetCurrentThreadNiceValue(), platform::NiceValueFor(row.step));
        }
        // Raised priorities read as the mirror of the lowered ones.
        ASSERT_TRUE(::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL));
        EXPECT_LT(platform::GetCurrentThreadNiceValue(), 0);
    }).join();
}

TEST(NativeEvent, TheHandleIsAManualResetEventThatWaitsSee) {
    platform::NativeEvent event;
    ASSERT_TRUE(event.IsValid());
    HANDLE handle = reinterpret_cast<HANDLE>(event.GetHandle());
    EXPECT_EQ(::WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = ::WaitForSingleObject(handle, 10000) == WAIT_OBJECT_0; });
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke);
    // A wait that saw it set has not cleared it; one reset does.
    EXPECT_TRUE(event.IsSet());
    EXPECT_EQ(::WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_EQ(::WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(OpenUrl, RefusesWhatCannotBeAnAddress) {
    EXPECT_FALSE(platform::OpenURL(""));
    EXPECT_FALSE(platform::OpenURL("-help"));
}

} // namespace
