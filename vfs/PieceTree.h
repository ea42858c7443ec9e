// The inside of a piece hash. BLAKE3 is a tree: 1 KiB chunks whose chaining values combine
// pairwise up to the root, so a piece of 1 MiB is also sixty-four subtrees of 16 KiB
// ("groups"), and the chaining values of its groups lead to its hash without its bytes.
// The release builder publishes every piece's group values beside its container (the tree
// file, "t/{identity}.quillmeretree"); the patcher checks them against the signed piece hash,
// compares them with the groups of the bytes it already holds and fetches only the groups
// that differ. The compressions are the BLAKE3 library's own.
//
// A tree file is, for every piece of its container in order, the 32-byte chaining value of
// each of the piece's groups: 64 for a whole piece (2 KiB), ceil(bytes / 16 KiB) for the last.
#pragma once

#include "vfs/Index.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Vfs
{
inline constexpr std::uint64_t kGroupSize = 16384;
inline constexpr std::uint64_t kChunkSize = 1024;
inline constexpr std::uint64_t kChainingValueSize = 32;
inline constexpr std::uint64_t kTreeBytesPerPiece = kPieceSize / kGroupSize * kChainingValueSize;

using SChainingValue = std::array<std::uint8_t, 32>;

// Groups of `groupSize` bytes (a power of two, at least one chunk) in a piece of `length` bytes.
[[nodiscard]] constexpr std::uint64_t GroupCount(std::uint64_t length, std::uint64_t groupSize = kGroupSize) noexcept
{
    return length / groupSize + (length % groupSize != 0 ? 1 : 0);
}

// Where piece `piece`'s values start in its container's tree file, and the tree file's size.
[[nodiscard]] constexpr std::uint64_t TreeOffset(std::uint64_t piece) noexcept
{
    return piece * kTreeBytesPerPiece;
}
[[nodiscard]] constexpr std::uint64_t TreeSize(std::uint64_t containerSize) noexcept
{
    return containerSize / kPieceSize * kTreeBytesPerPiece +
           GroupCount(containerSize % kPieceSize) * kChainingValueSize;
}

// The chaining values of a piece's groups, each the subtree over its bytes as BLAKE3 builds
// it within the whole piece. Empty for a piece of one group or none, whose only subtree is
// the root: there is nothing to check it by. `groupSize` is a power of two of 1 KiB or more.
[[nodiscard]] std::vector<SChainingValue> GroupChainingValues(std::span<const std::uint8_t> piece,
    std::uint64_t groupSize = kGroupSize);

// The piece hash that group values combine to; nothing for fewer than two groups.
[[nodiscard]] std::optional<SPieceHash> PieceHashFromGroups(std::span<const SChainingValue> groups);

// The piece hash, computed from the groups, whose values are appended to `tree` as its tree
// file holds them (a piece of one group: its 32-byte BLAKE3 hash, which nothing reads).
SPieceHash HashPieceWithGroups(std::span<const std::uint8_t> piece, std::vector<std::uint8_t>& tree);

// The groups of one piece as they stand in tree-file bytes (32 each); nothing when the byte
// count is not a multiple of 32.
[[nodiscard]] std::optional<std::vector<SChainingValue>> ReadGroups(std::span<const std::uint8_t> bytes);

// A whole tree file against the index's piece hashes of one container: nothing when every
// piece's groups lead to its hash, otherwise which piece fails, or that the size is wrong.
[[nodiscard]] std::optional<std::string> CheckTree(const SIndex& index, std::size_t container,
    std::span<const std::uint8_t> tree);
}
