#include "shell/CommandLine.h"

namespace Shell
{
bool HasUninstallOption(std::string_view commandLine) noexcept
{
    return commandLine.find("--uninstall") != std::string_view::npos;
}

std::optional<std::uint64_t> HandOverValue(std::string_view commandLine) noexcept
{
    constexpr std::string_view kOption = "--handover";
    const std::size_t found = commandLine.find(kOption);
    if (found == std::string_view::npos)
    {
        return std::nullopt;
    }
    std::size_t at = found + kOption.size();
    while (at < commandLine.size() && commandLine[at] == ' ')
    {
        ++at;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < commandLine.size(); ++at, ++digits)
    {
        const char c = commandLine[at];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
        {
            digit = static_cast<unsigned>(c - '0');
        }
        else if (c >= 'a' && c <= 'f')
        {
            digit = static_cast<unsigned>(c - 'a' + 10);
        }
        else if (c >= 'A' && c <= 'F')
        {
            digit = static_cast<unsigned>(c - 'A' + 10);
        }
        else
        {
            break;
        }
        if (value > (UINT64_MAX >> 4))
        {
            return std::nullopt;
        }
        value = (value << 4) | digit;
    }
    if (digits == 0)
    {
        return std::nullopt;
    }
    return value;
}
}
