// Whole-file reading and writing for small files (settings, journal, state), UTF-8 paths.
#pragma once

#ifdef _WIN32
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

// The file's bytes. A missing file (or missing folder) is the error code 2 (or 3) so that
// callers can tell "absent" from "unreadable"; the error value is the Windows error number.
[[nodiscard]] std::expected<std::string, unsigned long> ReadWholeFile(std::string_view path);

// Creates or truncates the file, writes the bytes and flushes them to the disk.
// The error value is the Windows error number.
[[nodiscard]] std::expected<void, unsigned long> WriteWholeFile(std::string_view path, std::span<const char> bytes);

// The path exists, is a folder, and is neither a symbolic link nor a junction. A reparse
// point whose tag Windows does not name (0, as Wine reports its links) counts as a link.
[[nodiscard]] bool IsPlainFolder(std::string_view path);
#endif
