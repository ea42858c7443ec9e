// The builder's round trip: two releases into one CDN tree, the second with move runs, and
// the launcher's own container code assembling the new container from the old one.
#include "tools/qmrelease/Release.h"
#include "vfs/PieceTree.h"

#include "vfs/Container.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

using namespace QmRelease;
namespace fs = std::filesystem;

namespace
{
Bytes RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937_64 random(seed);
    Bytes b(n);
    for (auto& v : b)
    {
        v = static_cast<std::uint8_t>(random());
    }
    return b;
}

class Release : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("qmrelease-tests-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "src");
        m_root = KeyFromSeed(std::array<std::uint8_t, 32>{9, 9});
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& name, const Bytes& bytes) { ASSERT_TRUE(WriteBytes(m_dir / "src" / name, bytes)); }

    std::string Description(std::uint64_t release, const std::string& containers)
    {
        return "release " + std::to_string(release) +
               "\nname Release " + std::to_string(release) +
               "\nidentity https://id.example.com\ngame play.example.com\ncdn https://cdn.example.com\nnois " +
               std::string(64, '7') + "\n" + containers + "file Quillmere.exe exe launcher\n";
    }

    SBuilt BuildRelease(const std::string& text, std::optional<fs::path> previous = std::nullopt)
    {
        auto description = ParseDescription(text, m_dir / "src");
        EXPECT_TRUE(description.has_value()) << description.error();
        SBuildOptions options;
        options.signer = m_root;
        options.root = m_root.publicKey;
        options.previous = previous;
        auto built = Build(*description, m_dir / "cdn", options);
        EXPECT_TRUE(built.has_value()) << built.error();
        return std::move(*built);
    }

    fs::path IndexPath(const SBuilt& built) { return m_dir / "cdn" / "i" / (built.read.IdentityHex() + ".quillmereindex"); }

    fs::path m_dir;
    SKeyPair m_root;
};

struct SNoStop final : Vfs::ICheckProgress
{
    bool StopRequested() const noexcept override { return false; }
    void PieceDone(std::uint64_t) noexcept override {}
};
}

TEST_F(Release, SecondReleaseIsAssembledFromTheFirstByMoveRuns)
{
    const Bytes a = RandomBytes(3 * Vfs::kPieceSize + 777, 1);
    const Bytes b = RandomBytes(200000, 2);
    Write("a.bin", a);
    Write("b.bin", b);
    Write("exe", Bytes{1, 2, 3});
    const SBuilt first = BuildRelease(Description(1, "container session a.bin\ncontainer place b.bin\n"));
    EXPECT_TRUE(first.read.moves.empty());
    EXPECT_EQ(first.read.files[0].flags, Vfs::kLauncherFlag);

    // Release 2: a's content shifted by 48 bytes with 48 new ones in front and one byte
    // changed in its third piece; b unchanged; plus a container cut from a's tail.
    Bytes a2 = RandomBytes(48, 3);
    a2.insert(a2.end(), a.begin(), a.end());
    a2[2 * Vfs::kPieceSize + 100] ^= 0xFF;
    Write("a2.bin", a2);
    Write("tail.bin", Bytes(a.begin() + 2400000, a.end())); // a 16-byte multiple into a
    const SBuilt second = BuildRelease(
        Description(2, "container session a2.bin\ncontainer place b.bin\ncontainer embargo tail.bin\n"), IndexPath(first));
    ASSERT_FALSE(second.read.moves.empty());
    EXPECT_EQ(second.read.containers[1].identity, first.read.containers[1].identity);

    const auto fetch = MeasureFetch(IndexPath(first), IndexPath(second), m_root.publicKey);
    ASSERT_TRUE(fetch.has_value()) << fetch.error();
    EXPECT_EQ(fetch->keptContainers, 1u);
    EXPECT_EQ(fetch->newContainers, 2u);
    EXPECT_EQ(fetch->fileBytes, 0u);
    // Piece 0 of a2 (its 48 new bytes) and piece 2 (the changed byte) are all that is fetched,
    // each as one group of 16 KiB after its 2 KiB of tree values; tail.bin is copied whole.
    EXPECT_EQ(fetch->containerBytes, 2 * Vfs::kGroupSize + 2 * Vfs::kTreeBytesPerPiece);
    EXPECT_EQ(fetch->copiedBytes, second.read.containers[0].size - 2 * Vfs::kPieceSize + second.read.containers[2].size);
    // Without tree files on the CDN both pieces come whole.
    fs::remove_all(m_dir / "cdn" / "t");
    EXPECT_EQ(MeasureFetch(IndexPath(first), IndexPath(second), m_root.publicKey)->containerBytes, 2 * Vfs::kPieceSize);

    // The launcher's side: old containers in its pack folder under their names, the new
    // ones assembled from the runs with FindContainer, then checked piece by piece.
    const fs::path pack = m_dir / "pack";
    fs::create_directories(pack);
    for (const auto& c : first.read.containers)
    {
        fs::copy_file(m_dir / "cdn" / "c" / (Vfs::ToHex(c.identity) + ".quillmerepack"), pack / Vfs::ContainerName(c));
    }
    for (std::uint16_t c : {std::uint16_t{0}, std::uint16_t{2}})
    {
        const auto& record = second.read.containers[c];
        Bytes part(record.size, 0);
        for (const auto& run : second.read.moves)
        {
            if (run.destination != c)
            {
                continue;
            }
            const auto source = Vfs::FindContainer(run.source, pack.string());
            ASSERT_TRUE(source.has_value() && !source->empty());
            const Bytes bytes = *ReadBytes(*source);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(run.sourceOffset), run.length,
                part.begin() + static_cast<std::ptrdiff_t>(run.destinationOffset));
        }
        const auto header = Vfs::ContainerHeader(record);
        std::copy(header.begin(), header.end(), part.begin());
        ASSERT_TRUE(WriteBytes(m_dir / "part", part));
        SNoStop progress;
        const auto flags = Vfs::CheckContainer(second.read, c, (m_dir / "part").string(), progress);
        if (c == 0)
        {
            EXPECT_EQ(flags, (std::vector<std::uint8_t>{0, 1, 0, 1}));
        }
        else
        {
            EXPECT_EQ(flags, std::vector<std::uint8_t>(Vfs::PieceCount(record.size), 1));
        }
    }
}

