// The parts of the HTTPS client that need no network: the TLS failure table and its texts,
// the issuer name shown for a refused certificate, the request path and the Range header.
// Free of the Windows API, so they are tested natively and fuzzed.
#pragma once

#include "net/Http.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Net
{
// The WinHTTP error of a refused TLS connection (ERROR_WINHTTP_SECURE_FAILURE).
inline constexpr unsigned long kSecureFailureError = 12175;

// A TLS failure's text and what the player is told about it.
struct STlsFailure
{
    std::uint32_t flag; // WINHTTP_CALLBACK_STATUS_FLAG_...
    std::string_view text;
    EFailureClass failureClass;
};

// Searched in this order; the first row whose flag is set names the failure.
inline constexpr std::array<STlsFailure, 6> kTlsFailures{{
    {0x00000008, "issuer not trusted", EFailureClass::Intercepted},                     // INVALID_CA
    {0x00000010, "certificate for another name", EFailureClass::Intercepted},           // CERT_CN_INVALID
    {0x00000020, "certificate not valid at this PC's date", EFailureClass::ClockWrong}, // CERT_DATE_INVALID
    {0x80000000, "no TLS 1.2 or 1.3 in common", EFailureClass::Intercepted},            // SECURITY_CHANNEL_ERROR
    {0x00000004, "certificate revoked", EFailureClass::OtherTls},                       // CERT_REVOKED
    {0x00000002, "certificate invalid", EFailureClass::OtherTls},                       // INVALID_CERT
}};
inline constexpr std::uint32_t kInvalidCaFlag = 0x00000008;
inline constexpr std::string_view kSecureFallbackText = "secure connection failed";

// The first row whose flag is set in the call's secure-failure flags, or null.
[[nodiscard]] const STlsFailure* FindTlsFailure(std::uint32_t flags) noexcept;

// The class of a refusal with these secure-failure flags: the first set row's, or OtherTls.
[[nodiscard]] EFailureClass SecureFailureClass(std::uint32_t flags) noexcept;

// Whether the issuer's organisation is needed to word these flags (only "issuer not trusted").
[[nodiscard]] bool NeedsIssuer(std::uint32_t flags) noexcept;

// The error text of WinHTTP error 12175 for the secure-failure flags. `organisation` is the
// refused certificate's issuer as IssuerText made it; it is shown with "issuer not trusted" only.
[[nodiscard]] std::string SecureFailureText(std::uint32_t flags, std::string_view organisation);

// The issuer name as the player may see it: a name that is not valid UTF-8 or holds a control
// character (below U+0020, U+007F to U+009F) or a bidirectional override or isolate
// (U+202A to U+202E, U+2066 to U+2069) gives an empty text; a kept name is cut to at most
// 20 bytes, before the UTF-8 sequence that would cross byte 20.
[[nodiscard]] std::string IssuerText(std::string_view name);

// The URL path of the base URL without any trailing "/", followed by the operation's path.
[[nodiscard]] std::wstring RequestPath(std::wstring_view urlPath, std::wstring_view path);

// The value of a Content-Length header: decimal digits alone, at most 2^64 - 1.
[[nodiscard]] std::optional<std::uint64_t> ParseContentLength(std::string_view value) noexcept;

// Whether an answer whose body ended after `received` bytes fell short of its Content-Length
// (absent or unreadable: the end of the body is its end). A connection cut in mid-body must
// not pass for a whole answer.
[[nodiscard]] bool CutShort(std::string_view content_length, std::uint64_t received) noexcept;

// "Range: bytes={}-{}\r\n" for a length, "Range: bytes={}-\r\n" for an offset alone, and no
// header when both are 0. A range whose last byte would lie past 2^64 - 1 is asked to the end.
[[nodiscard]] std::string RangeHeader(std::uint64_t offset, std::uint64_t length);
}
