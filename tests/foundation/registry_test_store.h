// A registry store of its own for each test of the registry and preferences: a fresh file in a
// temporary folder, installed with the error catalogues so that exception texts can be asserted, and
// dropped with the folder when the test ends.
#pragma once

#include "platform/registry.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_temp_folder.h"

#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

class RegistryTestStore : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_temp = std::make_unique<testsupport::ScopedTempFolder>("pxprefs");
        m_folder = m_temp->Path();
        ASSERT_FALSE(m_folder.empty());
        platform::SetRegistryPath(m_folder + "/registry.db");
    }
    void TearDown() override {
        platform::SetRegistryPath("");
        m_temp.reset();
        CataloguesInstalled::TearDown();
    }

    // A store path that cannot be opened on any system: its folder is a file.
    std::string UnopenableStorePath() const {
        std::string blocker = m_temp->Put("blocker", "not a folder");
        return blocker + "/registry.db";
    }

    // Stores a value of any type and bytes directly, as another program could have.
    static void PutRaw(const std::string& keyPath, const std::string& name, uint32_t type,
                       const std::string& bytes) {
        platform::RegistryHandle key = 0;
        ASSERT_EQ(platform::CreateRegistryKey(platform::kHKeyCurrentUser, keyPath,
                                              platform::kKeyRead | platform::kKeyWrite, &key),
                  0u);
        ASSERT_EQ(platform::SetRegistryValue(key, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                             static_cast<uint32_t>(bytes.size())),
                  0u);
        platform::CloseRegistryKey(key);
    }
    // The type and bytes of a stored value; type 0 and "" when it cannot be read.
    static std::pair<uint32_t, std::string> GetRaw(const std::string& keyPath, const std::string& name) {
        platform::RegistryHandle key = 0;
        if (platform::OpenRegistryKey(platform::kHKeyCurrentUser, keyPath, platform::kKeyRead, &key) != 0)
            return {0, ""};
        uint32_t type = 0;
        uint32_t size = 0;
        std::string bytes;
        if (platform::QueryRegistryValue(key, name, &type, nullptr, &size) == 0) {
            bytes.resize(size);
            platform::QueryRegistryValue(key, name, &type, reinterpret_cast<uint8_t*>(bytes.data()), &size);
        } else {
            type = 0;
        }
        platform::CloseRegistryKey(key);
        return {type, bytes};
    }
    static bool KeyExists(const std::string& keyPath) {
        platform::RegistryHandle key = 0;
        if (platform::OpenRegistryKey(platform::kHKeyCurrentUser, keyPath, platform::kKeyRead, &key) != 0)
            return false;
        platform::CloseRegistryKey(key);
        return true;
    }

    std::unique_ptr<testsupport::ScopedTempFolder> m_temp;
    std::string m_folder;
};