TEST_F(Release, MoveRunsNeedA16ByteShift)
{
    const Bytes a = RandomBytes(Vfs::kPieceSize / 2, 5);
    Write("a.bin", a);
    Write("exe", Bytes{1});
    const SBuilt first = BuildRelease(Description(1, "container boot a.bin\n"));
    for (std::size_t shift : {16u, 4096u + 32u, 7u})
    {
        Bytes moved = RandomBytes(shift, 6);
        moved.insert(moved.end(), a.begin(), a.end());
        Write("moved.bin", moved);
        const auto runs = FindMoves(moved, 0, std::vector<SSource>{}); // no sources, no runs
        EXPECT_TRUE(runs.empty());
        const SBuilt second = BuildRelease(Description(2, "container boot moved.bin\n"), IndexPath(first));
        std::uint64_t covered = 0;
        for (const auto& run : second.read.moves)
        {
            EXPECT_EQ(run.destinationOffset - run.sourceOffset, shift);
            covered += run.length;
        }
        EXPECT_EQ(covered, shift % 16 == 0 ? a.size() : 0u) << shift;
    }
}

TEST_F(Release, DescriptionErrorsAndCertifiedSigning)
{
    EXPECT_FALSE(ParseDescription("release x\n", m_dir).has_value());
    EXPECT_FALSE(ParseDescription("container crate a.bin\n", m_dir).has_value());
    EXPECT_FALSE(ParseDescription("file Client/pack/x a\n", m_dir).has_value());
    EXPECT_EQ(ParseDescription("release 1\nname x\n", m_dir).error(),
        "the description needs release, name, identity, game and nois");

    Write("exe", Bytes{1});
    const SKeyPair work = KeyFromSeed(std::array<std::uint8_t, 32>{3});
    auto description = ParseDescription(Description(5, ""), m_dir / "src");
    ASSERT_TRUE(description.has_value());
    SBuildOptions options;
    options.signer = work;
    options.root = m_root.publicKey;
    options.certificate = MakeCertificate(m_root, 2, work.publicKey);
    const auto built = Build(*description, m_dir / "cdn", options);
    ASSERT_TRUE(built.has_value()) << built.error();
    EXPECT_EQ(built->read.keyGeneration, 2u);
    // A build whose signature does not chain to the root is refused.
    options.certificate.reset();
    const auto refused = Build(*description, m_dir / "cdn", options);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "the new index does not read: the signature does not verify by the trust root");
}

TEST_F(Release, VerifyCommandPrintsTheIndexOrTheMessage)
{
    const char* build = std::getenv("QM_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    const std::string tool = std::string(build) + "/tools/qmrelease/qmrelease";
    Write("exe", Bytes{1});
    Write("a.bin", RandomBytes(Vfs::kPieceSize + 40000, 9));
    const SBuilt built = BuildRelease(Description(3, "container place a.bin\n"));
    const std::string root = Vfs::ToHex(m_root.publicKey);
    const auto run = [&](const std::string& args, const fs::path& out) {
        const int status = std::system((tool + " " + args + " > " + out.string() + " 2>&1").c_str());
        return WEXITSTATUS(status);
    };
    EXPECT_EQ(run("verify " + IndexPath(built).string() + " --root " + root, m_dir / "ok.txt"), 0);
    const auto ok = ReadBytes(m_dir / "ok.txt");
    EXPECT_EQ(std::string(ok->begin(), ok->end()),
        "identity " + built.read.IdentityHex() + "\nrelease 3\ngeneration 0\ncontainers 1\npieces 2\nfiles 1\nmoves 0\n"
        "trees 1 of 1\n");
    // A tree file whose group values do not lead to the signed piece hash.
    const std::string tree = "t/" + Vfs::ToHex(built.read.containers[0].identity) + ".quillmeretree";
    Bytes groups = *ReadBytes(m_dir / "cdn" / tree);
    EXPECT_EQ(groups.size(), 2048u + 3 * 32);
    groups[2048 + 40] ^= 1;
    ASSERT_TRUE(WriteBytes(m_dir / "cdn" / tree, groups));
    EXPECT_EQ(run("verify " + IndexPath(built).string() + " --root " + root, m_dir / "tree.txt"), 1);
    const auto wrong = ReadBytes(m_dir / "tree.txt");
    EXPECT_TRUE(std::string(wrong->begin(), wrong->end()).ends_with("moves 0\n" + tree + ": piece 1 does not lead to its hash\n"));

    Bytes broken = built.index;
    broken.resize(127);
    ASSERT_TRUE(WriteBytes(m_dir / "broken", broken));
    EXPECT_EQ(run("verify " + (m_dir / "broken").string() + " --root " + root, m_dir / "bad.txt"), 1);
    const auto bad = ReadBytes(m_dir / "bad.txt");
    EXPECT_EQ(std::string(bad->begin(), bad->end()), "the file is 127 bytes\n");
    // Without --root the build's own trust root is used.
    EXPECT_EQ(run("verify " + IndexPath(built).string(), m_dir / "other.txt"), 1);
}
