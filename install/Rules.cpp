#include "install/Rules.h"

#include "shell/Text.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

namespace Install
{
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

std::string_view FolderOf(std::string_view path) noexcept
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
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

std::vector<SRegistryValue> ReleaseValues(const Vfs::SIndex& index)
{
    using enum SRegistryValue::EType;
    return {
        {"DisplayVersion", String, index.releaseName},
        {"EstimatedSize", Number, {}, EstimatedSizeKiB(index)},
    };
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
    return WithWindowsError(fmt::format("{} could not be written", installFolder), windowsError);
}

std::string NotStartedError(std::string_view executable, unsigned long windowsError)
{
    return WithWindowsError(fmt::format("{} did not start", executable), windowsError);
}
}
