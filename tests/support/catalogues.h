// Installs the module's resources and the error and WinSock catalogues for the tests of one
// executable, as the control does at start-up, and removes them afterwards.
#pragma once

#include "control/resources/module_resources.h"
#include "foundation/exception.h"
#include "foundation/message_table.h"

#include <functional>
#include <string>

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

// The text of the exception that `raise` throws, as a user reads it, or "(nothing raised)".
inline std::string TextOf(const std::function<void()>& raise) {
    try {
        raise();
    } catch (const CException& e) {
        return e.GetText();
    }
    return "(nothing raised)";
}
