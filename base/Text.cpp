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

bool NextCodePoint(std::string_view& text, char32_t& point) noexcept
{
    if (text.empty())
    {
        return false;
    }
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
    {
        point = lead;
        text.remove_prefix(1);
        return true;
    }
    // The range of the second byte rules out overlong forms (after E0 and F0), surrogates
    // (after ED) and values past U+10FFFF (after F4), so no decoded value needs checking.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        length = 2, value = lead & 0x1F;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3, value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4, value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
    {
        return false;
    }
    for (std::size_t k = 1; k < length; ++k)
    {
        if ((byte(k) & 0xC0) != 0x80)
        {
            return false;
        }
        value = (value << 6) | (byte(k) & 0x3F);
    }
    point = value;
    text.remove_prefix(length);
    return true;
}

bool IsUtf8(std::string_view text) noexcept
{
    char32_t point = 0;
    while (!text.empty())
    {
        if (!NextCodePoint(text, point))
        {
            return false;
        }
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t point)
{
    if (point < 0x80)
    {
        out += static_cast<char>(point);
    }
    else if (point < 0x800)
    {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
    else if (point < 0x10000)
    {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
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
