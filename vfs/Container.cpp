#include "vfs/Container.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

namespace Vfs
{
bool CheckContainerHeader(const SIndex& index, std::uint16_t container, std::span<const std::uint8_t> head,
    std::string& error)
{
    if (container >= index.containers.size() || head.size() < kContainerHeaderSize)
    {
        error = "no such container, or a header shorter than 64 bytes";
        return false;
    }
    const SContainer& record = index.containers[container];
    const bool zero = std::all_of(head.begin() + 48, head.begin() + 64, [](std::uint8_t b) { return b == 0; });
    if (std::memcmp(head.data(), "QMVFSPAK", 8) != 0 || head[8] != 2 || head[9] != 0 || head[12] != 0 ||
        head[13] != 0 || head[14] != 0 || head[15] != 0 || !zero)
    {
        error = fmt::format("{}: not a container of major {}", ContainerName(record), 2);
        return false;
    }
    if (std::memcmp(head.data() + 16, record.identity.data(), record.identity.size()) == 0)
    {
        return true;
    }
    error = fmt::format("{}: another container under its name", ContainerName(record));
    return false;
}

bool CheckPiece(const SIndex& index, std::size_t container, std::uint64_t piece,
    std::span<const std::uint8_t> bytes) noexcept
{
    if (container >= index.containers.size() || container >= index.pieceBases.size() ||
        piece >= PieceCount(index.containers[container].size))
    {
        return false;
    }
    const std::uint64_t entry = index.pieceBases[container] + piece;
    if (entry >= index.pieceHashes.size())
    {
        return false;
    }
    return PieceHash(bytes) == index.pieceHashes[static_cast<std::size_t>(entry)];
}

std::array<std::uint8_t, kContainerHeaderSize> ContainerHeader(const SContainer& container) noexcept
{
    std::array<std::uint8_t, kContainerHeaderSize> header{};
    std::memcpy(header.data(), "QMVFSPAK", 8);
    header[8] = 2;
    std::copy(container.identity.begin(), container.identity.end(), header.begin() + 16);
    return header;
}

std::vector<std::uint8_t> CheckContainer(const SIndex& index, std::uint16_t container, IReadAt& file,
    ICheckProgress& progress)
{
    if (container >= index.containers.size())
    {
        return {};
    }
    const std::uint64_t size = index.containers[container].size;
    const std::uint64_t pieces = PieceCount(size);
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(pieces), 0);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(size, kPieceSize)));
    for (std::uint64_t p = 0; p < pieces && !progress.StopRequested(); ++p)
    {
        const std::uint64_t offset = p * kPieceSize;
        const std::size_t length = static_cast<std::size_t>(std::min(kPieceSize, size - offset));
        const std::span<std::uint8_t> piece(buffer.data(), length);
        if (file.ReadAt(offset, piece) == length)
        {
            flags[static_cast<std::size_t>(p)] = CheckPiece(index, container, p, piece) ? 1 : 0;
        }
        progress.PieceDone(length);
    }
    return flags;
}
}
