#include "auth/Json.h"

#include "base/Text.h"

#include <array>
#include <limits>

namespace Auth::Json
{
namespace
{
[[nodiscard]] constexpr bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}
}

SValue FindValue(std::span<const char> body, std::string_view key) noexcept
{
    const std::string_view text(body.data(), body.size());

    // The pattern "key": is matched in two pieces so no string needs building.
    std::size_t from = 0;
    std::size_t start = std::string_view::npos;
    while (from < text.size())
    {
        const std::size_t quote = text.find('"', from);
        if (quote == std::string_view::npos || text.size() - quote < key.size() + 3)
        {
            return {};
        }
        if (text.compare(quote + 1, key.size(), key) == 0 && text[quote + 1 + key.size()] == '"' &&
            text[quote + 2 + key.size()] == ':')
        {
            start = quote + key.size() + 3;
            break;
        }
        from = quote + 1;
    }
    if (start == std::string_view::npos || start >= text.size())
    {
        return {};
    }

    if (text[start] == '"')
    {
        const std::size_t close = text.find('"', start + 1);
        if (close == std::string_view::npos)
        {
            return {};
        }
        return {text.substr(start + 1, close - start - 1), true};
    }

    std::size_t end = start;
    while (end < text.size() && IsDigit(text[end]))
    {
        ++end;
    }
    if (end == start)
    {
        return {};
    }
    return {text.substr(start, end - start), true};
}

std::uint32_t ParseU32(SValue value) noexcept
{
    if (!value)
    {
        return 0;
    }
    return static_cast<std::uint32_t>(
        Text::ParseLeadingDecimal(value.text, std::numeric_limits<std::uint32_t>::max()).value_or(0));
}

std::optional<std::uint64_t> ParseU64(SValue value) noexcept
{
    if (!value)
    {
        return std::nullopt;
    }
    return Text::ParseLeadingDecimal(value.text, std::numeric_limits<std::uint64_t>::max());
}
}

namespace Auth
{
namespace
{
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Character to its 6-bit value, or 0xFF for a character outside the alphabet.
constexpr std::array<std::uint8_t, 256> kDecodeTable = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(0xFF);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
    {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}();
}

std::string EncodeBase64Url(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve((4 * bytes.size() + 2) / 3);
    std::uint32_t bits = 0;
    int count = 0;
    for (std::uint8_t byte : bytes)
    {
        bits = (bits << 8) | byte;
        count += 8;
        while (count >= 6)
        {
            count -= 6;
            text.push_back(kAlphabet[(bits >> count) & 0x3F]);
        }
    }
    if (count > 0)
    {
        text.push_back(kAlphabet[(bits << (6 - count)) & 0x3F]);
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64Url(std::string_view text)
{
    if (text.size() % 4 == 1)
    {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 3 / 4);
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text)
    {
        const std::uint8_t value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value == 0xFF)
        {
            Secure::Wipe(bytes); // the text may be a token: its first bytes are decoded already
            return std::nullopt;
        }
        bits = (bits << 6) | value;
        count += 6;
        if (count >= 8)
        {
            count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> count));
        }
    }
    // The 2 or 4 bits that no byte took must be zero, or the text is not canonical.
    if ((bits & ((1u << count) - 1)) != 0)
    {
        Secure::Wipe(bytes);
        return std::nullopt;
    }
    return bytes;
}
}
