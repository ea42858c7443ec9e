// The client side of the OPAQUE sign-in: the password never leaves this PC.
//
// Fixed configuration, nothing negotiated:
//   OPRF ristretto255-SHA512 (RFC 9497, OPRF mode); OPAQUE's 3DH over ristretto255 with
//   SHA-512, HKDF-SHA-512 and HMAC-SHA-512; key stretching Argon2id v0x13, 64 MiB, 3 passes,
//   4 lanes, 64-byte output, salt zeroes(16); no identities (each party's public key stands
//   in); context "quillmere/identity/1" followed by the caller's 65 bytes (85 in all);
//   suite 1 only.
//
// Two layers:
//   - a flat boundary, opaque_client_start / opaque_client_finish, over caller-owned buffers,
//     returning an integer code;
//   - the wrappers LoginStart / LoginFinish that the sign-in protocol calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Return codes of both entry points.
//   0 success, 1 bad arguments, 2 password refused (empty or a byte above 127), 3 suite not
//   supported, 4 malformed (state or KE2 does not deserialise, evaluated element equals the
//   blinded element, OPRF failure, purpose byte outside 1..4), 5 invalid login (the server's
//   reply does not authenticate, or a received public element is the identity element),
//   6 internal.
extern "C"
{
// Writes 192 bytes of client state (and sets *state_length to 192) and 96 bytes of KE1.
// password may be null only with length 0 (which is then refused as empty, code 2).
[[nodiscard]] std::int32_t opaque_client_start(const std::uint8_t* password, std::size_t password_length,
                                               std::uint8_t* state, std::size_t state_capacity,
                                               std::size_t* state_length, std::uint8_t* ke1) noexcept;

// Takes the 192-byte state, the password again, KE2 (320 bytes), the caller's 65-byte
// context (purpose 1..4, release, session) and the suite; writes KE3 (64 bytes) and the
// exchange's session key (64 bytes).
[[nodiscard]] std::int32_t opaque_client_finish(const std::uint8_t* state, std::size_t state_length,
                                                const std::uint8_t* password, std::size_t password_length,
                                                const std::uint8_t* ke2, const std::uint8_t* context,
                                                std::size_t context_length, std::int32_t suite,
                                                std::uint8_t* ke3, std::uint8_t* key) noexcept;
}

namespace Auth
{
inline constexpr std::size_t kClientStateSize = 192;
inline constexpr std::size_t kKe1Size = 96;
inline constexpr std::size_t kKe2Size = 320;
inline constexpr std::size_t kKe3Size = 64;
inline constexpr std::size_t kLoginContextSize = 65;
inline constexpr std::size_t kSessionKeySize = 64;

// Failure codes of the wrappers: the boundary's code minus one (5 for anything unknown).
enum class ELoginFailure : std::uint8_t
{
    BadArguments = 0,
    PasswordRefused = 1,
    SuiteNotSupported = 2,
    Malformed = 3,
    InvalidLogin = 4,
    Internal = 5,
};

// The first step's result. The state is secret: it is wiped when moved from, when
// LoginFinish takes it, and on destruction.
struct SLoginStart
{
    std::array<std::uint8_t, kClientStateSize> state{};
    std::uint64_t stateLength = 0;
    std::array<std::uint8_t, kKe1Size> ke1{};
    bool ok = false;
    ELoginFailure failure = ELoginFailure::Internal;

    SLoginStart() noexcept = default;
    SLoginStart(SLoginStart&& other) noexcept;
    SLoginStart& operator=(SLoginStart&& other) noexcept;
    SLoginStart(const SLoginStart&) = delete;
    SLoginStart& operator=(const SLoginStart&) = delete;
    ~SLoginStart();
};

struct SLoginFinish
{
    std::array<std::uint8_t, kKe3Size> ke3{};
    bool ok = false;
    ELoginFailure failure = ELoginFailure::Internal;
};

[[nodiscard]] SLoginStart LoginStart(std::string_view password) noexcept;

// Moves the client state out of start (start.state reads as zeroes afterwards, whatever the
// result) and runs the finish step. The key output is wiped at once, unused.
[[nodiscard]] SLoginFinish LoginFinish(SLoginStart& start, std::string_view password,
                                       std::span<const std::uint8_t, kKe2Size> ke2,
                                       std::span<const std::uint8_t, kLoginContextSize> context,
                                       std::int32_t suite) noexcept;
}
