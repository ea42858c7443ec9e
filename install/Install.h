// Install and uninstall for the current user: the steps the start sequence calls.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace Install
{
// Normal start. Started from an installer folder, installs the launcher and the release
// index into the per-user install folder and starts the installed copy. true: the start is
// handled and this process ends; false: the launcher runs here. An error: the install failed.
[[nodiscard]] std::expected<bool, std::string> CheckInstall();

// "--uninstall" on the installed copy: copies the launcher to the temporary folder and
// starts that copy with "--uninstall", so the install folder can be removed. true when the
// copy was started and this process is to end.
[[nodiscard]] bool RelaunchForUninstall();

// Removes the shortcut, the uninstall entry and the install folder; the settings and the
// stored sign-in stay.
[[nodiscard]] std::expected<void, std::string> Uninstall();

// After a completed update: the uninstall entry's version and size follow the release.
void RefreshUninstallEntry(std::string_view releaseName);
}
