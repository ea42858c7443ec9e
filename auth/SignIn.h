// The sign-in protocol with the identity service: OPAQUE over two calls (with a proof of work
// when the service asks for one), then refresh tokens that rotate at every use, one-time codes
// for the game client and sign-out. Every operation returns an SLoginOutcome; none throws.
//
//   POST /v1/login/start   {"login":"L","ke1":"K","purpose":4,"release":"R","session":"S"}
//                          (+ ,"pow":{"nonce":"N","solution":"X"} before the brace)  200: ke2, state, suite
//   POST /v1/login/finish  {"login":"L","state":"T","ke3":"K"}                    200: refresh, login
//   POST /v1/refresh       {"refresh":"F"}                                         200: refresh, login
//   POST /v1/exchange/new  {"refresh":"F"}                                         200: refresh, code
//   POST /v1/signout       {"refresh":"F"}                                         204
//
// Failover over the service's base URLs happens on transport failures only: any HTTP answer
// ends an operation, and once a sign-in's first step has been answered no other URL is tried.
#pragma once

#include "net/Http.h"

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace Auth
{
enum class EOutcome : std::uint8_t
{
    Unauthorised = 1, // 401; or the finish step finds the password wrong
    LoginRules = 2,   // the login or password breaks the rules; 400 "login"
    Limited = 3,      // 429 "limited", with retrySeconds
    Unreachable = 4,  // no URL gave an answer; message from the transport
    Failed = 5,       // anything else; message says what
    SignedIn = 6,
    SignedOut = 7,
    Banned = 9,       // 403 "banned"; message is the service's "until" text
    Closed = 10,      // 403 "closed"
    Unconfirmed = 11, // 403 "unconfirmed"
};

// What an outcome says, without its secrets: what the window may be told.
struct SOutcomeNotice
{
    EOutcome kind = EOutcome::Failed;
    std::uint32_t retrySeconds = 0;
    std::string message;
    std::string login;
    Net::EFailureClass failureClass = Net::EFailureClass::Unrecognised; // of an Unreachable's transport failure
};

// The result of every operation. The refresh token and the one-time code are secrets: moving
// copies them and wipes the source's; destruction wipes them.
struct SLoginOutcome : SOutcomeNotice
{
    std::array<std::uint8_t, 32> refresh{};
    std::array<std::uint8_t, 32> code{};

    SLoginOutcome() noexcept = default;
    SLoginOutcome(EOutcome kind_, std::string message_ = {}) noexcept;
    SLoginOutcome(SLoginOutcome&& other) noexcept;
    SLoginOutcome& operator=(SLoginOutcome&& other) noexcept;
    SLoginOutcome(const SLoginOutcome&) = delete;
    SLoginOutcome& operator=(const SLoginOutcome&) = delete;
    ~SLoginOutcome();
};

using ServiceUrls = std::span<const std::string>;

// 2 to 30 bytes, each an ASCII digit or letter.
[[nodiscard]] bool IsWellFormedLogin(std::string_view login) noexcept;

// The proof of work: the base64url of the first 8-byte little-endian counter c for which
// SHA-256(nonce || c) starts with at least `bits` zero bits.
[[nodiscard]] std::string SolveWork(std::span<const std::uint8_t, 16> nonce, std::uint32_t bits);

// The outcome of an answer that is not the call's success.
[[nodiscard]] SLoginOutcome ReadError(const Net::SAnswer& answer);

// How a call reaches the service: POST `body` to baseUrl + path, the answer limited to
// 16 KiB. The product's goes through Net::Request; tests hand in their own.
using PostFn = std::function<std::expected<Net::SAnswer, Net::SFailure>(
    std::string_view baseUrl, std::string_view path, std::span<const std::uint8_t> body)>;

[[nodiscard]] SLoginOutcome Login(const PostFn& post, ServiceUrls urls, std::string_view login,
                                  std::string_view password);
[[nodiscard]] SLoginOutcome LoginAt(const PostFn& post, std::string_view baseUrl, std::string_view login,
                                    std::string_view password, std::uint8_t purpose,
                                    std::span<const std::uint8_t, 32> release,
                                    std::span<const std::uint8_t, 32> session);
[[nodiscard]] SLoginOutcome Refresh(const PostFn& post, ServiceUrls urls, std::span<const std::uint8_t, 32> refresh);
[[nodiscard]] SLoginOutcome NewExchange(const PostFn& post, ServiceUrls urls,
                                        std::span<const std::uint8_t, 32> refresh);
[[nodiscard]] SLoginOutcome SignOut(const PostFn& post, ServiceUrls urls, std::span<const std::uint8_t, 32> refresh);

#ifdef _WIN32
// The same over HTTPS.
[[nodiscard]] SLoginOutcome Login(ServiceUrls urls, std::string_view login, std::string_view password);
[[nodiscard]] SLoginOutcome LoginAt(std::string_view baseUrl, std::string_view login, std::string_view password,
                                    std::uint8_t purpose, std::span<const std::uint8_t, 32> release,
                                    std::span<const std::uint8_t, 32> session);
[[nodiscard]] SLoginOutcome Refresh(ServiceUrls urls, std::span<const std::uint8_t, 32> refresh);
[[nodiscard]] SLoginOutcome NewExchange(ServiceUrls urls, std::span<const std::uint8_t, 32> refresh);
[[nodiscard]] SLoginOutcome SignOut(ServiceUrls urls, std::span<const std::uint8_t, 32> refresh);
#endif
}
