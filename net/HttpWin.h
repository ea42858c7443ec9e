// The WinHTTP pieces of the HTTPS client that tests reach directly. Wine's TLS stack refuses
// a bad certificate with error 12157 and never reports the secure-failure flags of Windows,
// so the path from error 12175, a flag word and the refused certificate to the error text is
// opened here, and so is the choice of TLS versions that some systems refuse.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include "base/Handle.h"
#include "net/Http.h"

#include <cstdint>
#include <expected>
#include <functional>
#include <string>

namespace Net::Detail
{
// A WinHTTP handle (session, connection or request) closed with WinHttpCloseHandle.
using UniqueInternet = UniqueResource<SPointerTraits<HINTERNET, &WinHttpCloseHandle>>;

// A certificate context freed with CertFreeCertificateContext.
using UniqueCertificate = UniqueResource<SPointerTraits<PCCERT_CONTEXT, &CertFreeCertificateContext>>;

// The request's status callback: ORs the flag word of WINHTTP_CALLBACK_STATUS_SECURE_FAILURE
// into the std::uint32_t that the request's context value points at.
void CALLBACK OnSecureFailure(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID information,
                              DWORD length) noexcept;

// Selects TLS 1.2 and 1.3, or TLS 1.2 alone where the first set is refused. `set` stands for
// WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, ...); it returns false with the
// error in GetLastError on failure.
[[nodiscard]] std::expected<void, std::string> SelectProtocols(const std::function<bool(DWORD protocols)>& set);

// The certificate the server presented on this request, if WinHTTP kept one.
[[nodiscard]] UniqueCertificate ServerCertificate(HINTERNET request) noexcept;

// The issuer's organisation of a certificate (or its simple display name when it has none),
// filtered and cut for the player's eyes; empty when there is none or it is refused.
[[nodiscard]] std::string IssuerOrganisation(PCCERT_CONTEXT certificate);

// The failure of a connect, open, send or receive: the TLS failure text and class for 12175
// (with the issuer of `certificate` for an untrusted one), otherwise "no answer", Unrecognised.
// `certificate` is asked for only when the text needs it.
[[nodiscard]] SFailure Failure(DWORD error, std::uint32_t flags, const std::function<UniqueCertificate()>& certificate);
}
#endif
