// Placeholder until the install steps land: every start runs in place.
#include "install/Install.h"

namespace Install
{
std::expected<bool, std::string> CheckInstall() { return false; }
bool RelaunchForUninstall() { return false; }
std::expected<void, std::string> Uninstall() { return std::unexpected("removal is not available in this build"); }
void RefreshUninstallEntry(std::string_view) {}
}
