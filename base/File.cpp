#include "base/File.h"

#include "base/Handle.h"
#include "base/Path.h"
#include "base/Text.h"

#include <fmt/format.h>

#include <shlobj.h>

#include <algorithm>
#include <climits>

namespace File
{

std::expected<std::string, unsigned long> ReadWhole(std::string_view path, std::uint64_t maxSize)
{
    const std::wstring wide = Text::Utf8ToWide(path);
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
            return std::unexpected(ERROR_HANDLE_EOF); // the file shrank while we read it
        }
        done += read;
    }
    return bytes;
}

namespace
{
// Writes all the bytes to the open file from its start and flushes them to the disk.
[[nodiscard]] std::expected<void, unsigned long> WriteAllAndFlush(HANDLE file, std::span<const char> bytes)
{
    SetLastError(ERROR_SUCCESS);
    if (!WriteAt(file, 0, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())))
    {
        // A write that moved nothing has no error of its own.
        const DWORD error = GetLastError();
        return std::unexpected(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    }
    if (!FlushFileBuffers(file))
    {
        return std::unexpected(GetLastError());
    }
    return {};
}
}

std::expected<void, unsigned long> WriteWhole(std::string_view path, std::span<const char> bytes)
{
    const std::wstring wide = Text::Utf8ToWide(path);
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
    return WriteAllAndFlush(file.get(), bytes);
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
    const std::wstring wide = Text::Utf8ToWide(path);
    const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           !IsLink(wide, attributes);
}

std::optional<std::string> LinkOnTheWay(std::string_view path, std::size_t from)
{
    for (std::size_t end = path.find_first_of("/\\", from); end != std::string_view::npos;
         end = path.find_first_of("/\\", end + 1))
    {
        const std::wstring wide = Text::Utf8ToWide(path.substr(0, end));
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

bool WriteAtomically(std::string_view path, std::span<const char> bytes)
{
    const std::string temporary = std::string(path) + ".tmp";
    const std::wstring wide = Text::Utf8ToWide(temporary);
    if (wide.empty())
    {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // A left-over ".tmp", or a link planted at its name, goes (a link itself, never what it
    // points at); the new one is then made afresh, so a link that comes back in between
    // fails the create instead of being followed. Nobody else opens it while it is written.
    DeleteFileW(wide.c_str());
    {
        const UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
        if (!file)
        {
            return false;
        }
        if (const auto written = WriteAllAndFlush(file.get(), bytes); !written)
        {
            SetLastError(written.error());
            return false;
        }
    }
    return MoveReplacing(temporary, path);
}

bool MoveReplacing(std::string_view from, std::string_view to)
{
    const std::wstring wideFrom = Text::Utf8ToWide(from);
    const std::wstring wideTo = Text::Utf8ToWide(to);
    if (wideFrom.empty() || wideTo.empty())
    {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        return false;
    }
    // Write-through also where the flag is ignored (Wine renames and returns at once): a flush
    // of the moved file commits the file system's journal, and the move with it, before the
    // caller goes on. A file that cannot be opened for writing (a running launcher) keeps what
    // the flag gave; the next flush of any file commits the move.
    const UniqueHandle moved(CreateFileW(wideTo.c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (moved)
    {
        (void)FlushFileBuffers(moved.get());
    }
    return true;
}

bool ReadAt(void* file, std::uint64_t offset, std::span<std::uint8_t> out) noexcept
{
    while (!out.empty())
    {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size(), 1u << 30));
        DWORD read = 0;
        if (!ReadFile(file, out.data(), want, &read, &at) || read == 0)
        {
            return false;
        }
        out = out.subspan(read);
        offset += read;
    }
    return true;
}

bool WriteAt(void* file, std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept
{
    while (!bytes.empty())
    {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), want, &written, &at) || written == 0)
        {
            return false;
        }
        bytes = bytes.subspan(written);
        offset += written;
    }
    return true;
}

namespace
{
// Calls visit(data) for every entry of the folder but "." and ".."; the Windows error that
// ended the listing, ERROR_NO_MORE_FILES when it ran to its end.
template <typename Visit>
DWORD ForEachEntry(const std::wstring& folder, Visit&& visit)
{
    WIN32_FIND_DATAW data{};
    const UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
    {
        return GetLastError();
    }
    do
    {
        const std::wstring_view name = data.cFileName;
        if (name != L"." && name != L"..")
        {
            visit(data);
        }
    } while (FindNextFileW(find.get(), &data));
    return GetLastError();
}

// Whether the entry at path is a link or a junction, asked twice: of the handle that opened
// the entry itself, and of the path (Wine opens the target of its links whatever the flags
// say, and shows the link only in the path's attributes).
[[nodiscard]] bool OpenedALink(HANDLE entry, const std::wstring& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(entry, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        return true;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || IsLink(path, attributes);
}

// The wide-path side of RemoveTree. The folder is opened without following a link and held
// without delete sharing while its entries go, so nobody can rename it away and swap a link
// into its place between the check and the listing; a link found there is removed itself.
void RemoveWideTree(const std::wstring& folder)
{
    {
        const UniqueHandle pinned(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (pinned && !OpenedALink(pinned.get(), folder))
        {
            (void)ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
                const std::wstring path = folder + L"\\" + entry.cFileName;
                const DWORD attributes = entry.dwFileAttributes;
                if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_READONLY)
                {
                    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
                }
                if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                {
                    RemoveWideTree(path); // which checks again, on what it opens
                }
                else
                {
                    DeleteFileW(path.c_str()); // a link swapped in goes itself
                }
            });
        }
    }
    // The emptied folder, or the link itself when it is one, never what it points at.
    RemoveDirectoryW(folder.c_str());
}
}

std::expected<std::vector<SFolderEntry>, unsigned long> ListFolder(std::string_view folder)
{
    const std::wstring wide = Text::Utf8ToWide(folder);
    if (wide.empty())
    {
        return std::unexpected(ERROR_INVALID_NAME);
    }
    std::vector<SFolderEntry> entries;
    const DWORD error = ForEachEntry(wide, [&](const WIN32_FIND_DATAW& data) {
        std::string name = Text::WideToUtf8(data.cFileName);
        if (!name.empty())
        {
            entries.push_back({std::move(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
        }
    });
    if (error != ERROR_NO_MORE_FILES)
    {
        return std::unexpected(error);
    }
    return entries;
}

void RemoveTree(std::string_view folder)
{
    const std::wstring wide = Text::Utf8ToWide(folder);
    if (!wide.empty())
    {
        RemoveWideTree(wide);
    }
}

void CreateParentFolders(std::string_view path)
{
    const std::wstring wide = Text::Utf8ToWide(path);
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

bool Exists(std::string_view path)
{
    const std::wstring wide = Text::Utf8ToWide(path);
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
            return Text::WideToUtf8(path);
        }
        if (path.size() >= 32768) // the longest path Windows has
        {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

std::string RunningExecutableFolder()
{
    std::string folder(Path::FolderOf(RunningExecutablePath()));
    if (!folder.empty() && folder.back() != '\\')
    {
        folder += '\\';
    }
    return folder;
}

std::string GameDataFolder()
{
    wchar_t path[MAX_PATH]{};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
    {
        return {};
    }
    const std::string folder = Text::WideToUtf8(path);
    if (folder.empty())
    {
        return {};
    }
    return fmt::format("{}\\{}\\", folder, "Quillmere\\Game");
}
}
