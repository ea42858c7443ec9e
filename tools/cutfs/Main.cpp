// qmcutfs BACKING MOUNT [--seed N] [--log FILE] [FUSE options]: mounts the pass-through file
// system that can lose power (CutFs.h) and serves it in the foreground on one thread until it
// is unmounted.
#define FUSE_USE_VERSION 35
#include "tools/cutfs/CutFs.h"

#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>

namespace
{
std::unique_ptr<CutFs::CCutFs> g_fs;
std::map<int, std::uint64_t> g_open; // backing descriptor to file
std::atomic<bool> g_signalled{false};
std::string g_log;
int g_cuts = 0;

CutFs::CCutFs& Fs()
{
    if (g_signalled.exchange(false))
    {
        g_fs->Freeze();
    }
    return *g_fs;
}

void Control(std::string_view path, struct stat* status, int& result)
{
    if (path == "/.qmcut-cut")
    {
        Fs().Freeze();
        result = -ENOENT;
        return;
    }
    if (path == "/.qmcut-sync")
    {
        Fs().Commit();
    }
    else if (Fs().Frozen())
    {
        const auto outcome = Fs().Restore();
        if (!outcome)
        {
            result = -EIO;
            return;
        }
        std::ofstream(g_log, std::ios::app) << "cut " << ++g_cuts << " ops " << outcome->ops << " floor "
                                            << outcome->floor << " kept " << outcome->kept << " writes "
                                            << outcome->writes << " lost " << outcome->lost << " files "
                                            << outcome->files << "\n";
    }
    *status = {};
    status->st_mode = S_IFREG | 0444;
    status->st_nlink = 1;
    result = 0;
}

int Getattr(const char* path, struct stat* status, fuse_file_info* info)
{
    const std::string_view name(path);
    if (name == "/.qmcut-cut" || name == "/.qmcut-restore" || name == "/.qmcut-sync")
    {
        int result = 0;
        Control(name, status, result);
        return result;
    }
    if (Fs().Frozen())
    {
        return -EIO;
    }
    const int result = info != nullptr ? fstat(static_cast<int>(info->fh), status)
                                       : lstat(Fs().Backing(path).c_str(), status);
    return result < 0 ? -errno : 0;
}

int Readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    DIR* folder = opendir(Fs().Backing(path).c_str());
    if (folder == nullptr)
    {
        return -errno;
    }
    while (const dirent* entry = readdir(folder))
    {
        struct stat status{};
        status.st_ino = entry->d_ino;
        status.st_mode = static_cast<mode_t>(entry->d_type) << 12;
        if (fill(buffer, entry->d_name, &status, 0, static_cast<fuse_fill_dir_flags>(0)) != 0)
        {
            break;
        }
    }
    closedir(folder);
    return 0;
}

// Opens the backing file and remembers which file the descriptor is.
int OpenBacking(const char* path, fuse_file_info* info, int flags, mode_t mode, bool create)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    const int fd = open(Fs().Backing(path).c_str(), flags & ~O_TRUNC, mode);
    if (fd < 0)
    {
        return -errno;
    }
    if (create)
    {
        (void)Fs().Create(path);
    }
    const auto id = Fs().IdOf(path);
    if (!id)
    {
        close(fd);
        return -EIO;
    }
    if ((flags & O_TRUNC) != 0 && !create) // a new file has nothing to cut
    {
        if (const int result = Fs().Resize(*id, fd, 0); result != 0)
        {
            close(fd);
            return result;
        }
    }
    g_open[fd] = *id;
    info->fh = static_cast<std::uint64_t>(fd);
    info->keep_cache = 0;
    return 0;
}

int Open(const char* path, fuse_file_info* info)
{
    return OpenBacking(path, info, info->flags, 0, false);
}

int Create(const char* path, mode_t mode, fuse_file_info* info)
{
    return OpenBacking(path, info, info->flags | O_CREAT, mode, true);
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    const ssize_t got = pread(static_cast<int>(info->fh), buffer, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

int Write(const char*, const char* bytes, size_t size, off_t offset, fuse_file_info* info)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    const int fd = static_cast<int>(info->fh);
    return Fs().Write(g_open.at(fd), fd, bytes, size, static_cast<std::uint64_t>(offset));
}

int Truncate(const char* path, off_t size, fuse_file_info* info)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    if (info != nullptr)
    {
        const int fd = static_cast<int>(info->fh);
        return Fs().Resize(g_open.at(fd), fd, static_cast<std::uint64_t>(size));
    }
    const auto id = Fs().IdOf(path);
    const int fd = open(Fs().Backing(path).c_str(), O_RDWR);
    if (!id || fd < 0)
    {
        if (fd >= 0)
        {
            close(fd);
        }
        return id ? -errno : -EISDIR;
    }
    const int result = Fs().Resize(*id, fd, static_cast<std::uint64_t>(size));
    close(fd);
    return result;
}

