// The WinHTTP side without a server: the secure-failure path that Wine cannot produce (error
// 12175 with its flag word and the refused certificate, handed in directly), the TLS version
// fallback, and the refusals that happen before any connection.
#include "net/Http.h"
#include "net/HttpWin.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace Net;
using Detail::UniqueCertificate;

namespace
{
// A certificate whose issuer (and subject) has the given attributes, encoded and decoded by
// CRYPT32 as a server's would be. Its signature is not checked by anything here.
UniqueCertificate MakeCertificate(const std::vector<std::pair<const char*, std::wstring>>& issuer)
{
    std::vector<CERT_RDN_ATTR> attributes;
    for (const auto& [oid, value] : issuer)
    {
        attributes.push_back({const_cast<char*>(oid), CERT_RDN_UTF8_STRING,
                              {static_cast<DWORD>(value.size() * sizeof(wchar_t)),
                               reinterpret_cast<BYTE*>(const_cast<wchar_t*>(value.data()))}});
    }
    std::vector<CERT_RDN> rdns;
    for (CERT_RDN_ATTR& attribute : attributes)
    {
        rdns.push_back({1, &attribute});
    }
    CERT_NAME_INFO name{static_cast<DWORD>(rdns.size()), rdns.data()};
    BYTE* name_bytes = nullptr;
    DWORD name_size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, &name, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                             &name_bytes, &name_size))
    {
        ADD_FAILURE() << "the name does not encode: " << GetLastError();
        return {};
    }

    BYTE serial[] = {0x2A};
    BYTE key[65] = {0x04};
    CERT_INFO info{};
    info.dwVersion = CERT_V3;
    info.SerialNumber = {sizeof(serial), serial};
    info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_ECDSA_SHA256);
    info.Issuer = {name_size, name_bytes};
    info.Subject = {name_size, name_bytes};
    SYSTEMTIME from{2024, 1, 1, 1, 0, 0, 0, 0};
    SYSTEMTIME to{2034, 1, 1, 1, 0, 0, 0, 0};
    SystemTimeToFileTime(&from, &info.NotBefore);
    SystemTimeToFileTime(&to, &info.NotAfter);
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(szOID_ECC_PUBLIC_KEY);
    info.SubjectPublicKeyInfo.PublicKey = {sizeof(key), key, 0};

    BYTE* tbs = nullptr;
    DWORD tbs_size = 0;
    const BOOL encoded = CryptEncodeObjectEx(X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                             CRYPT_ENCODE_ALLOC_FLAG, nullptr, &tbs, &tbs_size);
    LocalFree(name_bytes);
    if (!encoded)
    {
        ADD_FAILURE() << "the certificate does not encode: " << GetLastError();
        return {};
    }
    BYTE signature[64] = {1};
    CERT_SIGNED_CONTENT_INFO signed_info{};
    signed_info.ToBeSigned = {tbs_size, tbs};
    signed_info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_ECDSA_SHA256);
    signed_info.Signature = {sizeof(signature), signature, 0};
    BYTE* der = nullptr;
    DWORD der_size = 0;
    const BOOL done = CryptEncodeObjectEx(X509_ASN_ENCODING, X509_CERT, &signed_info, CRYPT_ENCODE_ALLOC_FLAG,
                                          nullptr, &der, &der_size);
    LocalFree(tbs);
    if (!done)
    {
        ADD_FAILURE() << "the signed certificate does not encode: " << GetLastError();
        return {};
    }
    UniqueCertificate certificate(CertCreateCertificateContext(X509_ASN_ENCODING, der, der_size));
    LocalFree(der);
    EXPECT_TRUE(certificate) << GetLastError();
    return certificate;
}

UniqueCertificate Issuer(std::wstring organisation, std::wstring common_name = L"Some Root")
{
    return MakeCertificate({{szOID_ORGANIZATION_NAME, std::move(organisation)}, {szOID_COMMON_NAME, std::move(common_name)}});
}

