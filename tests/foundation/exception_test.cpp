#include "foundation/exception.h"
#include "foundation/message_table.h"
#include "foundation/registry_exception.h"
#include "foundation/ui_exception.h"
#include "platform/last_error.h"
#include "tests/foundation/system_text.h"
#include "tests/support/catalogues.h"

#include <functional>

#include <gtest/gtest.h>

using ExceptionText = CataloguesInstalled;

// Every family's text, as a user sees it, thrown by value and caught through the base.
TEST_F(ExceptionText, EveryFamilyFillsItsTemplate) {
    struct Case {
        std::function<void()> raise;
        std::string text;
    } cases[] = {
        {[] { throw CTimeoutException(); }, "Timed out"},
        {[] { throw CMutexUnavailable(); }, "Can't create mutex"},
        {[] { throw CUIResourceNotFoundException("pxres.dll"); }, "Can't load resource module: pxres.dll"},
        {[] { throw COutOfRangeException(-3); }, "Internal error: index out of range: -3"},
        {[] { throw CRegExpException(14); },
         "Internal error: regular expression error: angle brackets (< >) not balanced (14)"},
        {[] { throw CRegExpException(99); },
         "Internal error: regular expression error: *** unknown regexp error code *** (99)"},
        {[] { throw CFileNotFoundException("/tmp/a b.jpg"); }, "No such file or directory: /tmp/a b.jpg"},
        {[] { throw CDeviceFull("/mnt"); }, "Device is full (accessing /mnt)"},
        {[] { throw CIOException(); }, "I/O error"},
        {[] { throw CCommandBadValueIOException(); }, "Bad value while parsing command"},
        {[] { throw CBadNameValueDocumentPathException("a//b"); }, "Internal error: invalid argument: a//b"},
        {[] { throw CSelectionIDExists("upload"); }, "Already in use"},
        {[] { throw CException("ENOTACODE"); }, "<unknown error: ENOTACODE>"},
        {[] { throw CException(nullptr); },
         "<unknown error>"}, // a null code is "", the catalogue's empty key
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextOf(c.raise), c.text);
}

TEST_F(ExceptionText, SystemErrorFamilies) {
    EXPECT_EQ(CRegistryKeyNotFoundException(2).GetText(),
              "Registry error: " + SystemText(2, "The system cannot find the file specified.") +
                  " (0x00000002)");
    EXPECT_EQ(CRegistryException(0xdeadbeef).GetText(), "Registry error:  (0xdeadbeef)"); // no system text
    EXPECT_EQ(CUIException(1400).GetText(),
              "User interface error: " + SystemText(1400, "Invalid window handle.") + " (1400)");
    platform::SetLastError(1407);
    EXPECT_EQ(CUICreateWindowException().GetText(),
              "User interface error: " + SystemText(1407, "Cannot find window class.") + " (1407)");
    platform::SetLastError(0);
}

TEST_F(ExceptionText, CatalogueFallbacks) {
    // Without "EUNKNOWN" an unknown code reads as the catalogue's empty key.
    auto table = std::make_unique<CMessageTable>();
    table->SetText("", "generic");
    table->SetText("ETIME", "late");
    SetErrorMessageTable(std::move(table));
    EXPECT_EQ(CTimeoutException().GetText(), "late");
    EXPECT_EQ(CIOException().GetText(), "generic");
    EXPECT_EQ(GetUnknownExceptionText(), "generic");

    // An empty text for the empty key is no text.
    table = std::make_unique<CMessageTable>();
    table->SetText("", "");
    SetErrorMessageTable(std::move(table));
    EXPECT_EQ(GetUnknownExceptionText(), "<unknown exception>");
    EXPECT_EQ(CIOException().GetText(), "<unknown exception>");

    SetErrorMessageTable(nullptr);
    EXPECT_EQ(CTimeoutException().GetText(), "<unknown exception>");
    EXPECT_EQ(GetUnknownExceptionText(), "<unknown exception>");
}

TEST_F(ExceptionText, UnknownObjectsReadAsTheEmptyKey) {
    EXPECT_EQ(GetUnknownExceptionText(), "<unknown error>");
}

TEST(CException, CodesAndCopies) {
    CException plain(nullptr);
    EXPECT_STREQ(plain.GetCode(), "");
    CFileNotFoundException original("/tmp/a");
    CFileNotFoundException copy = original;
    EXPECT_STREQ(copy.GetCode(), "ENOENT");
    EXPECT_EQ(copy.Format("<%1>"), "</tmp/a>");
}

TEST(CMutexAbandonedException, LastCopyReleasesOnce) {
    int releases = 0;
    {
        std::shared_ptr<void> release(nullptr, [&](void*) { ++releases; });
        CMutexAbandonedException first(std::move(release));
        {
            CMutexAbandonedException second = first;
            CMutexAbandonedException third(second);
        }
        EXPECT_EQ(releases, 0);
        try {
            throw first;
        } catch (const CException& e) {
            EXPECT_STREQ(e.GetCode(), "EMUTEXABDN");
        }
        EXPECT_EQ(releases, 0);
    }
    EXPECT_EQ(releases, 1);
}
