// Windows paths as UTF-8 text, taken apart without asking the file system. Free of Windows.
//
// The separator rule, for every function here: "\" and "/" both separate (Windows accepts
// either, and paths from the command line or a test may mix them); nothing else does.
#pragma once

#include <string_view>

namespace Path
{
// The folder that holds the path's last part: everything before its last separator, without
// it, except in a drive's root, which keeps its separator ("C:\Quillmere.exe" gives "C:\",
// since "C:" alone names the drive's current folder, not its root). Empty without a separator.
[[nodiscard]] std::string_view FolderOf(std::string_view path) noexcept;
}
