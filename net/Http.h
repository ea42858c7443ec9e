// Net: the launcher's only network client. HTTPS alone over WinHTTP in synchronous
// mode, TLS 1.2 and 1.3, a fresh session for every call and nothing kept between calls, so
// any number of threads may call at once. Every failure is a short English sentence, most
// with the WinHTTP error number: "no answer (WinHTTP error 12029)".
//
//   Request  a request whose whole answer body is returned (the identity service)
//   Fetch    a streaming GET with an optional byte range (the CDN)
//   Send     the sender under both, with the caller's reader of the answer
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Net
{
// The answer of Request, with any status (2xx, 4xx and 5xx alike). The body may hold tokens:
// whoever receives it wipes it with Secure::Wipe before it is freed.
struct SAnswer
{
    std::uint32_t status = 0;
    std::vector<std::uint8_t> body;
};

// The class of a transport failure, for the window's wording.
enum class EFailureClass : std::uint8_t
{
    Unrecognised, // not a recognised TLS failure
    Intercepted,  // the network may be intercepting the connection
    ClockWrong,   // the PC's clock may be wrong
    OtherTls,     // another certificate or TLS failure
};

// A failed call: its text, and its class as WinHTTP reported it where the connection was
// refused. Any other failure (no answer, a cut answer, a timeout) is Unrecognised, which is
// what a plain text converts to.
struct SFailure
{
    std::string text;
    EFailureClass failureClass = EFailureClass::Unrecognised;

    SFailure() = default;
    SFailure(std::string text_, EFailureClass class_ = EFailureClass::Unrecognised)
        : text(std::move(text_)), failureClass(class_)
    {
    }
};

#ifdef _WIN32
// Reads the answer; called with the open WinHTTP request handle (an HINTERNET) once the
// answer headers have arrived.
using AnswerReader = std::function<std::expected<void, std::string>(void* request)>;

// Whether WinHTTP follows a redirect by itself, sending the body again to wherever it points.
enum class ERedirects
{
    Follow,
    Refuse, // a 3xx is the answer
};

// Sends `method` to baseUrl + path. `headers` are extra header lines, each ending in "\r\n".
[[nodiscard]] std::expected<void, SFailure> Send(std::string_view baseUrl, std::string_view method,
                                                 std::string_view path, const std::wstring& headers,
                                                 std::span<const std::uint8_t> body, std::uint32_t receiveTimeoutMs,
                                                 const AnswerReader& reader, ERedirects redirects = ERedirects::Follow);

// The identity service's calls, which carry passwords' proofs and tokens: a redirect is never
// followed (a 3xx comes back as the answer), and the whole call, a server that drips its
// answer included, ends after 15 s at most (plus one 5 s step already begun).
inline constexpr std::uint32_t kRequestDeadlineMs = 15000;

// A non-empty body goes out as "application/json". The answer body is read whole; more than
// maxSize bytes give "the answer is too long". Receive timeout 5 s; past the deadline
// "the answer breaks off (WinHTTP error 12002)".
[[nodiscard]] std::expected<SAnswer, SFailure> Request(std::string_view baseUrl, std::string_view method,
                                                       std::string_view path, std::span<const std::uint8_t> body,
                                                       std::uint64_t maxSize);

// GET with a Range for length > 0 (offset to offset + length - 1) or for offset > 0 alone (to
// the end). Only a 200 or 206 answer's body is streamed to `sink`, in order, in chunks of at
// most 256 KiB, and at least once a second while bytes keep coming however slowly; any other
// status is returned unread, so the caller checks for 200 or 206. `sink` returning false ends
// the transfer with "stopped". Receive timeout 30 s.
//
// A stop on `stop` ends the call at once with "stopped", whatever WinHTTP waits for (the
// answer's headers or more of its body): a stoppable fetch talks to the server from a thread
// of its own, which calls `sink` no more once the caller has left and ends by itself when its
// WinHTTP call returns, by the receive timeout at the latest. `sink` is always called on the
// caller's thread.
[[nodiscard]] std::expected<std::uint32_t, std::string> Fetch(
    std::string_view baseUrl, std::string_view path, std::uint64_t offset, std::uint64_t length,
    const std::function<bool(std::span<const std::uint8_t>)>& sink, std::stop_token stop = {});
#endif
}
