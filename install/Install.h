// Install and uninstall for the current user: the steps the start sequence calls.
// The rules (places, values, texts) are in install/Rules.h.
#pragma once

#include "install/Rules.h"

#include <expected>
#include <string>
#include <string_view>

namespace Install
{
// Where an install lives and which executable is running, UTF-8. DefaultPlaces() asks
// Windows; tests pass folders and a registry key of their own.
struct SPlaces
{
    std::string installFolder; // empty when Windows cannot name it
    std::string shortcut; // the Start menu's "Quillmere.lnk"; empty when unknown
    std::string uninstallKey = std::string(kUninstallKey); // under HKEY_CURRENT_USER
    std::string executable; // the running executable
    std::string temporaryFolder; // ends in "\"; empty when unknown
};

[[nodiscard]] SPlaces DefaultPlaces();

// Normal start. Started from an installer folder, installs the launcher and the release
// index into the per-user install folder and starts the installed copy. true: the start is
// handled and this process ends; false: the launcher runs here. An error: the install failed.
[[nodiscard]] std::expected<bool, std::string> CheckInstall(const SPlaces& places = DefaultPlaces());

// "--uninstall" on the installed copy: copies the launcher to the temporary folder and
// starts that copy with "--uninstall", so the install folder can be removed. true when the
// copy was started and this process is to end.
[[nodiscard]] bool RelaunchForUninstall(const SPlaces& places = DefaultPlaces());

// Removes the shortcut, the uninstall entry and the install folder; the settings and the
// stored sign-in stay. The error is the install folder's path (empty when it is unknown).
[[nodiscard]] std::expected<void, std::string> Uninstall(const SPlaces& places = DefaultPlaces());

// After a completed update, in the installed launcher only: the uninstall entry's version
// and size follow the installed index. Errors are ignored.
void RefreshUninstallEntry(const SPlaces& places = DefaultPlaces());

// The release name is read from the installed index itself.
inline void RefreshUninstallEntry(std::string_view /*releaseName*/)
{
    RefreshUninstallEntry();
}

// Starts a program with no handle inheritance in its own folder; both handles are closed
// at once. The Windows error when it does not start.
[[nodiscard]] std::expected<void, unsigned long> StartProgram(std::string_view executable, std::string_view argument = {});
}
