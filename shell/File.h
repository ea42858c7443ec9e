// Files and folders with UTF-8 paths: whole-file reading and writing for small files
// (settings, journal, state), the atomic write, and the per-user game data folder.
#pragma once

#ifdef _WIN32
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The file's bytes. A missing file (or missing folder) is the error code 2 (or 3) so that
// callers can tell "absent" from "unreadable"; the error value is the Windows error number,
// ERROR_FILE_TOO_LARGE (223) for a file above maxSize.
[[nodiscard]] std::expected<std::string, unsigned long> ReadWholeFile(std::string_view path,
                                                                      std::uint64_t maxSize = 0x7FFFFFFF);

// Creates or truncates the file, writes the bytes and flushes them to the disk.
// The error value is the Windows error number.
[[nodiscard]] std::expected<void, unsigned long> WriteWholeFile(std::string_view path, std::span<const char> bytes);

// The atomic file write: writes path + ".tmp", flushes it to the disk and renames it over
// path (replacing, write-through). On failure the old file is as it was; the ".tmp" file may
// be left behind.
[[nodiscard]] bool WriteFileAtomically(std::string_view path, std::span<const char> bytes);

// Creates every missing folder of the path's part before its last "/" or "\".
void CreateParentFolders(std::string_view path);

// The per-user game data folder, "<local application data>\Quillmere\Game\" in UTF-8, or
// empty when Windows cannot name it (the launcher's folder is used then). The settings file
// and the patch state live there.
[[nodiscard]] std::string GameDataFolder();

// The path names something on disk (a file, a folder or a link).
[[nodiscard]] bool PathExists(std::string_view path);

// The path exists, is a folder, and is neither a symbolic link nor a junction. A reparse
// point whose tag Windows does not name (0, as Wine reports its links) counts as a link.
[[nodiscard]] bool IsPlainFolder(std::string_view path);

// The first folder on the path's way (each part before a "/" or "\\") that is a symbolic link
// or a junction, as the path writes it; nothing when there is none. Whoever writes below a
// folder it owns refuses a path for which this names a folder.
[[nodiscard]] std::optional<std::string> LinkOnTheWay(std::string_view path);

// The running executable's full path; empty when Windows cannot name it.
[[nodiscard]] std::string RunningExecutablePath();
#endif
