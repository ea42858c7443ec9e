// The readers of the service's answers: any status and body, through ReadError and the
// token calls. Bytes: status (2, big-endian), then the body.
#include "auth/SignIn.h"

#include <array>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
    {
        return 0;
    }
    Net::SAnswer answer{static_cast<std::uint32_t>(data[0] << 8 | data[1]),
                               std::vector<std::uint8_t>(data + 2, data + size)};
    const auto error = Auth::ReadError(answer);
    if (error.kind == Auth::EOutcome::SignedIn || error.kind == Auth::EOutcome::SignedOut)
    {
        std::abort();
    }
    const Auth::PostFn post = [&](std::string_view, std::string_view, std::span<const std::uint8_t>) {
        return std::expected<Net::SAnswer, Net::SFailure>(answer);
    };
    const std::string urls[] = {"https://a.example"};
    const std::array<std::uint8_t, 32> token{};
    // A refresh signs in only with a login that passes the rules; an exchange never names one.
    const auto refreshed = Auth::Refresh(post, urls, token);
    if (refreshed.kind == Auth::EOutcome::SignedIn && !Auth::IsWellFormedLogin(refreshed.login))
    {
        std::abort();
    }
    const auto exchanged = Auth::NewExchange(post, urls, token);
    if (exchanged.kind == Auth::EOutcome::SignedIn && !exchanged.login.empty())
    {
        std::abort();
    }
    return 0;
}
