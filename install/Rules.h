// What an install is made of, without Windows calls: the per-user places, the uninstall
// entry's values in the order they are written, the command lines and the error texts.
// install/Install.h carries these out on Windows.
#pragma once

#include "vfs/Index.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Install
{
inline constexpr std::string_view kProductName = "Quillmere";
inline constexpr std::string_view kExecutableName = "Quillmere.exe";
inline constexpr std::string_view kShortcutName = "Quillmere.lnk";
inline constexpr std::string_view kIndexPath = "Client/pack/release.quillmereindex";
inline constexpr std::string_view kPackFolder = "Client/pack";
// Under HKEY_CURRENT_USER.
inline constexpr std::string_view kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere";
inline constexpr std::string_view kUninstallSwitch = "--uninstall";

// "<local application data>\Programs\Quillmere"; empty when the local folder is unknown.
[[nodiscard]] std::string InstallFolder(std::string_view localAppData);

// "<folder>\<name>" with every "/" turned into "\"; empty when the folder is unknown.
[[nodiscard]] std::string JoinWindowsPath(std::string_view folder, std::string_view name);

// The sizes of all containers and loose files in KiB, rounded down. A total beyond what a
// REG_DWORD holds reads as its largest value rather than wrapping to a small one.
[[nodiscard]] std::uint32_t EstimatedSizeKiB(const Vfs::SIndex& index) noexcept;

// What a normal start does about the install.
enum class EStart
{
    RunHere, // the game is here, or this is no installer folder
    Install, // copy, make the shortcut and the entry, start the installed copy
    StartInstalled, // an earlier start installed already: only start that copy
};

// What a start finds out, asked in the order the checks run and only as far as needed.
class IStartProbe
{
public:
    // The install folder and the running executable are known.
    [[nodiscard]] virtual bool PlacesKnown() = 0;
    // The executable's folder is the install folder (the same folder on disk).
    [[nodiscard]] virtual bool RunsFromInstallFolder() = 0;
    // "Client/pack/release.quillmereindex" beside the executable reads and verifies.
    [[nodiscard]] virtual bool IndexTrusted() = 0;
    // A container of that index is in the executable's Client/pack folder.
    [[nodiscard]] virtual bool HoldsContainer() = 0;
    [[nodiscard]] virtual bool InstalledExecutableExists() = 0;

protected:
    ~IStartProbe() = default;
};

[[nodiscard]] EStart DecideStart(IStartProbe& probe);

struct SRegistryValue
{
    // The registry's own type numbers.
    enum class EType : std::uint32_t
    {
        String = 1, // REG_SZ
        Number = 4, // REG_DWORD
    };
    std::string_view name;
    EType type = EType::String;
    std::string text; // UTF-8, for String
    std::uint32_t number = 0;

    friend bool operator==(const SRegistryValue&, const SRegistryValue&) = default;
};

// The uninstall entry's nine values in the order they are written.
[[nodiscard]] std::vector<SRegistryValue> UninstallValues(std::string_view installFolder,
    std::string_view installedExecutable, const Vfs::SIndex& index);

// The bytes the registry stores for a value: a String as UTF-16LE with its terminating zero
// counted (text that is not valid UTF-8 is stored empty), a Number as four bytes,
// little-endian.
[[nodiscard]] std::vector<std::uint8_t> RegistryData(const SRegistryValue& value);

// The two values that follow each completed update: "DisplayVersion", "EstimatedSize".
[[nodiscard]] std::vector<SRegistryValue> ReleaseValues(const Vfs::SIndex& index);

// The uninstall copy's file name in the temporary folder, "Quillmere-uninstall-{}.exe" with
// 16 random bytes in hexadecimal: no other program can know it ahead and put a file there.
[[nodiscard]] std::string UninstallCopyName(std::span<const std::uint8_t, 16> random);
// Whether a file name is one that UninstallCopyName gives.
[[nodiscard]] bool IsUninstallCopyName(std::string_view name);

// The command line a started program receives: "\"{exe}\"" or "\"{exe}\" {argument}".
[[nodiscard]] std::string CommandLine(std::string_view executable, std::string_view argument = {});

// Error texts of the install check.
[[nodiscard]] std::string NotWrittenError(std::string_view installFolder, unsigned long windowsError);
inline constexpr std::string_view kEntriesError = "the Start menu's entry or the uninstall entry could not be made";
[[nodiscard]] std::string NotStartedError(std::string_view executable, unsigned long windowsError);
}
