#include "net/Http.h"
#include "net/HttpRules.h"

#include <gtest/gtest.h>

using namespace Net;

TEST(TlsFailureTable, FirstSetRowWinsAndUnknownFlagsFallBack)
{
    struct SCase
    {
        std::uint32_t flags;
        const char* text;
        EFailureClass failureClass;
    };
    using enum EFailureClass;
    const SCase cases[] = {
        {0x00000008, "issuer not trusted (WinHTTP error 12175)", Intercepted},
        {0x00000010, "certificate for another name (WinHTTP error 12175)", Intercepted},
        {0x00000020, "certificate not valid at this PC's date (WinHTTP error 12175)", ClockWrong},
        {0x80000000, "no TLS 1.2 or 1.3 in common (WinHTTP error 12175)", Intercepted},
        {0x00000004, "certificate revoked (WinHTTP error 12175)", OtherTls},
        {0x00000002, "certificate invalid (WinHTTP error 12175)", OtherTls},
        // Several flags: the table's order decides, not the bit order.
        {0x00000008 | 0x00000020, "issuer not trusted (WinHTTP error 12175)", Intercepted},
        {0x00000020 | 0x00000010, "certificate for another name (WinHTTP error 12175)", Intercepted},
        {0x00000002 | 0x00000004 | 0x80000000, "no TLS 1.2 or 1.3 in common (WinHTTP error 12175)", Intercepted},
        // CERT_REV_FAILED alone, WRONG_USAGE alone, and no flag at all.
        {0x00000001, "secure connection failed (WinHTTP error 12175)", OtherTls},
        {0x00000040, "secure connection failed (WinHTTP error 12175)", OtherTls},
        {0, "secure connection failed (WinHTTP error 12175)", OtherTls},
    };
    for (const SCase& c : cases)
    {
        const std::string text = SecureFailureText(c.flags, "");
        EXPECT_EQ(text, c.text) << std::hex << c.flags;
        EXPECT_EQ(SecureFailureClass(c.flags), c.failureClass) << text;
    }
}

TEST(TlsFailureTable, OrganisationOnlyWithUntrustedIssuer)
{
    EXPECT_EQ(SecureFailureText(0x08, "Example Corp"), "issuer not trusted: Example Corp (WinHTTP error 12175)");
    EXPECT_EQ(SecureFailureText(0x08 | 0x20, "Example Corp"),
              "issuer not trusted: Example Corp (WinHTTP error 12175)");
    EXPECT_EQ(SecureFailureText(0x10, "Example Corp"), "certificate for another name (WinHTTP error 12175)");
    EXPECT_EQ(SecureFailureText(0x01, "Example Corp"), "secure connection failed (WinHTTP error 12175)");
    EXPECT_TRUE(NeedsIssuer(0x08 | 0x02));
    EXPECT_FALSE(NeedsIssuer(0x10 | 0x20));
    EXPECT_FALSE(NeedsIssuer(0x01));
}

TEST(IssuerText, KeepsPlainNamesAndCutsOnSequenceBoundaries)
{
    EXPECT_EQ(IssuerText("Example Corp"), "Example Corp");
    EXPECT_EQ(IssuerText(""), "");
    EXPECT_EQ(IssuerText("12345678901234567890"), "12345678901234567890");
    EXPECT_EQ(IssuerText("123456789012345678901"), "12345678901234567890");
    // "ü" is two bytes at 19..20: it would cross byte 20, so the cut falls before it.
    EXPECT_EQ(IssuerText("123456789012345678\xC3\xBC"), "123456789012345678\xC3\xBC");
    EXPECT_EQ(IssuerText("1234567890123456789\xC3\xBC"), "1234567890123456789");
    // A four-byte sequence in bytes 17..20 fits; in bytes 18..21 it does not.
    EXPECT_EQ(IssuerText("1234567890123456\xF0\x9F\x94\x92xyz"), "1234567890123456\xF0\x9F\x94\x92");
    EXPECT_EQ(IssuerText("12345678901234567\xF0\x9F\x94\x92"), "12345678901234567");
    EXPECT_EQ(IssuerText("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xA8\xBC\xE6\x98\x8E\xE6\x9B\xB8\xE8\xAA\x8D\xE8\xA8\xBC"),
              "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xA8\xBC\xE6\x98\x8E\xE6\x9B\xB8\xE8\xAA\x8D"); // 7 x 3 bytes -> 6
}

