#include "vfs/PieceTree.h"

#include <fmt/format.h>

// The library's own compression and vector hashing, declared for C only.
extern "C"
{
#include <blake3_impl.h>
}

#include <algorithm>
#include <bit>
#include <cstring>

namespace Vfs
{
namespace
{
SChainingValue FromWords(const std::uint32_t (&words)[8]) noexcept
{
    SChainingValue out{};
    for (std::size_t i = 0; i < 8; ++i)
    {
        for (std::size_t b = 0; b < 4; ++b)
        {
            out[i * 4 + b] = static_cast<std::uint8_t>(words[i] >> (8 * b));
        }
    }
    return out;
}

SChainingValue Parent(const SChainingValue& left, const SChainingValue& right, std::uint8_t flags) noexcept
{
    std::uint8_t block[BLAKE3_BLOCK_LEN];
    std::memcpy(block, left.data(), left.size());
    std::memcpy(block + left.size(), right.data(), right.size());
    std::uint32_t cv[8];
    std::memcpy(cv, IV, sizeof cv);
    blake3_compress_in_place(cv, block, BLAKE3_BLOCK_LEN, 0, static_cast<std::uint8_t>(PARENT | flags));
    return FromWords(cv);
}

// BLAKE3's tree over consecutive subtrees: the left part is the largest power of two below
// their count. `flags` go to the top node only (ROOT for a piece hash).
SChainingValue Combine(std::span<const SChainingValue> nodes, std::uint8_t flags) noexcept
{
    if (nodes.size() == 1)
    {
        return nodes[0];
    }
    const std::size_t split = std::bit_floor(nodes.size() - 1);
    return Parent(Combine(nodes.first(split), 0), Combine(nodes.subspan(split), 0), flags);
}

// Whole groups of `width` nodes each (a power of two) combined level by level, every level's
// parents many at a time with the library's vector code, as its own hasher merges them.
std::vector<SChainingValue> CombineLevels(std::vector<SChainingValue> nodes, std::size_t width)
{
    std::vector<const std::uint8_t*> pairs;
    for (; width > 1; width /= 2)
    {
        pairs.resize(nodes.size() / 2);
        for (std::size_t i = 0; i < pairs.size(); ++i)
        {
            pairs[i] = nodes[2 * i].data(); // a left node and its right neighbour: one 64-byte block
        }
        std::vector<SChainingValue> parents(pairs.size());
        blake3_hash_many(pairs.data(), pairs.size(), 1, IV, 0, false, PARENT, 0, 0, parents.data()->data());
        nodes = std::move(parents);
    }
    return nodes;
}

// Every chunk's chaining value, never as the root: the whole chunks many at a time with the
// library's vector code, a shorter last chunk block by block.
std::vector<SChainingValue> ChunkChainingValues(std::span<const std::uint8_t> piece)
{
    const std::size_t whole = piece.size() / kChunkSize;
    const std::size_t rest = piece.size() % kChunkSize;
    std::vector<SChainingValue> chunks(whole + (rest != 0 ? 1 : 0));
    std::vector<const std::uint8_t*> inputs(whole);
    for (std::size_t i = 0; i < whole; ++i)
    {
        inputs[i] = piece.data() + i * kChunkSize;
    }
    blake3_hash_many(inputs.data(), whole, kChunkSize / BLAKE3_BLOCK_LEN, IV, 0, true, 0, CHUNK_START, CHUNK_END,
        chunks.data()->data());
    if (rest != 0)
    {
        std::uint32_t cv[8];
        std::memcpy(cv, IV, sizeof cv);
        const std::uint8_t* at = piece.data() + whole * kChunkSize;
        const std::size_t blocks = (rest + BLAKE3_BLOCK_LEN - 1) / BLAKE3_BLOCK_LEN;
        for (std::size_t b = 0; b < blocks; ++b)
        {
            std::uint8_t block[BLAKE3_BLOCK_LEN]{};
            const std::size_t length = std::min<std::size_t>(BLAKE3_BLOCK_LEN, rest - b * BLAKE3_BLOCK_LEN);
            std::memcpy(block, at + b * BLAKE3_BLOCK_LEN, length);
            const auto flags = static_cast<std::uint8_t>((b == 0 ? CHUNK_START : 0) | (b + 1 == blocks ? CHUNK_END : 0));
            blake3_compress_in_place(cv, block, static_cast<std::uint8_t>(length), whole, flags);
        }
        chunks.back() = FromWords(cv);
    }
    return chunks;
}
}

std::vector<SChainingValue> GroupChainingValues(std::span<const std::uint8_t> piece, std::uint64_t groupSize)
{
    const std::uint64_t groups = GroupCount(piece.size(), groupSize);
    if (groups < 2)
    {
        return {};
    }
    std::vector<SChainingValue> chunks = ChunkChainingValues(piece);
    const std::size_t perGroup = static_cast<std::size_t>(groupSize / kChunkSize);
    if (piece.size() % groupSize == 0)
    {
        return CombineLevels(std::move(chunks), perGroup);
    }
    std::vector<SChainingValue> out;
    out.reserve(static_cast<std::size_t>(groups));
    for (std::size_t at = 0; at < chunks.size(); at += perGroup)
    {
        out.push_back(Combine(std::span(chunks).subspan(at, std::min(perGroup, chunks.size() - at)), 0));
    }
    return out;
}

std::optional<SPieceHash> PieceHashFromGroups(std::span<const SChainingValue> groups)
{
    if (groups.size() < 2)
    {
        return std::nullopt;
    }
    const SChainingValue root = Combine(groups, ROOT);
    SPieceHash hash{};
    std::copy_n(root.begin(), hash.size(), hash.begin());
    return hash;
}

SPieceHash HashPieceWithGroups(std::span<const std::uint8_t> piece, std::vector<std::uint8_t>& tree)
{
    const std::vector<SChainingValue> groups = GroupChainingValues(piece);
    for (const SChainingValue& group : groups)
    {
        tree.insert(tree.end(), group.begin(), group.end());
    }
    if (const auto hash = PieceHashFromGroups(groups))
    {
        return *hash;
    }
    const SIdentity whole = Hash256(piece);
    tree.insert(tree.end(), whole.begin(), whole.end());
    SPieceHash hash{};
    std::copy_n(whole.begin(), hash.size(), hash.begin());
    return hash;
}

std::optional<std::vector<SChainingValue>> ReadGroups(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() % kChainingValueSize != 0)
    {
        return std::nullopt;
    }
    std::vector<SChainingValue> groups(bytes.size() / kChainingValueSize);
    for (std::size_t i = 0; i < groups.size(); ++i)
    {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * kChainingValueSize), kChainingValueSize,
            groups[i].begin());
    }
    return groups;
}

std::optional<std::string> CheckTree(const SIndex& index, std::size_t container, std::span<const std::uint8_t> tree)
{
    const std::uint64_t size = index.containers[container].size;
    if (tree.size() != TreeSize(size))
    {
        return fmt::format("it holds {} bytes, not {}", tree.size(), TreeSize(size));
    }
    for (std::uint64_t piece = 0; piece < PieceCount(size); ++piece)
    {
        const std::uint64_t groups = GroupCount(std::min(kPieceSize, size - piece * kPieceSize));
        const auto values = ReadGroups(tree.subspan(static_cast<std::size_t>(TreeOffset(piece)),
            static_cast<std::size_t>(groups * kChainingValueSize)));
        const auto hash = PieceHashFromGroups(*values);
        if (hash && *hash != index.pieceHashes[index.pieceBases[container] + piece])
        {
            return fmt::format("piece {} does not lead to its hash", piece);
        }
    }
    return std::nullopt;
}
}
