#include "base/Path.h"

namespace Path
{
std::string_view FolderOf(std::string_view path) noexcept
{
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string_view::npos)
    {
        return {};
    }
    const bool driveRoot = slash == 2 && path[1] == ':';
    return path.substr(0, driveRoot ? slash + 1 : slash);
}
}
