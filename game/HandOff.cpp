#include "game/HandOff.h"

#include "auth/Json.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <optional>

namespace Game
{
namespace
{
void PutU32(HandOffReply& reply, std::size_t at, std::uint32_t value) noexcept
{
    for (std::size_t i = 0; i < 4; ++i)
    {
        reply[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

HandOffReply RefusedReply() noexcept
{
    HandOffReply reply{};
    reply[0] = static_cast<std::uint8_t>(EReply::Refused);
    return reply;
}

// 1 to 16 hexadecimal digits, not zero.
std::optional<std::uint64_t> ParseHandle(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value == 0)
    {
        return std::nullopt;
    }
    return value;
}
}

HandOffReply ReplyFor(const Auth::SLoginOutcome& outcome) noexcept
{
    using Auth::EOutcome;
    HandOffReply reply{};
    EReply code = EReply::Refused;
    switch (outcome.kind)
    {
    case EOutcome::SignedIn:
        code = EReply::Code;
        std::copy(outcome.code.begin(), outcome.code.end(), reply.begin() + 8);
        break;
    case EOutcome::Unauthorised:
    case EOutcome::SignedOut:
        code = EReply::NoSignIn;
        break;
    case EOutcome::Unreachable:
        code = EReply::Unreachable;
        break;
    case EOutcome::Limited:
        code = EReply::Wait;
        PutU32(reply, 4, outcome.retrySeconds);
        break;
    default:
        break;
    }
    reply[0] = static_cast<std::uint8_t>(code);
    return reply;
}

std::uint8_t ReplyCode(const HandOffReply& reply) noexcept
{
    return reply[0];
}

std::uint32_t ReplyWaitSeconds(const HandOffReply& reply) noexcept
{
    return static_cast<std::uint32_t>(reply[4]) | static_cast<std::uint32_t>(reply[5]) << 8 |
           static_cast<std::uint32_t>(reply[6]) << 16 | static_cast<std::uint32_t>(reply[7]) << 24;
}

std::span<const std::uint8_t, 32> ReplyOneTimeCode(const HandOffReply& reply) noexcept
{
    return std::span<const std::uint8_t, kReplySize>(reply).subspan<8, 32>();
}

bool ReadExactly(const ReadFn& read, std::span<std::uint8_t> buffer)
{
    while (!buffer.empty())
    {
        const std::size_t got = read(buffer);
        if (got == 0 || got > buffer.size())
        {
            return false;
        }
        buffer = buffer.subspan(got);
    }
    return true;
}

bool WriteExactly(const WriteFn& write, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty())
    {
        const std::size_t put = write(bytes);
        if (put == 0 || put > bytes.size())
        {
            return false;
        }
        bytes = bytes.subspan(put);
    }
    return true;
}

void ServeRequests(const ReadFn& read, const WriteFn& write, const ExchangeFn& exchange, std::stop_token stop)
{
    while (!stop.stop_requested())
    {
        std::array<std::uint8_t, kRequestSize> request{};
        if (!ReadExactly(read, request))
        {
            return;
        }
        // The outcome, which holds the code too, is wiped by its destructor at the end of the
        // statement; the reply right after it has gone out.
        HandOffReply reply = request[0] == kCodeRequest && exchange ? ReplyFor(exchange()) : RefusedReply();
        const bool written = WriteExactly(write, reply);
        Secure::Wipe(reply);
        if (!written)
        {
            return;
        }
    }
}

std::string ClientCommandLine(std::string_view clientPath, std::uint64_t replyRead, std::uint64_t requestWrite)
{
    return fmt::format("\"{}\" {} {:x},{:x}", clientPath, "--launcher", replyRead, requestWrite);
}

std::expected<SClientHandles, std::string> ParseClientArguments(std::span<const std::string> arguments)
{
    if (arguments.size() != 2 || arguments[0] != "--launcher")
    {
        return std::unexpected(std::string("the game is started by the launcher, with \"--launcher\" and two pipe handles"));
    }
    const std::string_view pair = arguments[1];
    const auto comma = pair.find(',');
    const auto replyRead = ParseHandle(pair.substr(0, comma));
    const auto requestWrite = comma == std::string_view::npos ? std::nullopt : ParseHandle(pair.substr(comma + 1));
    if (!replyRead || !requestWrite)
    {
        return std::unexpected(fmt::format("\"{}\" is not two pipe handles", pair));
    }
    return SClientHandles{*replyRead, *requestWrite};
}
}