int Fsync(const char*, int, fuse_file_info* info)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    const int fd = static_cast<int>(info->fh);
    return Fs().Flush(g_open.at(fd), fd);
}

int Release(const char*, fuse_file_info* info)
{
    g_open.erase(static_cast<int>(info->fh));
    close(static_cast<int>(info->fh));
    return 0;
}

int Fsyncdir(const char*, int, fuse_file_info*)
{
    return Fs().Frozen() ? -EIO : Fs().FlushFolder();
}

int Mkdir(const char* path, mode_t mode)
{
    return Fs().Frozen() ? -EIO : Fs().Mkdir(path, mode);
}

int Unlink(const char* path)
{
    return Fs().Frozen() ? -EIO : Fs().Unlink(path);
}

int Rmdir(const char* path)
{
    return Fs().Frozen() ? -EIO : Fs().Rmdir(path);
}

int Rename(const char* from, const char* to, unsigned flags)
{
    return Fs().Frozen() ? -EIO : Fs().Rename(from, to, flags);
}

int Chmod(const char* path, mode_t mode, fuse_file_info*)
{
    return Fs().Frozen() ? -EIO : (chmod(Fs().Backing(path).c_str(), mode) < 0 ? -errno : 0);
}

int Utimens(const char* path, const timespec times[2], fuse_file_info*)
{
    if (Fs().Frozen())
    {
        return -EIO;
    }
    return utimensat(AT_FDCWD, Fs().Backing(path).c_str(), times, AT_SYMLINK_NOFOLLOW) < 0 ? -errno : 0;
}

int Statfs(const char* path, struct statvfs* status)
{
    return statvfs(Fs().Backing(path).c_str(), status) < 0 ? -errno : 0;
}

void* Init(fuse_conn_info*, fuse_config* config)
{
    // Nothing cached by the kernel: a crash state laid down underneath is seen at once.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->hard_remove = 1; // an open file that is deleted is not renamed to a hidden name
    config->kernel_cache = 0;
    return nullptr;
}

int Usage()
{
    std::fputs("usage: qmcutfs BACKING MOUNT [--seed N] [--log FILE] [FUSE options]\n", stderr);
    return 2;
}
}

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        return Usage();
    }
    std::uint64_t seed = 1;
    std::vector<char*> fuseArgs{argv[0], argv[2], const_cast<char*>("-f"), const_cast<char*>("-s")};
    for (int i = 3; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        if (arg == "--seed" && i + 1 < argc)
        {
            seed = std::strtoull(argv[++i], nullptr, 10);
        }
        else if (arg == "--log" && i + 1 < argc)
        {
            g_log = argv[++i];
        }
        else
        {
            fuseArgs.push_back(argv[i]);
        }
    }
    char* real = realpath(argv[1], nullptr);
    if (real == nullptr)
    {
        return Usage();
    }
    g_fs = std::make_unique<CutFs::CCutFs>(real, seed);
    std::free(real);
    if (g_log.empty())
    {
        g_log = "/dev/null";
    }
    std::signal(SIGUSR1, [](int) { g_signalled = true; });

    fuse_operations operations{};
    operations.getattr = Getattr;
    operations.readdir = Readdir;
    operations.open = Open;
    operations.create = Create;
    operations.read = Read;
    operations.write = Write;
    operations.truncate = Truncate;
    operations.fsync = Fsync;
    operations.release = Release;
    operations.fsyncdir = Fsyncdir;
    operations.mkdir = Mkdir;
    operations.unlink = Unlink;
    operations.rmdir = Rmdir;
    operations.rename = Rename;
    operations.chmod = Chmod;
    operations.utimens = Utimens;
    operations.statfs = Statfs;
    operations.init = Init;
    return fuse_main(static_cast<int>(fuseArgs.size()), fuseArgs.data(), &operations, nullptr);
}