// Error 12175 with these flags, the refused certificate being a copy of `certificate`.
SFailure SecureFailure(std::uint32_t flags, PCCERT_CONTEXT certificate, int* asked = nullptr)
{
    return Detail::Failure(ERROR_WINHTTP_SECURE_FAILURE, flags, [&] {
        if (asked != nullptr)
        {
            ++*asked;
        }
        return UniqueCertificate(certificate != nullptr ? CertDuplicateCertificateContext(certificate) : nullptr);
    });
}

constexpr DWORD kInvalidCa = WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA;
}

TEST(SecureFailure, EveryRowWithTheRefusedCertificate)
{
    const UniqueCertificate certificate = Issuer(L"Example Trust Services Ltd");
    ASSERT_TRUE(certificate);
    struct SCase
    {
        DWORD flags;
        const char* text;
        EFailureClass failureClass;
        int asks;
    };
    using enum EFailureClass;
    const SCase cases[] = {
        {kInvalidCa, "issuer not trusted: Example Trust Servic (WinHTTP error 12175)", Intercepted, 1},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "certificate for another name (WinHTTP error 12175)", Intercepted,
         0},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
         "certificate not valid at this PC's date (WinHTTP error 12175)", ClockWrong, 0},
        {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "no TLS 1.2 or 1.3 in common (WinHTTP error 12175)",
         Intercepted, 0},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "certificate revoked (WinHTTP error 12175)", OtherTls, 0},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "certificate invalid (WinHTTP error 12175)", OtherTls, 0},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID | kInvalidCa,
         "issuer not trusted: Example Trust Servic (WinHTTP error 12175)", Intercepted, 1},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "secure connection failed (WinHTTP error 12175)", OtherTls, 0},
        {0, "secure connection failed (WinHTTP error 12175)", OtherTls, 0},
    };
    for (const SCase& c : cases)
    {
        int asked = 0;
        const SFailure failure = SecureFailure(c.flags, certificate.get(), &asked);
        const std::string& text = failure.text;
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(failure.failureClass, c.failureClass) << text;
        EXPECT_EQ(asked, c.asks) << text; // the certificate is looked up only for an untrusted issuer
    }
}

TEST(SecureFailure, IssuerNamesThePlayerMayNotSee)
{
    // A control character or a direction override anywhere hides the whole name.
    EXPECT_EQ(SecureFailure(kInvalidCa, Issuer(L"Evil\x0007 Corp").get()).text, "issuer not trusted (WinHTTP error 12175)");
    EXPECT_EQ(SecureFailure(kInvalidCa, Issuer(L"Bank \x202Eknab").get()).text, "issuer not trusted (WinHTTP error 12175)");
    EXPECT_EQ(SecureFailure(kInvalidCa, Issuer(L"Corp\x0085").get()).text, "issuer not trusted (WinHTTP error 12175)");
    // No certificate at all.
    EXPECT_EQ(SecureFailure(kInvalidCa, nullptr).text, "issuer not trusted (WinHTTP error 12175)");
}

TEST(SecureFailure, IssuerWithoutOrganisationAndLongNames)
{
    const UniqueCertificate common_only = MakeCertificate({{szOID_COMMON_NAME, L"Lonely Root"}});
    EXPECT_EQ(SecureFailure(kInvalidCa, common_only.get()).text, "issuer not trusted: Lonely Root (WinHTTP error 12175)");
    // 19 ASCII bytes and a two-byte letter: the cut falls before the letter.
    EXPECT_EQ(SecureFailure(kInvalidCa, Issuer(L"Zertifizierungsstel\x00FC").get()).text,
              "issuer not trusted: Zertifizierungsstel (WinHTTP error 12175)");
    EXPECT_EQ(SecureFailure(kInvalidCa, Issuer(L"\x65E5\x672C\x8A3C\x660E\x66F8\x8A8D\x8A3C\x5C40").get()).text,
              "issuer not trusted: \xE6\x97\xA5\xE6\x9C\xAC\xE8\xA8\xBC\xE6\x98\x8E\xE6\x9B\xB8\xE8\xAA\x8D "
              "(WinHTTP error 12175)");
}

