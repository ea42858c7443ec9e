// qmcutfs: a pass-through file system that can lose power.
//
// Every operation goes through to a backing folder at once, as on a disk whose cache never
// fails. Beside it the file system keeps what a power cut could still take away:
//   - the metadata operations (create, make folder, rename, delete, remove folder, change of
//     size) in the order they happened, one sequence for the whole volume;
//   - per file, its bytes at its last flush (fsync, which Wine's FlushFileBuffers becomes) and
//     every write and change of size since, in order.
// A cut freezes it: from then on every operation fails with EIO until the crash state is laid
// down. That state is what a journaled file system would bring back after the power came back:
//   - the metadata operations survive as a prefix of their sequence, of random length, but
//     at least up to the last flush of any file or folder: a flush commits the volume's
//     journal up to it;
//   - every file starts from its bytes at its last flush (or as it was when it was first
//     seen); each later write is, at random, kept or lost: a lost write leaves the old bytes
//     where the file had them and zeros where the write made the file grow; a change of size
//     counts when its metadata operation is inside the surviving prefix;
//   - a file's last-write time is the one it had at the cut, whatever happened to its bytes
//     (the time lives in the file's record, which the journal may well have kept).
// The crash state replaces the backing folder's content in place (staged beside it, in
// BACKING.qmcut), and the file system then starts again with it as its committed state.
//
// Where NTFS may do better: it orders a file's data writes behind its size changes (a lost
// write past the valid data length reads as zeros, as here, but NTFS never keeps a later
// write while losing an earlier one to the same bytes; here each write is drawn alone), and
// it flushes its log every few seconds on its own, so the surviving prefix is usually longer.
// Where it may do worse: a flush of one file commits its data and the log, but a cut in the
// middle of a write may tear it at a sector (here a write is whole or lost), and a disk that
// lies about its cache may lose even flushed data, which no program can defend against.
//
// Controls: stat of "/.qmcut-cut" at the root (or SIGUSR1) cuts; stat of "/.qmcut-restore"
// lays down the crash state (it answers with a file on success); stat of "/.qmcut-sync" takes
// the backing folder as committed (after a test's set-up). Each crash state is described by
// one line in the log file given with --log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

namespace CutFs
{
namespace fs = std::filesystem;

struct SWrite
{
    std::uint64_t offset = 0;
    std::string bytes;
};
struct SResize
{
    std::uint64_t size = 0;
    std::size_t op = 0; // its place in the metadata sequence
};
using Event = std::variant<SWrite, SResize>;

enum class EOp
{
    Create,
    Mkdir,
    Rename,
    Unlink,
    Rmdir,
    Resize,
};
struct SOp
{
    EOp kind = EOp::Create;
    std::string path;
    std::string to; // Rename
    std::uint64_t id = 0; // Create
};

struct SEntry
{
    bool folder = false;
    std::uint64_t id = 0;
};
// Paths as the file system sees them ("/a/b"); the root itself is not an entry.
using Names = std::map<std::string, SEntry>;

// What one cut kept.
struct SCutOutcome
{
    std::size_t ops = 0;   // metadata operations since the committed state
    std::size_t floor = 0; // of which the last flush committed
    std::size_t kept = 0;  // of which survived
    std::size_t writes = 0;
    std::size_t lost = 0;
    std::size_t files = 0;
};

// The pass-through and its record. Each method does the backing operation and returns 0 or a
// negative errno, as FUSE wants; paths are the file system's own.
class CCutFs
{
public:
    CCutFs(fs::path backing, std::uint64_t seed);

    // Takes the backing folder as the committed state.
    void Commit();
    void Freeze() noexcept { m_frozen = true; }
    [[nodiscard]] bool Frozen() const noexcept { return m_frozen; }
    // Lays the crash state into the backing folder, commits it and thaws.
    [[nodiscard]] std::optional<SCutOutcome> Restore();

    [[nodiscard]] std::string Backing(const std::string& path) const { return m_backing.string() + path; }
    [[nodiscard]] std::optional<std::uint64_t> IdOf(const std::string& path) const;

    int Create(const std::string& path);
    int Mkdir(const std::string& path, unsigned mode);
    int Rename(const std::string& from, const std::string& to, unsigned flags);
    int Unlink(const std::string& path);
    int Rmdir(const std::string& path);
    int Resize(std::uint64_t id, int fd, std::uint64_t size);
    int Write(std::uint64_t id, int fd, const char* bytes, std::size_t size, std::uint64_t offset);
    int Flush(std::uint64_t id, int fd);
    int FlushFolder();

private:
    struct SFile
    {
        std::optional<std::string> flushed; // none: as first seen, unchanged since
        std::vector<Event> events;
        std::optional<fs::path> aside; // where its bytes are kept once deleted or replaced
    };

    void SetAside(const std::string& path);
    void Before(std::uint64_t id, int fd);
    [[nodiscard]] fs::path Where(std::uint64_t id) const;
    [[nodiscard]] std::string CrashBytes(std::uint64_t id, std::size_t kept, SCutOutcome& outcome);
    void Record(SOp op);

    fs::path m_backing;
    fs::path m_aside;
    std::mt19937_64 m_random;
    bool m_frozen = false;
    Names m_committed;
    Names m_names;
    std::vector<SOp> m_ops;
    std::size_t m_floor = 0;
    std::map<std::uint64_t, SFile> m_files;
    std::uint64_t m_nextId = 1;
};

// Applies one metadata operation to a set of names (a rename carries a folder's whole tree).
void Apply(Names& names, const SOp& op);
}