TEST(IssuerText, RefusesControlAndDirectionCharactersAnywhere)
{
    for (const char* name : {"Evil\x01Corp", "Evil\tCorp", "Evil\x7F", "Evil\xC2\x80", "Evil\xC2\x9F",
                             "Evil\xE2\x80\xAA", "Evil\xE2\x80\xAE", "Evil\xE2\x81\xA6", "Evil\xE2\x81\xA9",
                             // past byte 20, where the cut would have hidden it
                             "A very long issuer name\x1B[31m"})
    {
        EXPECT_EQ(IssuerText(name), "") << name;
    }
    // Neighbours of the refused ranges stay.
    EXPECT_EQ(IssuerText("a\xC2\xA0z"), "a\xC2\xA0z");           // U+00A0
    EXPECT_EQ(IssuerText("a\xE2\x80\xA9z"), "a\xE2\x80\xA9z");   // U+2029
    EXPECT_EQ(IssuerText("a\xE2\x81\xAAz"), "a\xE2\x81\xAAz");   // U+206A
    EXPECT_EQ(IssuerText(std::string_view("a\0b", 3)), "");      // U+0000
}

TEST(IssuerText, RefusesInvalidUtf8)
{
    for (const char* name : {"\xC3", "ab\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                             "\xF8\x88\x80\x80\x80", "\x80", "\xFF"})
    {
        EXPECT_EQ(IssuerText(name), "") << name;
    }
}

TEST(RequestPath, DropsEveryTrailingSlashOfTheBase)
{
    EXPECT_EQ(RequestPath(L"/", L"/v1/refresh"), L"/v1/refresh");
    EXPECT_EQ(RequestPath(L"", L"/v1/refresh"), L"/v1/refresh");
    EXPECT_EQ(RequestPath(L"/cdn///", L"/i/x.quillmereindex"), L"/cdn/i/x.quillmereindex");
    EXPECT_EQ(RequestPath(L"/a/b", L"/c"), L"/a/b/c");
    EXPECT_EQ(RequestPath(L"/a//b/", L"/c/"), L"/a//b/c/"); // only the end of the base is trimmed
}

TEST(RangeHeader, ThreeForms)
{
    EXPECT_EQ(RangeHeader(0, 0), "");
    EXPECT_EQ(RangeHeader(100, 0), "Range: bytes=100-\r\n");
    EXPECT_EQ(RangeHeader(100, 50), "Range: bytes=100-149\r\n");
    EXPECT_EQ(RangeHeader(0, 1), "Range: bytes=0-0\r\n");
    EXPECT_EQ(RangeHeader(0, UINT64_MAX), "Range: bytes=0-18446744073709551614\r\n");
    EXPECT_EQ(RangeHeader(1, UINT64_MAX), "Range: bytes=1-18446744073709551615\r\n");
    // The last byte would lie past 2^64 - 1: asked to the end instead of wrapping around.
    EXPECT_EQ(RangeHeader(2, UINT64_MAX), "Range: bytes=2-\r\n");
}

TEST(ContentLength, ShortBodiesAreCaughtOnlyAgainstAReadableLength)
{
    EXPECT_EQ(ParseContentLength("0"), 0u);
    EXPECT_EQ(ParseContentLength("18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"", "18446744073709551616", "-1", "+5", " 5", "5 ", "0x10", "1e3"})
    {
        EXPECT_FALSE(ParseContentLength(bad)) << bad;
    }
    EXPECT_TRUE(CutShort("100000", 50000));
    EXPECT_TRUE(CutShort("1", 0));
    EXPECT_FALSE(CutShort("100000", 100000));
    EXPECT_FALSE(CutShort("", 10));     // no Content-Length (chunked): the end is the end
    EXPECT_FALSE(CutShort("junk", 10));
}
