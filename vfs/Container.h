// Pack containers: their 64-byte header, the 1 MiB piece grid and its hashes, and the
// checks the patcher builds on. The launcher never reads a container's content; it only
// proves every piece against the index.
#pragma once

#include "vfs/Index.h"

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Vfs
{
// "no such container, or a header shorter than 64 bytes", "{}: not a container of major 2",
// or "{}: another container under its name" (with the container's file name); nothing
// when the header names this container. The minor version is not looked at.
[[nodiscard]] std::expected<void, std::string> CheckContainerHeader(const SIndex& index, std::uint16_t container,
    std::span<const std::uint8_t> head);

// The piece's BLAKE3 hash (16 bytes) equals the index's entry. False for a container or a
// piece the index does not have. Safe to call from several threads at once.
[[nodiscard]] bool CheckPiece(const SIndex& index, std::size_t container, std::uint64_t piece,
    std::span<const std::uint8_t> bytes) noexcept;

// The header the launcher writes for a container it assembles: magic, major 2, minor 0,
// the identity, zeros.
[[nodiscard]] std::array<std::uint8_t, kContainerHeaderSize> ContainerHeader(const SContainer& container) noexcept;

// What CheckContainer asks of its caller: whether to stop, and where the read bytes count.
class ICheckProgress
{
public:
    // Tested before every piece.
    [[nodiscard]] virtual bool StopRequested() const noexcept = 0;
    // Called after every piece with its byte count (read or not); adds atomically and may report.
    virtual void PieceDone(std::uint64_t bytes) = 0;

protected:
    ~ICheckProgress() = default;
};

// Random-access reading of a file's bytes: how many bytes were read at offset into out
// (fewer at the file's end or on an error).
class IReadAt
{
public:
    [[nodiscard]] virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) noexcept = 0;

protected:
    ~IReadAt() = default;
};

// One flag per piece of the container's recorded size: 1 when the piece reads whole and
// matches its hash. Pieces left after a stop request keep 0. The file is read on a second
// thread a few pieces ahead of the check, in at most three buffers of 1 MiB whatever the
// container's size; `file` is read from that thread alone.
[[nodiscard]] std::vector<std::uint8_t> CheckContainer(const SIndex& index, std::uint16_t container, IReadAt& file,
    ICheckProgress& progress);

// The same for a file on disk (UTF-8 path); an empty list when it cannot be opened.
[[nodiscard]] std::vector<std::uint8_t> CheckContainer(const SIndex& index, std::uint16_t container,
    std::string_view path, ICheckProgress& progress);

// The path ("{folder}/{file name}") of a container file in the pack folder whose header
// carries this identity, or an empty string when there is none (also when the folder does
// not exist). A folder that cannot be listed is an error text.
[[nodiscard]] std::expected<std::string, std::string> FindContainer(const SIdentity& identity,
    std::string_view packFolder = "Client/pack");
}
