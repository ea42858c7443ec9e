// qmtrust: adds a certificate (DER or PEM file) to the local machine's Root store, or checks
// that a server's certificate is trusted. The Wine test bench uses it to trust the CA that each
// test run makes for itself, and to prove it with one HTTPS request before it calls itself ready.
//   qmtrust CERTIFICATE-FILE
//   qmtrust --check BASE-URL     exit 0 when BASE-URL answers over a trusted TLS session
#include "net/Http.h"
#include "base/Text.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace
{
// Only the TLS session and the answer's headers matter, so the body is left unread.
int Check(const std::string& baseUrl)
{
    const auto sent = Net::Send(baseUrl, "GET", "/", L"", {}, 5000,
                                       [](void*) -> std::expected<void, std::string> { return {}; });
    if (!sent)
    {
        std::fprintf(stderr, "qmtrust: %s: %s\n", baseUrl.c_str(), sent.error().text.c_str());
        return 1;
    }
    return 0;
}
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring_view(argv[1]) == L"--check")
    {
        return Check(Text::WideToUtf8(argv[2]));
    }
    if (argc != 2)
    {
        std::fputs("usage: qmtrust CERTIFICATE-FILE | qmtrust --check BASE-URL\n", stderr);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.empty())
    {
        std::fputs("qmtrust: the certificate file cannot be read\n", stderr);
        return 1;
    }

    // PEM is turned into DER; a DER file passes through.
    DWORD size = 0;
    std::vector<BYTE> der;
    if (CryptStringToBinaryA(bytes.data(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                             &size, nullptr, nullptr))
    {
        der.resize(size);
        CryptStringToBinaryA(bytes.data(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &size, nullptr, nullptr);
    }
    else
    {
        der.assign(bytes.begin(), bytes.end());
    }

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr)
    {
        std::fprintf(stderr, "qmtrust: the Root store cannot be opened (Windows error %lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added)
    {
        std::fprintf(stderr, "qmtrust: the certificate was not added (Windows error %lu)\n", error);
        return 1;
    }
    return 0;
}
