// The file side of the container checks: opening, reading at offsets and listing the pack
// folder, with Windows calls on Windows and POSIX ones on the host (tools and tests).
#include "vfs/Container.h"

#include "base/Text.h"

#include <cstring>

#ifdef _WIN32
#include "base/File.h"
#include "base/Handle.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace Vfs
{
namespace
{
#ifdef _WIN32
class CFile final : public IReadAt
{
public:
    explicit CFile(std::string_view path)
    {
        const std::wstring wide = Text::Utf8ToWide(path);
        if (!wide.empty())
        {
            m_handle.reset(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        }
    }

    [[nodiscard]] bool Open() const noexcept { return m_handle.valid(); }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) noexcept override
    {
        std::size_t done = 0;
        while (done < out.size())
        {
            OVERLAPPED at{};
            const std::uint64_t position = offset + done;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
            DWORD got = 0;
            if (!ReadFile(m_handle.get(), out.data() + done, want, &got, &at) || got == 0)
            {
                break;
            }
            done += got;
        }
        return done;
    }

private:
    UniqueHandle m_handle;
};
#else
class CFile final : public IReadAt
{
public:
    explicit CFile(std::string_view path) : m_fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~CFile()
    {
        if (m_fd >= 0)
        {
            ::close(m_fd);
        }
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    [[nodiscard]] bool Open() const noexcept { return m_fd >= 0; }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) noexcept override
    {
        std::size_t done = 0;
        while (done < out.size())
        {
            const ssize_t got = ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
            {
                continue;
            }
            if (got <= 0)
            {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    int m_fd = -1;
};
#endif

// The file's header names this identity.
[[nodiscard]] bool HeaderNames(const std::string& path, const SIdentity& identity)
{
    CFile file(path);
    std::array<std::uint8_t, kContainerHeaderSize> head{};
    return file.Open() && file.ReadAt(0, head) == head.size() &&
           std::memcmp(head.data() + 16, identity.data(), identity.size()) == 0;
}
}

std::vector<std::uint8_t> CheckContainer(const SIndex& index, std::uint16_t container, std::string_view path,
    ICheckProgress& progress)
{
    CFile file(path);
    if (!file.Open())
    {
        return {};
    }
    return CheckContainer(index, container, file, progress);
}

std::expected<std::string, std::string> FindContainer(const SIdentity& identity, std::string_view packFolder)
{
    const std::string suffix = "_" + ToHex(std::span(identity).first(8)) + ".quillmerepack";
    const std::string folder(packFolder);
#ifdef _WIN32
    const auto entries = File::ListFolder(folder);
    if (!entries)
    {
        if (entries.error() == ERROR_FILE_NOT_FOUND || entries.error() == ERROR_PATH_NOT_FOUND)
        {
            return std::string();
        }
        return std::unexpected(Text::WithWindowsError(folder + " could not be listed", entries.error()));
    }
    for (const File::SFolderEntry& entry : *entries)
    {
        if (!entry.folder && entry.name.size() > suffix.size() && entry.name.ends_with(suffix) &&
            HeaderNames(folder + "/" + entry.name, identity))
        {
            return folder + "/" + entry.name;
        }
    }
    return std::string();
#else
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
    {
        if (errno == ENOENT)
        {
            return std::string();
        }
        return std::unexpected(folder + " could not be listed (" + std::strerror(errno) + ")");
    }
    std::string found;
    while (const dirent* entry = ::readdir(dir))
    {
        const std::string_view name(entry->d_name);
        if (name.ends_with(suffix) && HeaderNames(folder + "/" + std::string(name), identity))
        {
            found = folder + "/" + std::string(name);
            break;
        }
    }
    ::closedir(dir);
    return found;
#endif
}
}
