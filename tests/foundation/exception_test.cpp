#include "foundation/exception.h"
#include "foundation/message_table.h"
#include "foundation/network_exception.h"
#include "foundation/registry_exception.h"
#include "foundation/ui_exception.h"
#include "platform/last_error.h"
#include "tests/support/catalogues.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

const std::string kSupport = "support@pixolane.example";

std::string TextOf(const std::function<void()>& raise) {
    try {
        raise();
    } catch (const CException& e) {
        return e.GetText();
    }
    return "(nothing raised)";
}

} // namespace

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
        {[] { throw CInternetBadDateException("Sun, 32 Foo"); }, "Invalid date: Sun, 32 Foo"},
        {[] { throw CInternetBadEncodingException("%zz"); }, "Improperly encoded string: %zz"},
        {[] { throw CHTTPInvalidURIException("ftp://x"); }, "Invalid HTTP URI: ftp://x"},
        {[] { throw CHTTPNoHeaderException("Location"); }, "No such header: Location"},
        {[] { throw CHTTPBadHeaderException("X-A\r\nB"); }, "Internal error: invalid HTTP header: X-A\r\nB"},
        {[] { throw CHTTPConnectionShutdownException(); }, "HTTP connection object was shut down"},
        {[] { throw CHTTPResponseTooBigException(); }, "HTTP response was too big"},
        {[] { throw CHTTPAuthNoAuthenticatorException("Digest"); },
         "Unknown HTTP authentication scheme (Digest). Please verify your proxy settings or try the simple "
         "upload page instead."},
        {[] { throw CHTTPResponseAuthInvalidChallenge("Basic realm"); },
         "Invalid HTTP authentication challenge (Basic realm); please verify your proxy settings. If this "
         "persists, please contact Pixolane Customer Service at " +
             kSupport + "."},
        // Not in the catalogue: the "<unknown error: ...>" entry names the code.
        {[] { throw CHTTPMicrosoftSSPIAuthenticateNoScheme("NTLM"); }, "<unknown error: EHTTPAUTHSCHEME>"},
        {[] { throw CException("ENOTACODE"); }, "<unknown error: ENOTACODE>"},
        {[] { throw CException(nullptr); },
         "<unknown error>"}, // a null code is "", the catalogue's empty key
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextOf(c.raise), c.text);
}

TEST_F(ExceptionText, NetworkFormatWithTheWinSockCatalogue) {
    EXPECT_EQ(CSocketConnectionFailedException(10061).GetText(),
              "Network error: The connection was refused by the remote host. Please check your proxy "
              "configuration or try again later; if this persists, please contact Pixolane Customer Service "
              "at " +
                  kSupport + ". (10061)");
    EXPECT_EQ(CSocketNotConnectedException().GetText(), "Network error: Socket is not connected (10057)");
    EXPECT_EQ(CNetworkUnavailableException().GetText(), "WinSock is not available");
    // An ENET raised without a number shows its template literally.
    EXPECT_EQ(CNetworkException(0).GetText(), "Network error: %2 (%1)");
    // A number the catalogue does not know stands for itself.
    EXPECT_EQ(CSocketException(12345).GetText(), "Network error: 12345 (12345)");
    // The thread's last WinSock error, when none is given.
    platform::SetLastSocketError(10054);
    EXPECT_EQ(CSocketException().GetError(), 10054);
    platform::SetLastSocketError(0);
}

TEST_F(ExceptionText, HostNamesFillTheSecondPass) {
    EXPECT_EQ(CHostNotFoundException("upload.example").GetText(),
              "Network error: Host not found: please contact Pixolane Customer Service at " + kSupport +
                  " and let us know you are experiencing this. upload.example (11001)");
    EXPECT_EQ(CNoHostDataException("nodata.example").GetText(),
              "Network error: No data for host: please contact Pixolane Customer Service at " + kSupport +
                  " and let us know you are experiencing this. nodata.example (11004)");
    // A host name holding a placeholder is put in once and never read again.
    EXPECT_EQ(CHostNotFoundException("%1").GetText().find("this. %1 (11001)") != std::string::npos, true);
}

TEST_F(ExceptionText, NetworkFormatWithoutWinSockCatalogue) {
    SetSocketMessageTable(nullptr);
    EXPECT_EQ(CSocketConnectionFailedException(10060).GetText(), "Network error:  (10060)");
    // The host pass still runs, on a template whose %1 is already the number.
    EXPECT_EQ(CHostNotFoundException("h").GetText(), "Network error:  (11001)");
}

TEST_F(ExceptionText, SystemErrorFamilies) {
    EXPECT_EQ(CRegistryKeyNotFoundException(2).GetText(),
              "Registry error: The system cannot find the file specified.\r\n (0x00000002)");
    EXPECT_EQ(CRegistryException(0xdeadbeef).GetText(), "Registry error:  (0xdeadbeef)"); // no system text
    EXPECT_EQ(CUIException(1400).GetText(), "User interface error: Invalid window handle.\r\n (1400)");
    platform::SetLastError(1407);
    EXPECT_EQ(CUICreateWindowException().GetText(),
              "User interface error: Cannot find window class.\r\n (1407)");
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
    CHTTPInvalidURIException original("http://a/");
    CHTTPInvalidURIException copy = original;
    EXPECT_STREQ(copy.GetCode(), "EHTTPBADURI");
    EXPECT_EQ(copy.Format("<%1>"), "<http://a/>");
    // The restartable family is what the connection retries on.
    try {
        throw CHTTPUnexpectedEndOfResponseException();
    } catch (const CHTTPRestartableResponseException& e) {
        EXPECT_STREQ(e.GetCode(), "EHTTPRPLYTRUNC");
    }
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
