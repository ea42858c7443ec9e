// The WinHTTP pieces of the HTTPS client that tests reach directly. Wine's TLS stack refuses
// a bad certificate with error 12157 and never reports the secure-failure flags of Windows,
// so the path from error 12175, a flag word and the refused certificate to the error text is
// opened here, and so is the choice of TLS versions that some systems refuse.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <utility>

namespace Auth::Http::Detail
{
// A WinHTTP handle (session, connection or request) closed with WinHttpCloseHandle.
class UniqueInternet
{
public:
    UniqueInternet() noexcept = default;
    explicit UniqueInternet(HINTERNET handle) noexcept : m_handle(handle) {}
    UniqueInternet(UniqueInternet&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueInternet& operator=(UniqueInternet&& other) noexcept
    {
        if (this != &other)
        {
            reset(std::exchange(other.m_handle, nullptr));
        }
        return *this;
    }
    UniqueInternet(const UniqueInternet&) = delete;
    UniqueInternet& operator=(const UniqueInternet&) = delete;
    ~UniqueInternet() { reset(); }

    [[nodiscard]] HINTERNET get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }
    void reset(HINTERNET handle = nullptr) noexcept
    {
        if (m_handle != nullptr)
        {
            WinHttpCloseHandle(m_handle);
        }
        m_handle = handle;
    }

private:
    HINTERNET m_handle = nullptr;
};

// A certificate context freed with CertFreeCertificateContext.
class UniqueCertificate
{
public:
    UniqueCertificate() noexcept = default;
    explicit UniqueCertificate(PCCERT_CONTEXT context) noexcept : m_context(context) {}
    UniqueCertificate(UniqueCertificate&& other) noexcept : m_context(std::exchange(other.m_context, nullptr)) {}
    UniqueCertificate& operator=(UniqueCertificate&& other) noexcept
    {
        if (this != &other)
        {
            reset(std::exchange(other.m_context, nullptr));
        }
        return *this;
    }
    UniqueCertificate(const UniqueCertificate&) = delete;
    UniqueCertificate& operator=(const UniqueCertificate&) = delete;
    ~UniqueCertificate() { reset(); }

    [[nodiscard]] PCCERT_CONTEXT get() const noexcept { return m_context; }
    explicit operator bool() const noexcept { return m_context != nullptr; }
    void reset(PCCERT_CONTEXT context = nullptr) noexcept
    {
        if (m_context != nullptr)
        {
            CertFreeCertificateContext(m_context);
        }
        m_context = context;
    }

private:
    PCCERT_CONTEXT m_context = nullptr;
};

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

// The error text of a failed connect, open, send or receive: the TLS failure text for 12175
// (with the issuer of `certificate` for an untrusted one), otherwise "no answer".
// `certificate` is asked for only when the text needs it.
[[nodiscard]] std::string FailureText(DWORD error, std::uint32_t flags,
                                      const std::function<UniqueCertificate()>& certificate);
}
#endif
