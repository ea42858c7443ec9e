#include "shell/File.h"

#include "shell/Handle.h"
#include "shell/Text.h"

#include <fmt/format.h>

#include <shlobj.h>

#include <algorithm>
#include <climits>

std::expected<std::string, unsigned long> ReadWholeFile(std::string_view path, std::uint64_t maxSize)
{
    const std::wstring wide = Utf8ToWide(path);
    if (wide.empty())
    {
        return std::unexpected(ERROR_INVALID_NAME);
    }
    UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        return std::unexpected(GetLastError());
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
    {
        return std::unexpected(GetLastError());
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxSize || size.QuadPart > INT_MAX)
    {
        return std::unexpected(ERROR_FILE_TOO_LARGE);
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size())
    {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr))
        {
            return std::unexpected(GetLastError());
        }
        if (read == 0)
        {
            break; // the file shrank while we read it
        }
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

std::expected<void, unsigned long> WriteWholeFile(std::string_view path, std::span<const char> bytes)
{
    const std::wstring wide = Utf8ToWide(path);
    if (wide.empty())
    {
        return std::unexpected(ERROR_INVALID_NAME);
    }
    UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        return std::unexpected(GetLastError());
    }
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
        {
            return std::unexpected(GetLastError());
        }
        done += written;
    }
    if (!FlushFileBuffers(file.get()))
    {
        return std::unexpected(GetLastError());
    }
    return {};
}

namespace
{
// A path with these attributes is a symbolic link or a junction: a reparse point whose tag
// says so, or whose tag Windows does not name (0, as Wine reports its links).
[[nodiscard]] bool IsLink(const std::wstring& path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    {
        return false;
    }
    WIN32_FIND_DATAW data{};
    if (!UniqueFind(FindFirstFileW(path.c_str(), &data)))
    {
        return true;
    }
    const DWORD tag = data.dwReserved0;
    return tag == 0 || tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}
}

bool IsPlainFolder(std::string_view path)
{
    const std::wstring wide = Utf8ToWide(path);
    const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           !IsLink(wide, attributes);
}

std::optional<std::string> LinkOnTheWay(std::string_view path)
{
    for (std::size_t end = path.find_first_of("/\\"); end != std::string_view::npos;
         end = path.find_first_of("/\\", end + 1))
    {
        const std::wstring wide = Utf8ToWide(path.substr(0, end));
        const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            return std::nullopt; // nothing further down exists yet
        }
        if (IsLink(wide, attributes))
        {
            return std::string(path.substr(0, end));
        }
    }
    return std::nullopt;
}

bool WriteFileAtomically(std::string_view path, std::span<const char> bytes)
{
    const std::string temporary = std::string(path) + ".tmp";
    if (!WriteWholeFile(temporary, bytes))
    {
        return false;
    }
    const std::wstring wideTemporary = Utf8ToWide(temporary);
    const std::wstring widePath = Utf8ToWide(path);
    return MoveFileExW(wideTemporary.c_str(), widePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void CreateParentFolders(std::string_view path)
{
    const std::wstring wide = Utf8ToWide(path);
    const std::size_t last = wide.find_last_of(L"\\/");
    if (last == std::wstring::npos)
    {
        return;
    }
    for (std::size_t at = wide.find_first_of(L"\\/"); at != std::wstring::npos && at <= last;
         at = wide.find_first_of(L"\\/", at + 1))
    {
        // A drive ("C:") or a leading separator is no folder to create; its error is ignored.
        if (at > 0)
        {
            CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
        }
    }
}

bool PathExists(std::string_view path)
{
    const std::wstring wide = Utf8ToWide(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string RunningExecutablePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;)
    {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
        {
            return {};
        }
        if (length < path.size())
        {
            path.resize(length);
            return WideToUtf8(path);
        }
        if (path.size() >= 32768) // the longest path Windows has
        {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

std::string GameDataFolder()
{
    wchar_t path[MAX_PATH]{};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
    {
        return {};
    }
    const std::string folder = WideToUtf8(path);
    if (folder.empty())
    {
        return {};
    }
    return fmt::format("{}\\{}\\", folder, "Quillmere\\Game");
}
