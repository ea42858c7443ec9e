// Any piece, any group size: the group chaining values combine to exactly the hash the BLAKE3
// library gives the whole piece, and a changed group changes the combined hash. The first
// input byte picks the group size (1 KiB to 128 KiB), the rest is the piece.
#include "vfs/PieceTree.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
    {
        return 0;
    }
    const std::uint64_t groupSize = Vfs::kChunkSize << (data[0] % 8);
    const std::span<const std::uint8_t> piece(data + 1, size - 1);
    auto groups = Vfs::GroupChainingValues(piece, groupSize);
    if (groups.size() != (Vfs::GroupCount(piece.size(), groupSize) < 2 ? 0 : Vfs::GroupCount(piece.size(), groupSize)))
    {
        std::abort();
    }
    if (groups.empty())
    {
        return 0;
    }
    if (Vfs::PieceHashFromGroups(groups) != Vfs::PieceHash(piece))
    {
        std::abort();
    }
    groups[data[0] % groups.size()][data[1] % 32] ^= 1;
    if (Vfs::PieceHashFromGroups(groups) == Vfs::PieceHash(piece))
    {
        std::abort();
    }
    return 0;
}
