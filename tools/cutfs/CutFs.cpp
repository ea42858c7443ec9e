#include "tools/cutfs/CutFs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace CutFs
{
namespace
{
// The bytes of an open file, read through a descriptor of its own (the one given may be
// open for writing only).
[[nodiscard]] std::string ReadAll(int given)
{
    const int fd = open(("/proc/self/fd/" + std::to_string(given)).c_str(), O_RDONLY);
    if (fd < 0)
    {
        return {};
    }
    std::string bytes;
    char buffer[1 << 16];
    for (off_t at = 0;;)
    {
        const ssize_t got = pread(fd, buffer, sizeof(buffer), at);
        if (got <= 0)
        {
            close(fd);
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
}

[[nodiscard]] std::string ReadAll(const fs::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    std::string bytes = fd < 0 ? std::string() : ReadAll(fd);
    if (fd >= 0)
    {
        close(fd);
    }
    return bytes;
}

[[nodiscard]] int Errno(int result) noexcept
{
    return result < 0 ? -errno : 0;
}

[[nodiscard]] bool Inside(const std::string& path, const std::string& folder)
{
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}
}

void Apply(Names& names, const SOp& op)
{
    switch (op.kind)
    {
    case EOp::Create:
        names[op.path] = {false, op.id};
        break;
    case EOp::Mkdir:
        names[op.path] = {true, 0};
        break;
    case EOp::Unlink:
    case EOp::Rmdir:
        names.erase(op.path);
        break;
    case EOp::Rename: {
        const auto source = names.find(op.path);
        if (source == names.end() || op.path == op.to)
        {
            break;
        }
        Names moved;
        for (auto it = source; it != names.end() && (it->first == op.path || Inside(it->first, op.path));)
        {
            moved[op.to + it->first.substr(op.path.size())] = it->second;
            it = names.erase(it);
        }
        std::erase_if(names, [&](const auto& entry) { return entry.first == op.to || Inside(entry.first, op.to); });
        names.merge(moved);
        break;
    }
    case EOp::Resize:
        break;
    }
}

CCutFs::CCutFs(fs::path backing, std::uint64_t seed)
    : m_backing(std::move(backing)), m_aside(m_backing.string() + ".qmcut"), m_random(seed)
{
    Commit();
}

void CCutFs::Commit()
{
    std::error_code ignored;
    fs::remove_all(m_aside, ignored);
    fs::create_directories(m_aside / "files", ignored);
    m_names.clear();
    m_files.clear();
    m_ops.clear();
    m_floor = 0;
    for (auto it = fs::recursive_directory_iterator(m_backing, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
    {
        const std::string path = "/" + fs::relative(it->path(), m_backing).generic_string();
        const bool folder = it->is_directory(ignored);
        m_names[path] = {folder, folder ? 0 : m_nextId++};
        if (!folder)
        {
            m_files[m_names[path].id];
        }
    }
    m_committed = m_names;
    m_frozen = false;
}

std::optional<std::uint64_t> CCutFs::IdOf(const std::string& path) const
{
    const auto found = m_names.find(path);
    if (found == m_names.end() || found->second.folder)
    {
        return std::nullopt;
    }
    return found->second.id;
}

fs::path CCutFs::Where(std::uint64_t id) const
{
    const SFile& file = m_files.at(id);
    if (file.aside)
    {
        return *file.aside;
    }
    for (const auto& [path, entry] : m_names)
    {
        if (!entry.folder && entry.id == id)
        {
            return Backing(path);
        }
    }
    return {};
}

void CCutFs::Record(SOp op)
{
    Apply(m_names, op);
    m_ops.push_back(std::move(op));
}

// A deleted or replaced file keeps its bytes aside: the crash state may still hold it.
void CCutFs::SetAside(const std::string& path)
{
    const auto id = IdOf(path);
    if (!id)
    {
        return;
    }
    const fs::path aside = m_aside / "files" / std::to_string(*id);
    if (rename(Backing(path).c_str(), aside.c_str()) == 0)
    {
        m_files[*id].aside = aside;
    }
}

// Before a file first changes after its last flush: its flushed bytes.
void CCutFs::Before(std::uint64_t id, int fd)
{
    SFile& file = m_files[id];
    if (!file.flushed)
    {
        file.flushed = ReadAll(fd);
    }
}

int CCutFs::Create(const std::string& path)
{
    if (IdOf(path))
    {
        return 0; // it was there: opened, not created
    }
    const std::uint64_t id = m_nextId++;
    m_files[id].flushed = std::string();
    Record({EOp::Create, path, {}, id});
    return 0;
}

int CCutFs::Mkdir(const std::string& path, unsigned mode)
{
    if (const int result = Errno(mkdir(Backing(path).c_str(), mode)); result != 0)
    {
        return result;
    }
    Record({EOp::Mkdir, path, {}, 0});
    return 0;
}

int CCutFs::Rename(const std::string& from, const std::string& to, unsigned flags)
{
    if (flags != 0 && flags != RENAME_NOREPLACE)
    {
        return -EINVAL;
    }
    struct stat target{};
    const bool exists = lstat(Backing(to).c_str(), &target) == 0;
    if (exists && flags == RENAME_NOREPLACE)
    {
        return -EEXIST;
    }
    const auto replaced = exists && !S_ISDIR(target.st_mode) ? IdOf(to) : std::nullopt;
    if (replaced)
    {
        // The replaced file's bytes move aside first; if the rename then fails they come back.
        SetAside(to);
    }
    if (const int result = Errno(rename(Backing(from).c_str(), Backing(to).c_str())); result != 0)
    {
        if (replaced)
        {
            (void)rename(m_files[*replaced].aside->c_str(), Backing(to).c_str());
            m_files[*replaced].aside.reset();
        }
        return result;
    }
    Record({EOp::Rename, from, to, 0});
    return 0;
}

int CCutFs::Unlink(const std::string& path)
{
    struct stat status{};
    if (lstat(Backing(path).c_str(), &status) != 0)
    {
        return -errno;
    }
    if (S_ISDIR(status.st_mode))
    {
        return -EISDIR;
    }
    SetAside(path);
    if (const int result = Errno(unlink(Backing(path).c_str())); result != 0 && result != -ENOENT)
    {
        return result;
    }
    Record({EOp::Unlink, path, {}, 0});
    return 0;
}

int CCutFs::Rmdir(const std::string& path)
{
    if (const int result = Errno(rmdir(Backing(path).c_str())); result != 0)
    {
        return result;
    }
    Record({EOp::Rmdir, path, {}, 0});
    return 0;
}

int CCutFs::Resize(std::uint64_t id, int fd, std::uint64_t size)
{
    Before(id, fd);
    if (const int result = Errno(ftruncate(fd, static_cast<off_t>(size))); result != 0)
    {
        return result;
    }
    m_files[id].events.push_back(SResize{size, m_ops.size()});
    m_ops.push_back({EOp::Resize, {}, {}, id});
    return 0;
}

int CCutFs::Write(std::uint64_t id, int fd, const char* bytes, std::size_t size, std::uint64_t offset)
{
    Before(id, fd);
    const ssize_t written = pwrite(fd, bytes, size, static_cast<off_t>(offset));
    if (written < 0)
    {
        return -errno;
    }
    m_files[id].events.push_back(SWrite{offset, std::string(bytes, static_cast<std::size_t>(written))});
    return static_cast<int>(written);
}

int CCutFs::Flush(std::uint64_t id, int fd)
{
    if (fsync(fd) != 0)
    {
        return -errno;
    }
    SFile& file = m_files[id];
    file.flushed = ReadAll(fd);
    file.events.clear();
    m_floor = m_ops.size();
    return 0;
}

int CCutFs::FlushFolder()
{
    m_floor = m_ops.size();
    return 0;
}

std::string CCutFs::CrashBytes(std::uint64_t id, std::size_t kept, SCutOutcome& outcome)
{
    const SFile& file = m_files.at(id);
    if (!file.flushed)
    {
        return ReadAll(Where(id));
    }
    std::string bytes = *file.flushed;
    for (const Event& event : file.events)
    {
        if (const auto* resize = std::get_if<SResize>(&event))
        {
            if (resize->op < kept)
            {
                bytes.resize(resize->size, '\0');
            }
            continue;
        }
        const SWrite& write = std::get<SWrite>(event);
        const std::size_t end = write.offset + write.bytes.size();
        bytes.resize(std::max(bytes.size(), end), '\0'); // where the file grew: zeros unless kept
        ++outcome.writes;
        if (std::uniform_int_distribution<int>(0, 1)(m_random) == 1)
        {
            bytes.replace(write.offset, write.bytes.size(), write.bytes);
        }
        else
        {
            ++outcome.lost;
        }
    }
    return bytes;
}

std::optional<SCutOutcome> CCutFs::Restore()
{
    SCutOutcome outcome;
    outcome.ops = m_ops.size();
    outcome.floor = m_floor;
    outcome.kept = std::uniform_int_distribution<std::size_t>(m_floor, m_ops.size())(m_random);
    Names names = m_committed;
    for (std::size_t i = 0; i < outcome.kept; ++i)
    {
        Apply(names, m_ops[i]);
    }
    const fs::path staging = m_aside / "staging";
    std::error_code error;
    fs::create_directories(staging, error);
    for (const auto& [path, entry] : names)
    {
        const fs::path at = staging.string() + path;
        if (entry.folder)
        {
            fs::create_directories(at, error);
            continue;
        }
        fs::create_directories(at.parent_path(), error);
        const std::string bytes = CrashBytes(entry.id, outcome.kept, outcome);
        std::ofstream(at, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        fs::last_write_time(at, fs::last_write_time(Where(entry.id), error), error);
        ++outcome.files;
        if (error)
        {
            return std::nullopt;
        }
    }
    for (const auto& entry : fs::directory_iterator(m_backing))
    {
        fs::remove_all(entry.path(), error);
    }
    for (const auto& entry : fs::directory_iterator(staging))
    {
        fs::rename(entry.path(), m_backing / entry.path().filename(), error);
    }
    if (error)
    {
        return std::nullopt;
    }
    Commit();
    return outcome;
}
}
