// The hand-off between the launcher and the game client: two anonymous pipes that the client
// inherits, its command line, and the records they carry.
//
//   client command line   "C:\...\Client\QuillmereClient.exe" --launcher 1a4,1b0
//                         (reply pipe's read end, request pipe's write end, hexadecimal)
//   request, 4 bytes      byte 0: 1 = send a one-time code; bytes 1..3 not examined
//   reply, 40 bytes       byte 0: reply code; 1..3 zero; 4..7 seconds to wait (little-endian,
//                         code 4 only); 8..39 the one-time code (code 1 only), else zero
//
// Free of Windows: the pipe ends come in as read and write functions, so the launcher and
// the client share these rules and the tests run them natively.
#pragma once

#include "auth/SignIn.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace Game
{
inline constexpr std::size_t kRequestSize = 4;
inline constexpr std::size_t kReplySize = 40;
inline constexpr std::uint8_t kCodeRequest = 1;

enum class EReply : std::uint8_t
{
    Code = 1,        // the one-time code follows
    NoSignIn = 2,    // Unauthorised or SignedOut: there is no usable sign-in
    Unreachable = 3, // the identity service gave no answer
    Wait = 4,        // Limited: ask again after the seconds at offset 4
    Refused = 5,     // anything else, an unknown request, or the launcher is shutting down
};

using HandOffReply = std::array<std::uint8_t, kReplySize>;

// The reply to a code request from the exchange's outcome.
[[nodiscard]] HandOffReply ReplyFor(const Auth::SLoginOutcome& outcome) noexcept;

// The fields of a reply as the client reads them.
[[nodiscard]] std::uint8_t ReplyCode(const HandOffReply& reply) noexcept;
[[nodiscard]] std::uint32_t ReplyWaitSeconds(const HandOffReply& reply) noexcept;
[[nodiscard]] std::span<const std::uint8_t, 32> ReplyOneTimeCode(const HandOffReply& reply) noexcept;

// One read or write on a pipe end: the number of bytes moved; 0 when the pipe is closed, the
// call failed or it was cancelled.
using ReadFn = std::function<std::size_t(std::span<std::uint8_t>)>;
using WriteFn = std::function<std::size_t(std::span<const std::uint8_t>)>;

// Fill the buffer, or write all of it, over as many calls as the pipe needs; false when a
// call moves nothing before the end.
[[nodiscard]] bool ReadExactly(const ReadFn& read, std::span<std::uint8_t> buffer);
[[nodiscard]] bool WriteExactly(const WriteFn& write, std::span<const std::uint8_t> bytes);

// One call per code request; blocks until the identity service has answered.
using ExchangeFn = std::function<Auth::SLoginOutcome()>;

// The launcher's side: answers requests one at a time until a stop is requested, the client
// closes its end or a read or write fails. Every reply is wiped once written.
void ServeRequests(const ReadFn& read, const WriteFn& write, const ExchangeFn& exchange, std::stop_token stop);

// The client's command line: the full path in quotes, "--launcher", the two handle values.
[[nodiscard]] std::string ClientCommandLine(std::string_view clientPath, std::uint64_t replyRead,
                                            std::uint64_t requestWrite);

struct SClientHandles
{
    std::uint64_t replyRead = 0;
    std::uint64_t requestWrite = 0;
};

// The client's reading of its arguments (without the program name).
[[nodiscard]] std::expected<SClientHandles, std::string> ParseClientArguments(std::span<const std::string> arguments);
}
