// The OPAQUE client core under opaque_client_start / opaque_client_finish, with the parts that
// the flat boundary fixes (context, key stretching, identities, randomness) as parameters, so
// the published test vectors run through the same code that signs players in. Internal to
// auth/: the rest of the program goes through auth/Opaque.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace Auth::Opaque
{
using Bytes = std::span<const std::uint8_t>;

// Codes shared with the flat boundary.
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kBadArguments = 1;
inline constexpr std::int32_t kPasswordRefused = 2;
inline constexpr std::int32_t kSuiteNotSupported = 3;
inline constexpr std::int32_t kMalformed = 4;
inline constexpr std::int32_t kInvalidLogin = 5;
inline constexpr std::int32_t kInternal = 6;

// Fills out with random bytes; false when no random bytes could be had.
struct SRandom
{
    bool (*fill)(void* context, std::uint8_t* out, std::size_t length) noexcept = nullptr;
    void* context = nullptr;
};

// The system's generator: BCryptGenRandom (system-preferred) on Windows, libsodium elsewhere.
[[nodiscard]] SRandom SystemRandom() noexcept;

enum class EKsf : std::uint8_t
{
    Argon2id, // the product's: v0x13, 64 MiB, 3 passes, 4 lanes, 64 bytes, salt zeroes(16)
    Identity, // the test vectors'
};

struct SSuite
{
    Bytes context;
    EKsf ksf = EKsf::Argon2id;
    // Absent: the party's public key stands in, as in the product.
    std::optional<Bytes> clientIdentity;
    std::optional<Bytes> serverIdentity;
};

// Both take buffers of the stated sizes; the password must already have been checked.
[[nodiscard]] std::int32_t ClientStart(const SRandom& random, Bytes password,
                                       std::span<std::uint8_t, 192> state,
                                       std::span<std::uint8_t, 96> ke1) noexcept;
[[nodiscard]] std::int32_t ClientFinish(const SSuite& suite, std::span<const std::uint8_t, 192> state,
                                        Bytes password, std::span<const std::uint8_t, 320> ke2,
                                        std::span<std::uint8_t, 64> ke3,
                                        std::span<std::uint8_t, 64> sessionKey) noexcept;

// Primitives, exposed for their own published vectors.

// A canonical ristretto255 encoding of a group element; the identity is accepted here.
[[nodiscard]] bool IsCanonicalElement(std::span<const std::uint8_t, 32> element) noexcept;

// RFC 9496's element derivation from 64 uniform bytes.
[[nodiscard]] bool ElementFromUniform(std::span<const std::uint8_t, 64> uniform, std::span<std::uint8_t, 32> element) noexcept;

// expand_message_xmd with SHA-512 (RFC 9380); length at most 255 * 64.
[[nodiscard]] bool ExpandMessageXmd(Bytes message, Bytes dst, std::span<std::uint8_t> out) noexcept;

// RFC 9497 ristretto255-SHA512 OPRF mode: HashToGroup, Blind with a given scalar, Finalize,
// DeriveKeyPair (secret scalar only).
[[nodiscard]] bool HashToGroup(Bytes input, std::span<std::uint8_t, 32> element) noexcept;
[[nodiscard]] bool OprfBlind(Bytes input, std::span<const std::uint8_t, 32> blind,
                             std::span<std::uint8_t, 32> blindedElement) noexcept;
[[nodiscard]] bool OprfFinalize(Bytes input, std::span<const std::uint8_t, 32> blind,
                                std::span<const std::uint8_t, 32> evaluatedElement,
                                std::span<std::uint8_t, 64> output) noexcept;
[[nodiscard]] bool DeriveKeyPair(Bytes seed, Bytes info, std::span<std::uint8_t, 32> secretKey) noexcept;

// HKDF-SHA-512 (RFC 5869).
void HkdfExtract(Bytes salt, Bytes ikm, std::span<std::uint8_t, 64> prk) noexcept;
[[nodiscard]] bool HkdfExpand(std::span<const std::uint8_t, 64> prk, Bytes info, std::span<std::uint8_t> out) noexcept;

// Argon2id v0x13 through libgcrypt, lanes run on a small persistent thread pool.
struct SArgon2Params
{
    std::uint32_t passes = 3;
    std::uint32_t memoryKiB = 65536;
    std::uint32_t lanes = 4;
    Bytes salt;
    Bytes secret;
    Bytes associatedData;
};
[[nodiscard]] bool Argon2id(Bytes password, const SArgon2Params& params, std::span<std::uint8_t> out) noexcept;
}
