// Installs the module's resources and the error and WinSock catalogues for the tests of one
// executable, as the control does at start-up, and removes them afterwards.
#pragma once

#include "control/resources/module_resources.h"
#include "foundation/message_table.h"

#include <gtest/gtest.h>

class CataloguesInstalled : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetResourceModule(&PxModuleResources());
        SetErrorMessageTable(LoadMessageTable(kErrorMessageTable));
        SetSocketMessageTable(LoadMessageTable(kSocketMessageTable));
        ASSERT_NE(GetErrorMessageTable(), nullptr);
        ASSERT_NE(GetSocketMessageTable(), nullptr);
    }
    void TearDown() override {
        SetSocketMessageTable(nullptr);
        SetErrorMessageTable(nullptr);
        platform::SetResourceModule(nullptr);
    }
};
