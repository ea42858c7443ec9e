// A container job's pieces checked as their bytes arrive: what is written, when, and what a
// later answer to the same job still writes.
#include "patch/Pieces.h"

#include "vfs/Index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using Patch::CJobPieces;

namespace
{
constexpr std::uint64_t MiB = Vfs::kPieceSize;

// A container of 2.5 MiB whose job starts at piece 4; the pieces a test marks bad fail their check.
struct SJobBench
{
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(static_cast<std::size_t>(2 * MiB + MiB / 2));
    std::set<std::uint64_t> bad;
    std::map<std::uint64_t, std::size_t> writes; // offset -> length, in order of writing
    std::vector<std::uint64_t> order;
    bool failWrites = false;

    SJobBench()
    {
        for (std::size_t i = 0; i < bytes.size(); ++i)
        {
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
        }
    }

    CJobPieces Job()
    {
        return CJobPieces(4 * MiB, bytes.size(),
            [this](std::uint64_t piece, std::span<const std::uint8_t> got) {
                const std::uint64_t at = (piece - 4) * MiB;
                return !bad.contains(piece) && got.size() == std::min(MiB, bytes.size() - at) &&
                       std::equal(got.begin(), got.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
            },
            [this](std::uint64_t offset, std::span<const std::uint8_t> got) {
                writes[offset] = got.size();
                order.push_back(offset);
                return !failWrites;
            });
    }

    // The whole answer in chunks of `chunk` bytes; false when a Take failed.
    bool Answer(CJobPieces& job, std::size_t chunk)
    {
        job.Begin();
        for (std::size_t at = 0; at < bytes.size(); at += chunk)
        {
            if (!job.Take(std::span(bytes).subspan(at, std::min(chunk, bytes.size() - at))))
            {
                return false;
            }
        }
        return true;
    }
};
}

TEST(JobPieces, ACorruptPieceInTheMiddleIsLeftOutAndOnlyItIsWrittenByTheNextAnswer)
{
    // Chunks that straddle pieces, and one chunk holding the whole answer.
    for (const std::size_t chunk : {std::size_t{65'537}, std::size_t{3 * MiB}})
    {
        SJobBench bench;
        CJobPieces job = bench.Job();
        bench.bad = {5};
        ASSERT_TRUE(bench.Answer(job, chunk));
        EXPECT_EQ(bench.order, (std::vector<std::uint64_t>{4 * MiB})) << "the last piece waits for Finish";
        ASSERT_TRUE(job.Finish());
        EXPECT_EQ(bench.order, (std::vector<std::uint64_t>{4 * MiB, 6 * MiB}));
        EXPECT_EQ(bench.writes[6 * MiB], MiB / 2);
        EXPECT_FALSE(job.Complete());

        bench.bad.clear();
        ASSERT_TRUE(bench.Answer(job, chunk));
        ASSERT_TRUE(job.Finish());
        EXPECT_EQ(bench.order, (std::vector<std::uint64_t>{4 * MiB, 6 * MiB, 5 * MiB})) << "chunk " << chunk;
        EXPECT_TRUE(job.Complete());
    }
}

TEST(JobPieces, ARefusedAnswerNeverWritesTheLastPieceAndAFailedWriteEndsTheAnswer)
{
    SJobBench bench;
    CJobPieces job = bench.Job();
    ASSERT_TRUE(bench.Answer(job, 100'000));
    // No Finish: the answer's status or length was refused.
    job.Begin();
    EXPECT_EQ(bench.order, (std::vector<std::uint64_t>{4 * MiB, 5 * MiB}));
    EXPECT_FALSE(job.Complete());
    ASSERT_TRUE(job.Finish()) << "nothing held after a new answer began";
    EXPECT_EQ(bench.order.size(), 2u);

    SJobBench failing;
    failing.failWrites = true;
    CJobPieces broken = failing.Job();
    EXPECT_FALSE(failing.Answer(broken, 100'000));
    EXPECT_EQ(failing.order, (std::vector<std::uint64_t>{4 * MiB}));
    EXPECT_FALSE(broken.Complete());
}
