#include "vfs/Container.h"
#include "vfs/PieceTree.h"

#include "tools/qmrelease/Writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

using namespace Vfs;

namespace
{
QmRelease::Bytes RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    QmRelease::Bytes b(n);
    for (auto& v : b)
    {
        v = static_cast<std::uint8_t>(random());
    }
    return b;
}

// An index holding the given containers (with their real piece hashes), read back.
struct SPack
{
    std::vector<QmRelease::Bytes> files;
    SIndex index;
};

SPack MakePack(const std::vector<std::pair<EContainerKind, std::size_t>>& kindsAndSizes)
{
    SPack pack;
    QmRelease::SReleaseContent content;
    content.identityUrls = {"https://id.example.com"};
    content.gameHost = "example.com";
    unsigned seed = 1;
    for (const auto& [kind, size] : kindsAndSizes)
    {
        QmRelease::Bytes file = RandomBytes(size, seed++);
        SContainer c{kind, size, Hash256(file)};
        const auto header = ContainerHeader(c);
        std::copy(header.begin(), header.end(), file.begin());
        for (std::size_t at = 0; at < size; at += kPieceSize)
        {
            content.pieceHashes.push_back(PieceHash(std::span(file).subspan(at, std::min<std::size_t>(kPieceSize, size - at))));
        }
        content.containers.push_back(c);
        pack.files.push_back(std::move(file));
    }
    const auto root = QmRelease::KeyFromSeed(std::array<std::uint8_t, 32>{7});
    auto index = ReadIndex(QmRelease::WriteIndex(content, root), root.publicKey);
    EXPECT_TRUE(index) << index.error();
    pack.index = std::move(index).value_or(SIndex{});
    return pack;
}

class CMemory final : public IReadAt
{
public:
    explicit CMemory(QmRelease::Bytes bytes) : m_bytes(std::move(bytes)) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) noexcept override
    {
        ++reads;
        if (offset >= m_bytes.size())
        {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(out.size(), m_bytes.size() - offset);
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
        return n;
    }
    int reads = 0;

private:
    QmRelease::Bytes m_bytes;
};

class CProgress final : public ICheckProgress
{
public:
    bool StopRequested() const noexcept override { return stopAfter >= 0 && pieces >= stopAfter; }
    void PieceDone(std::uint64_t bytes) noexcept override
    {
        done += bytes;
        ++pieces;
    }
    std::atomic<std::uint64_t> done{0};
    int pieces = 0;
    int stopAfter = -1;
};
}

TEST(ContainerName, KindWordAndFirstIdentityBytes)
{
    SContainer c{EContainerKind::Session, 64, {}};
    const std::array<std::uint8_t, 8> start{0x00, 0xff, 0x10, 0xa2, 0xb3, 0xc4, 0xd5, 0xe6};
    std::copy(start.begin(), start.end(), c.identity.begin());
    EXPECT_EQ(ContainerName(c), "session_00ff10a2b3c4d5e6.quillmerepack");
    c.kind = static_cast<EContainerKind>(7);
    EXPECT_EQ(ContainerName(c), "unknown_00ff10a2b3c4d5e6.quillmerepack");
}

TEST(CheckContainerHeader, NamesItsOwnRecordOnly)
{
    SPack pack = MakePack({{EContainerKind::Boot, 100}, {EContainerKind::Place, 200}});
    const SIndex& index = pack.index;
    const std::string name0 = ContainerName(index.containers[0]);
    // The failure's text; empty when the header names the container.
    const auto errorOf = [&](std::uint16_t container, std::span<const std::uint8_t> head) {
        const auto checked = CheckContainerHeader(index, container, head);
        return checked ? std::string() : checked.error();
    };
    auto head = ContainerHeader(index.containers[0]);
    EXPECT_EQ(errorOf(0, head), "");

    EXPECT_EQ(errorOf(0, std::span(head).first(63)), "no such container, or a header shorter than 64 bytes");
    EXPECT_EQ(errorOf(2, head), "no such container, or a header shorter than 64 bytes");

    auto minor = head;
    minor[10] = 7;
    EXPECT_EQ(errorOf(0, minor), "");

    for (std::size_t at : {0u, 8u, 9u, 12u, 15u, 48u, 63u})
    {
        auto bad = head;
        bad[at] ^= 0x40;
        EXPECT_EQ(errorOf(0, bad), name0 + ": not a container of major 2") << at;
    }
    // The header of the other container of this index is still the wrong one.
    EXPECT_EQ(errorOf(0, ContainerHeader(index.containers[1])), name0 + ": another container under its name");
}

