#include "net/HttpRules.h"

#include "net/Http.h"
#include "base/Text.h"

#include <fmt/format.h>

namespace Net
{
namespace
{
constexpr std::size_t kIssuerBytes = 20;

bool IsHiddenOrControl(char32_t point) noexcept
{
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
           (point >= 0x2066 && point <= 0x2069);
}
}

const STlsFailure* FindTlsFailure(std::uint32_t flags) noexcept
{
    for (const STlsFailure& row : kTlsFailures)
    {
        if ((flags & row.flag) != 0)
        {
            return &row;
        }
    }
    return nullptr;
}

EFailureClass SecureFailureClass(std::uint32_t flags) noexcept
{
    const STlsFailure* row = FindTlsFailure(flags);
    return row != nullptr ? row->failureClass : EFailureClass::OtherTls;
}

bool NeedsIssuer(std::uint32_t flags) noexcept
{
    const STlsFailure* row = FindTlsFailure(flags);
    return row != nullptr && row->flag == kInvalidCaFlag;
}

std::string SecureFailureText(std::uint32_t flags, std::string_view organisation)
{
    const STlsFailure* row = FindTlsFailure(flags);
    if (row == nullptr)
    {
        return Text::WithWinHttpError(kSecureFallbackText, kSecureFailureError);
    }
    if (row->flag == kInvalidCaFlag && !organisation.empty())
    {
        return Text::WithWinHttpError(fmt::format("{}: {}", row->text, organisation), kSecureFailureError);
    }
    return Text::WithWinHttpError(row->text, kSecureFailureError);
}

std::string IssuerText(std::string_view name)
{
    std::size_t kept = 0;
    for (std::string_view rest = name; !rest.empty();)
    {
        char32_t point = 0;
        if (!Text::NextCodePoint(rest, point) || IsHiddenOrControl(point))
        {
            return {};
        }
        const std::size_t at = name.size() - rest.size();
        if (at <= kIssuerBytes)
        {
            kept = at;
        }
    }
    return std::string(name.substr(0, kept));
}

std::wstring RequestPath(std::wstring_view urlPath, std::wstring_view path)
{
    while (!urlPath.empty() && urlPath.back() == L'/')
    {
        urlPath.remove_suffix(1);
    }
    std::wstring joined(urlPath);
    joined += path;
    return joined;
}

std::string RangeHeader(std::uint64_t offset, std::uint64_t length)
{
    if (length > 0 && length - 1 <= UINT64_MAX - offset)
    {
        return fmt::format("Range: bytes={}-{}\r\n", offset, offset + (length - 1));
    }
    if (offset > 0 || length > 0)
    {
        return fmt::format("Range: bytes={}-\r\n", offset);
    }
    return {};
}

std::optional<std::uint64_t> ParseContentLength(std::string_view value) noexcept
{
    if (value.empty())
    {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (const char c : value)
    {
        if (c < '0' || c > '9' || number > (UINT64_MAX - static_cast<unsigned>(c - '0')) / 10)
        {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number;
}

bool CutShort(std::string_view content_length, std::uint64_t received) noexcept
{
    const auto announced = ParseContentLength(content_length);
    return announced && received < *announced;
}
}
