// Files and folders with UTF-8 paths: whole-file reading and writing for small files
// (settings, journal, state), the atomic write, reading and writing at offsets, listing and
// removing folders, and the folders the launcher lives in.
#pragma once

#ifdef _WIN32
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace File
{

// The file's bytes. A missing file (or missing folder) is the error code 2 (or 3) so that
// callers can tell "absent" from "unreadable"; the error value is the Windows error number,
// ERROR_FILE_TOO_LARGE (223) for a file above maxSize, ERROR_HANDLE_EOF (38) for a file
// that ends before the size it had when opened.
[[nodiscard]] std::expected<std::string, unsigned long> ReadWhole(std::string_view path,
                                                                      std::uint64_t maxSize = 0x7FFFFFFF);

// Creates or truncates the file, writes the bytes and flushes them to the disk.
// The error value is the Windows error number.
[[nodiscard]] std::expected<void, unsigned long> WriteWhole(std::string_view path, std::span<const char> bytes);

// The atomic file write: writes path + ".tmp", made afresh (a link at that name is removed,
// never followed) and open to nobody else while it is written, flushes it to the disk and
// renames it over path (replacing, write-through). On failure the old file is as it was, the
// ".tmp" file may be left behind, and GetLastError tells why.
[[nodiscard]] bool WriteAtomically(std::string_view path, std::span<const char> bytes);

// Renames `from` to `to`, replacing a file there, and returns once the change is on the disk
// (MoveFileExW, replace and write-through, then a flush of the moved file, which commits the
// move where the flag is ignored). On failure GetLastError tells why.
[[nodiscard]] bool MoveReplacing(std::string_view from, std::string_view to);

// Reads `out.size()` bytes of an open file (a HANDLE) at offset; false when a read fails or
// the file ends first. Needs no file pointer, so threads may share the handle.
[[nodiscard]] bool ReadAt(void* file, std::uint64_t offset, std::span<std::uint8_t> out) noexcept;

// Writes all the bytes to an open file (a HANDLE) at offset; false when a write fails.
[[nodiscard]] bool WriteAt(void* file, std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept;

// One entry of a folder, as listing it tells.
struct SFolderEntry
{
    std::string name; // UTF-8, without the folder
    bool folder = false;
    bool link = false; // a reparse point: a symbolic link or a junction
};

// The entries of a folder, without "." and "..". An entry whose name is not valid UTF-16 is
// left out. The error value is the Windows error number (2 or 3 for a missing folder).
[[nodiscard]] std::expected<std::vector<SFolderEntry>, unsigned long> ListFolder(std::string_view folder);

// Deletes the folder with everything below it. Links and junctions are removed themselves,
// never followed, the folder's own included, also one swapped in for a folder while the
// removal runs; read-only files are made writable first. Failures are ignored: whatever
// could not go stays.
void RemoveTree(std::string_view folder);

// Creates every missing folder of the path's part before its last "/" or "\".
void CreateParentFolders(std::string_view path);

// The per-user game data folder, "<local application data>\Quillmere\Game\" in UTF-8, or
// empty when Windows cannot name it (the launcher's folder is used then). The settings file
// and the patch state live there.
[[nodiscard]] std::string GameDataFolder();

// The path names something on disk (a file, a folder or a link).
[[nodiscard]] bool Exists(std::string_view path);

// The path exists, is a folder, and is neither a symbolic link nor a junction. A reparse
// point whose tag Windows does not name (0, as Wine reports its links) counts as a link.
[[nodiscard]] bool IsPlainFolder(std::string_view path);

// The first folder on the path's way (each part before a "/" or "\\") that is a symbolic link
// or a junction, as the path writes it; nothing when there is none. Whoever writes below a
// folder it owns refuses a path for which this names a folder. With `from`, only the folders
// whose path is at least that long are looked at: path.substr(0, from) names the owned
// folder, which is looked at itself, and what lies above it is taken as it is.
[[nodiscard]] std::optional<std::string> LinkOnTheWay(std::string_view path, std::size_t from = 0);

// The running executable's full path, and its folder with the trailing separator; empty when
// Windows cannot name it.
[[nodiscard]] std::string RunningExecutablePath();
[[nodiscard]] std::string RunningExecutableFolder();
}
#endif