TEST(CheckContainer, FlagsEveryPieceInBoundedMemory)
{
    const std::size_t size = 3 * kPieceSize + 1;
    SPack pack = MakePack({{EContainerKind::Session, 5000}, {EContainerKind::Session, size}});
    const SIndex& index = pack.index;
    EXPECT_EQ(PieceCount(kPieceSize), 1u);
    EXPECT_EQ(PieceCount(kPieceSize + 1), 2u);

    CProgress progress;
    CMemory whole(pack.files[1]);
    EXPECT_EQ(CheckContainer(index, 1, whole, progress), (std::vector<std::uint8_t>{1, 1, 1, 1}));
    EXPECT_EQ(progress.done, size);

    // Damage in the header fails piece 0; a short file fails the pieces it cannot give whole.
    QmRelease::Bytes damaged = pack.files[1];
    damaged[20] ^= 1;
    damaged.resize(2 * kPieceSize + 5);
    CMemory shorter(damaged);
    CProgress counted;
    EXPECT_EQ(CheckContainer(index, 1, shorter, counted), (std::vector<std::uint8_t>{0, 1, 0, 0}));
    EXPECT_EQ(counted.done, size); // every piece counts, read or not

    // A stop ends the check; what was read ahead of it is bounded by the reader's buffers.
    SPack large = MakePack({{EContainerKind::Session, 8 * kPieceSize}});
    CProgress stopping;
    stopping.stopAfter = 2;
    CMemory again(large.files[0]);
    EXPECT_EQ(CheckContainer(large.index, 0, again, stopping), (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_GE(again.reads, 2);
    EXPECT_LE(again.reads, 5);

    EXPECT_TRUE(CheckPiece(index, 0, 0, pack.files[0]));
    EXPECT_FALSE(CheckPiece(index, 0, 1, pack.files[0]));
    EXPECT_FALSE(CheckPiece(index, 2, 0, pack.files[0]));
    EXPECT_TRUE(CheckPiece(index, 1, 3, std::span(pack.files[1]).last(1)));
    EXPECT_TRUE(CheckContainer(index, 5, whole, progress).empty());
}

TEST(CheckContainer, ReadsFilesAndFindsContainersByIdentity)
{
    SPack pack = MakePack({{EContainerKind::Boot, 3000}, {EContainerKind::Embargo, 4000}});
    const SIndex& index = pack.index;
    const auto folder = std::filesystem::temp_directory_path() / ("vfs-tests-" + index.IdentityHex().substr(0, 16));
    std::filesystem::remove_all(folder);
    const std::string pack_folder = folder.string();

    // A missing folder holds no container.
    auto found = FindContainer(index.containers[0].identity, pack_folder);
    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(*found, "");

    std::filesystem::create_directories(folder / ("place_" + ToHex(std::span(index.containers[1].identity).first(8)) + ".quillmerepack"));
    const auto write = [&](const std::string& name, const QmRelease::Bytes& bytes) {
        std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    const std::string name0 = ContainerName(index.containers[0]);
    write(name0, pack.files[0]);
    // Same name suffix, another identity in the header: not the container.
    auto impostor = pack.files[1];
    impostor[16 + 8] ^= 1;
    write("old_" + ToHex(std::span(index.containers[1].identity).first(8)) + ".quillmerepack", impostor);

    found = FindContainer(index.containers[0].identity, pack_folder);
    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(*found, pack_folder + "/" + name0);
    found = FindContainer(index.containers[1].identity, pack_folder);
    ASSERT_TRUE(found.has_value()) << found.error();
    EXPECT_EQ(*found, "");

    CProgress progress;
    EXPECT_EQ(CheckContainer(index, 0, pack_folder + "/" + name0, progress), (std::vector<std::uint8_t>{1}));
    EXPECT_TRUE(CheckContainer(index, 0, pack_folder + "/missing", progress).empty());
    std::filesystem::remove_all(folder);
}

TEST(PieceTree, GroupValuesCombineToTheLibrarysHashForEveryShapeOfPiece)
{
    const QmRelease::Bytes bytes = RandomBytes(kPieceSize, 11);
    // Whole pieces, last pieces ending inside a chunk, a group or on a group's edge.
    for (const std::size_t length : {std::size_t{kPieceSize}, kPieceSize - 1, std::size_t{16385}, std::size_t{32768},
             std::size_t{16384 * 3 + 1000}, std::size_t{2049}})
    {
        for (const std::uint64_t groupSize : {std::uint64_t{1024}, std::uint64_t{2048}, kGroupSize, std::uint64_t{65536}})
        {
            const auto piece = std::span(bytes).first(length);
            const auto groups = GroupChainingValues(piece, groupSize);
            ASSERT_EQ(groups.size(), GroupCount(length, groupSize) < 2 ? 0 : GroupCount(length, groupSize));
            if (!groups.empty())
            {
                EXPECT_EQ(PieceHashFromGroups(groups), PieceHash(piece)) << length << " in groups of " << groupSize;
            }
        }
    }
    EXPECT_FALSE(PieceHashFromGroups(GroupChainingValues(std::span(bytes).first(kGroupSize))));
}

TEST(PieceTree, ATreeFileIsCheckedAgainstEveryPieceHash)
{
    const std::size_t size = 2 * kPieceSize + 20000; // a last piece of two groups
    SPack pack = MakePack({{EContainerKind::Place, size}});
    std::vector<std::uint8_t> tree;
    for (std::size_t at = 0; at < size; at += kPieceSize)
    {
        const auto piece = std::span(pack.files[0]).subspan(at, std::min<std::size_t>(kPieceSize, size - at));
        EXPECT_EQ(HashPieceWithGroups(piece, tree), PieceHash(piece));
    }
    ASSERT_EQ(tree.size(), TreeSize(size));
    EXPECT_EQ(tree.size(), 2 * 2048 + 64u);
    EXPECT_EQ(CheckTree(pack.index, 0, tree), std::nullopt);

    tree[TreeOffset(1) + 100] ^= 4;
    EXPECT_EQ(CheckTree(pack.index, 0, tree), "piece 1 does not lead to its hash");
    tree.pop_back();
    EXPECT_EQ(CheckTree(pack.index, 0, tree), "it holds 4159 bytes, not 4160");
}
