#include "base/Text.h"

#include <fmt/format.h>

#include <climits>

#ifdef _WIN32
#include <windows.h>
#endif

namespace Text
{

std::optional<std::uint64_t> ParseLeadingDecimal(std::string_view text, std::uint64_t limit) noexcept
{
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
        {
            break;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10)
        {
            return std::nullopt;
        }
        value = value * 10 + digit;
        ++digits;
    }
    if (digits == 0)
    {
        return std::nullopt;
    }
    return value;
}

std::string WithWindowsError(std::string_view text, unsigned long error)
{
    return fmt::format("{} (Windows error {})", text, error);
}

std::string WithWinHttpError(std::string_view text, unsigned long error)
{
    return fmt::format("{} (WinHTTP error {})", text, error);
}

#ifdef _WIN32
std::wstring Utf8ToWide(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX)
    {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (count <= 0)
    {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), count) != count)
    {
        return {};
    }
    return wide;
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty() || text.size() > INT_MAX)
    {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int count =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (count <= 0)
    {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(count), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, narrow.data(), count, nullptr,
                            nullptr) != count)
    {
        return {};
    }
    return narrow;
}
#endif

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty())
    {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}
}
