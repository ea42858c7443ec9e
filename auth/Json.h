// The identity service's small JSON dialect and base64url.
//
// There is no general JSON parser here on purpose: answers are read by looking up single
// keys with a plain substring scan (FindValue), whose behaviour at the edges is the
// contract with the service:
//   - the first "key": anywhere in the body wins, nested or even inside a string;
//   - no whitespace is skipped after the colon;
//   - a string value ends at the next quote (backslashes mean nothing);
//   - a bare value is a run of ASCII digits; signs, fractions, true, false and null are
//     not found.
#pragma once

#include "base/Secure.h" // Secure::Wipe, for the answers that carry secrets

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Auth::Json
{
// A value found in an answer body: a view into the body, nothing copied or unescaped.
// A string value is the raw text between its quotes, a number the raw run of digits.
struct SValue
{
    std::string_view text;
    bool found = false;

    [[nodiscard]] explicit operator bool() const noexcept { return found; }
};

[[nodiscard]] SValue FindValue(std::span<const char> body, std::string_view key) noexcept;

// Decimal digits from the start of the value up to the first non-digit; 0 when the value is
// absent, has no digit or exceeds 4,294,967,295.
[[nodiscard]] std::uint32_t ParseU32(SValue value) noexcept;

// The same with the 64-bit limit; absent when the value is absent, has no digit or overflows.
[[nodiscard]] std::optional<std::uint64_t> ParseU64(SValue value) noexcept;
}

namespace Auth
{
// RFC 4648 section 5 without padding: n bytes give (4n + 2) / 3 characters.
[[nodiscard]] std::string EncodeBase64Url(std::span<const std::uint8_t> bytes);

// Strict inverse of EncodeBase64Url: no padding, no whitespace, no foreign characters, and
// the unused low bits of the last character must be zero, so every byte string has exactly
// one accepted text. Nothing is returned on failure.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> DecodeBase64Url(std::string_view text);
}
