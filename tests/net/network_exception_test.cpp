#include "foundation/message_table.h"
#include "net/network_exception.h"
#include "platform/last_error.h"
#include "tests/support/catalogues.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

const std::string kSupport = "support@pixolane.example";

} // namespace

using NetworkExceptionText = CataloguesInstalled;

// Every network, HTTP and internet-format family's text, as a user sees it, thrown by value and caught
// through the base.
TEST_F(NetworkExceptionText, EveryFamilyFillsItsTemplate) {
    struct Case {
        std::function<void()> raise;
        std::string text;
    } cases[] = {
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
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextOf(c.raise), c.text);
}

TEST_F(NetworkExceptionText, NetworkFormatWithTheWinSockCatalogue) {
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

TEST_F(NetworkExceptionText, HostNamesFillTheSecondPass) {
    EXPECT_EQ(CHostNotFoundException("upload.example").GetText(),
              "Network error: Host not found: please contact Pixolane Customer Service at " + kSupport +
                  " and let us know you are experiencing this. upload.example (11001)");
    EXPECT_EQ(CNoHostDataException("nodata.example").GetText(),
              "Network error: No data for host: please contact Pixolane Customer Service at " + kSupport +
                  " and let us know you are experiencing this. nodata.example (11004)");
    // A host name holding a placeholder is put in once and never read again.
    EXPECT_EQ(CHostNotFoundException("%1").GetText().find("this. %1 (11001)") != std::string::npos, true);
}

TEST_F(NetworkExceptionText, NetworkFormatWithoutWinSockCatalogue) {
    SetSocketMessageTable(nullptr);
    EXPECT_EQ(CSocketConnectionFailedException(10060).GetText(), "Network error:  (10060)");
    // The host pass still runs, on a template whose %1 is already the number.
    EXPECT_EQ(CHostNotFoundException("h").GetText(), "Network error:  (11001)");
}

TEST(NetworkException, CodesAndCopies) {
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
