// The upload engine's own failures, as a user reads them from the message tables.
#include "tests/support/catalogues.h"
#include "upload/upload_exception.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace {

using UploadExceptionText = CataloguesInstalled;

// Thrown by value and caught through the base, each family fills its template.
TEST_F(UploadExceptionText, EveryFamilyFillsItsTemplate) {
    struct Case {
        std::function<void()> raise;
        std::string text;
    } cases[] = {
        {[] { throw CPluginAddUploadExistsException("x.jpg"); },
         "The file \"x.jpg\" is currently being uploaded."},
        {[] { throw PxTruncatedUploadException("p.jpg"); },
         "The file \"p.jpg\" is shorter than expected and has probably been changed since it was first "
         "uploaded."},
        {[] { throw PxUploadMessageParameterNotFound("ImageID"); },
         "Internal error: no such response parameter: ImageID"},
        {[] { throw PxNoFileUploadException(); }, "Internal error: no file specified"},
        {[] { throw PxNameUploadException("EUPLOADSERVERID", "up.example"); },
         "Couldn't get a server ID from the server \"up.example\". Please check your proxy settings and/or "
         "network connection then reload this page.\r\n%2"},
        {[] { throw PxUploadException("EUPLOADNOAUTH"); },
         "Not logged in. Please sign out of Pixolane, sign back in, and try your upload again. "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextOf(c.raise), c.text);
}

} // namespace
