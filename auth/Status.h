// The service status poll: whether the game's servers are up and which releases are current
// and next, asked of the identity service with the installed release's identity.
//
//   GET /v1/status?release=R&build=1   200: {"world":"up"|"down","release":"old"|...,
//                                            "current":HEX,"number":N,"next":HEX,"next_number":N}
//
// Failover over the base URLs happens on transport failures only; the first answer of any
// status ends the poll.
#pragma once

#include "auth/SignIn.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Auth
{
enum class EWorld : std::uint8_t
{
    Unknown = 0, // an answer came, but not a 200 that says "up" or "down"
    Up = 1,
    Down = 2,
    Unreachable = 3, // no URL answered
};

struct SServiceStatus
{
    EWorld world = EWorld::Unreachable;
    std::uint8_t old = 0; // 1 when the installed release is not the current one
    std::string current;  // 64 lowercase hex digits, or empty
    std::uint64_t currentNumber = 0;
    std::string next; // 64 lowercase hex digits, or empty
    std::uint64_t nextNumber = 0;
    std::string error; // "{base URL}: {transport error}" of the first URL that failed; empty once one answered
    Net::EFailureClass errorClass = Net::EFailureClass::Unrecognised; // that failure's class
};

// "/v1/status?release={}&build=1".
[[nodiscard]] std::string StatusPath(std::string_view releaseHex);

// The fields of a 200 answer's body; world, old and the releases only.
void ReadStatusAnswer(std::span<const char> body, SServiceStatus& status);

// How the poll reaches the service: GET baseUrl + path, the answer limited to 64 KiB.
using GetFn = std::function<std::expected<Net::SAnswer, Net::SFailure>(std::string_view baseUrl,
                                                                        std::string_view path)>;

[[nodiscard]] SServiceStatus PollStatus(const GetFn& get, ServiceUrls urls, std::string_view releaseHex);

#ifdef _WIN32
[[nodiscard]] SServiceStatus PollStatus(ServiceUrls urls, std::string_view releaseHex);
#endif
}