TEST(SecureFailure, OtherErrorsAreNoAnswer)
{
    int asked = 0;
    const SFailure failure = Detail::Failure(ERROR_WINHTTP_CANNOT_CONNECT, kInvalidCa, [&] {
        ++asked;
        return UniqueCertificate();
    });
    EXPECT_EQ(failure.text, "no answer (WinHTTP error 12029)");
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(failure.failureClass, EFailureClass::Unrecognised);
}

TEST(SecureFailure, CallbackOrsFlagWordsThroughTheContext)
{
    std::atomic<std::uint32_t> flags{0};
    const auto context = reinterpret_cast<DWORD_PTR>(&flags);
    DWORD word = WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED;
    Detail::OnSecureFailure(nullptr, context, WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &word, sizeof(word));
    word = kInvalidCa;
    Detail::OnSecureFailure(nullptr, context, WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &word, sizeof(word));
    EXPECT_EQ(flags.load(), WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED | kInvalidCa);

    word = WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT;
    Detail::OnSecureFailure(nullptr, context, WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &word, 2); // too short
    Detail::OnSecureFailure(nullptr, context, WINHTTP_CALLBACK_STATUS_SENDING_REQUEST, &word, sizeof(word));
    Detail::OnSecureFailure(nullptr, 0, WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &word, sizeof(word));
    EXPECT_EQ(flags.load(), WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED | kInvalidCa);
}

TEST(SelectProtocols, FallsBackToTls12AndFailsWithoutIt)
{
    std::vector<DWORD> tried;
    auto accept_all = [&](DWORD protocols) {
        tried.push_back(protocols);
        return true;
    };
    EXPECT_TRUE(Detail::SelectProtocols(accept_all));
    EXPECT_EQ(tried, (std::vector<DWORD>{0x2800}));

    tried.clear();
    auto refuse_tls13 = [&](DWORD protocols) {
        tried.push_back(protocols);
        SetLastError(ERROR_INVALID_PARAMETER);
        return protocols == 0x800;
    };
    EXPECT_TRUE(Detail::SelectProtocols(refuse_tls13));
    EXPECT_EQ(tried, (std::vector<DWORD>{0x2800, 0x800}));

    auto refuse_all = [](DWORD) {
        SetLastError(ERROR_WINHTTP_INVALID_OPTION);
        return false;
    };
    const auto refused = Detail::SelectProtocols(refuse_all);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "TLS 1.2 is not this machine's (WinHTTP error 12009)");
}

TEST(Send, RefusesWhatIsNotAnHttpsUrlBeforeConnecting)
{
    int read = 0;
    const AnswerReader reader = [&](void*) -> std::expected<void, std::string> {
        ++read;
        return {};
    };
    // Port 1 on loopback has no server: a connection attempt would give "no answer".
    auto plain = Send("http://localhost:1/", "GET", "/v1/status", L"", {}, 5000, reader);
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.error().text, "a Release client speaks HTTPS alone");
    auto plain_request = Request("HTTP://localhost:1", "GET", "/x", {}, 100);
    ASSERT_FALSE(plain_request);
    EXPECT_EQ(plain_request.error().text, "a Release client speaks HTTPS alone");

    // WinHTTP knows no scheme but http and https.
    for (const char* url : {"localhost/x", "", "https://", "ftp://localhost/", "https://bad\xC3(host/"})
    {
        auto broken = Send(url, "GET", "/x", L"", {}, 5000, reader);
        ASSERT_FALSE(broken) << url;
        EXPECT_EQ(broken.error().text.rfind("not a URL (WinHTTP error ", 0), 0u) << broken.error().text;
    }
    EXPECT_EQ(read, 0);

    auto refused = Fetch("https://localhost:1", "/x", 0, 0, [](auto) { return true; });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "no answer (WinHTTP error 12029)");
}
