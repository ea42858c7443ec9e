#include "install/Rules.h"

#include "base/Text.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace Install
{
namespace
{
// UTF-8 to UTF-16; text that is not UTF-8 (Text::NextCodePoint's rules) gives nothing.
[[nodiscard]] std::optional<std::u16string> ToUtf16(std::string_view text)
{
    std::u16string wide;
    while (!text.empty())
    {
        char32_t code = 0;
        if (!Text::NextCodePoint(text, code))
        {
            return std::nullopt;
        }
        if (code >= 0x10000)
        {
            code -= 0x10000;
            wide += static_cast<char16_t>(0xD800 + (code >> 10));
            wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        }
        else
        {
            wide += static_cast<char16_t>(code);
        }
    }
    return wide;
}
}

EStart DecideStart(IStartProbe& probe)
{
    if (!probe.PlacesKnown() || probe.RunsFromInstallFolder() || !probe.IndexTrusted() || probe.HoldsContainer())
    {
        return EStart::RunHere;
    }
    return probe.InstalledExecutableExists() ? EStart::StartInstalled : EStart::Install;
}

std::string InstallFolder(std::string_view localAppData)
{
    if (localAppData.empty())
    {
        return {};
    }
    return fmt::format("{}\\Programs\\{}", localAppData, kProductName);
}

std::string JoinWindowsPath(std::string_view folder, std::string_view name)
{
    if (folder.empty())
    {
        return {};
    }
    std::string path = fmt::format("{}\\{}", folder, name);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::uint32_t EstimatedSizeKiB(const Vfs::SIndex& index) noexcept
{
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    const auto add = [&total](std::uint64_t size) { total = size > kMax - total ? kMax : total + size; };
    for (const Vfs::SContainer& container : index.containers)
    {
        add(container.size);
    }
    for (const Vfs::SFile& file : index.files)
    {
        add(file.size);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(total / 1024, std::numeric_limits<std::uint32_t>::max()));
}

std::vector<SRegistryValue> UninstallValues(std::string_view installFolder, std::string_view installedExecutable,
    const Vfs::SIndex& index)
{
    using enum SRegistryValue::EType;
    std::vector<SRegistryValue> values{
        {"DisplayName", String, std::string(kProductName)},
        {"DisplayIcon", String, std::string(installedExecutable)},
        {"Publisher", String, std::string(kProductName)},
        {"InstallLocation", String, std::string(installFolder)},
        {"UninstallString", String, CommandLine(installedExecutable, kUninstallSwitch)},
        {"NoModify", Number, {}, 1},
        {"NoRepair", Number, {}, 1},
    };
    for (SRegistryValue& value : ReleaseValues(index))
    {
        values.push_back(std::move(value));
    }
    return values;
}

std::vector<std::uint8_t> RegistryData(const SRegistryValue& value)
{
    std::vector<std::uint8_t> data;
    const auto put = [&data](std::uint32_t unit, int bytes) {
        for (int i = 0; i < bytes; ++i)
        {
            data.push_back(static_cast<std::uint8_t>(unit >> (8 * i)));
        }
    };
    if (value.type == SRegistryValue::EType::Number)
    {
        put(value.number, 4);
        return data;
    }
    for (char16_t unit : ToUtf16(value.text).value_or(std::u16string()))
    {
        put(unit, 2);
    }
    put(0, 2);
    return data;
}

std::vector<SRegistryValue> ReleaseValues(const Vfs::SIndex& index)
{
    using enum SRegistryValue::EType;
    return {
        {"DisplayVersion", String, index.releaseName},
        {"EstimatedSize", Number, {}, EstimatedSizeKiB(index)},
    };
}

std::string UninstallCopyName(std::span<const std::uint8_t, 16> random)
{
    return fmt::format("Quillmere-uninstall-{:02x}.exe", fmt::join(random, ""));
}

bool IsUninstallCopyName(std::string_view name)
{
    constexpr std::string_view prefix = "Quillmere-uninstall-";
    constexpr std::string_view suffix = ".exe";
    if (name.size() != prefix.size() + 32 + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
    {
        return false;
    }
    const std::string_view digits = name.substr(prefix.size(), 32);
    return std::all_of(digits.begin(), digits.end(),
        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string CommandLine(std::string_view executable, std::string_view argument)
{
    if (argument.empty())
    {
        return fmt::format("\"{}\"", executable);
    }
    return fmt::format("\"{}\" {}", executable, argument);
}

std::string NotWrittenError(std::string_view installFolder, unsigned long windowsError)
{
    return Text::WithWindowsError(fmt::format("{} could not be written", installFolder), windowsError);
}

std::string NotStartedError(std::string_view executable, unsigned long windowsError)
{
    return Text::WithWindowsError(fmt::format("{} did not start", executable), windowsError);
}
}
