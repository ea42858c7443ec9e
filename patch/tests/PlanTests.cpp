// The patcher's pure rules: jobs from missing pieces, the journal's order, report thinning,
// the transfer limit, the acceptance of CDN answers, needed space and the state rebuild.
#include "patch/Plan.h"

#include <gtest/gtest.h>

#include <system_error>

using namespace Patch;

namespace
{
constexpr std::uint64_t MiB = 1'048'576;

Vfs::SContainer Container(Vfs::EContainerKind kind, std::uint8_t first, std::uint64_t size)
{
    Vfs::SContainer c;
    c.kind = kind;
    c.size = size;
    c.identity.fill(first);
    return c;
}

Vfs::SFile File(std::string path, std::uint8_t first, std::uint16_t flags = 0)
{
    Vfs::SFile f;
    f.path = std::move(path);
    f.flags = flags;
    f.size = 10;
    f.hash.fill(first);
    return f;
}

std::string Text(const std::vector<SJournalRecord>& records)
{
    return JournalText(records);
}
}

TEST(ContainerJobs, MissingPiecesBecomeRunsOfAtMost32Pieces)
{
    // 70 pieces, the last one byte long, nothing held: 32 + 32 + 6 pieces.
    const std::uint64_t size = 69 * MiB + 1;
    const auto jobs = ContainerJobs(5, {}, size);
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0], (SJob{5, 0, 32 * MiB}));
    EXPECT_EQ(jobs[1], (SJob{5, 32 * MiB, 32 * MiB}));
    EXPECT_EQ(jobs[2], (SJob{5, 64 * MiB, 5 * MiB + 1}));

    // One damaged piece in the middle of a complete part file: a single one-piece job.
    std::vector<std::uint8_t> have(4, 1);
    have[2] = 0;
    EXPECT_EQ(ContainerJobs(0, have, 4 * MiB), (std::vector<SJob>{{0, 2 * MiB, MiB}}));

    // Gaps split runs; a short `have` counts the pieces beyond it as missing.
    EXPECT_EQ(ContainerJobs(1, std::vector<std::uint8_t>{0, 1, 0, 0, 1}, 6 * MiB - 100),
        (std::vector<SJob>{{1, 0, MiB}, {1, 2 * MiB, 2 * MiB}, {1, 5 * MiB, MiB - 100}}));
    EXPECT_TRUE(ContainerJobs(1, std::vector<std::uint8_t>{1, 1}, 2 * MiB).empty());
    // A container smaller than a piece.
    EXPECT_EQ(ContainerJobs(0, {}, 64), (std::vector<SJob>{{0, 0, 64}}));
}

TEST(ContainerJobs, AssembledPiecesFetchTheirDifferingGroupsInJobsOfTheirOwn)
{
    // Pieces 1 and 2 hold old bytes, 3 is plain, 4 holds old bytes but one group only.
    const std::vector<std::uint8_t> assembled{0, 1, 1, 0, 1};
    EXPECT_EQ(ContainerJobs(2, {}, 4 * MiB + 16384, assembled),
        (std::vector<SJob>{{2, 0, MiB}, {2, MiB, 2 * MiB, true}, {2, 3 * MiB, MiB + 16384}}));

    Vfs::SChainingValue a{}, b{};
    b[0] = 1;
    const std::vector<Vfs::SChainingValue> wanted{a, a, a, a, a};
    // Groups 1, 2 and 4 differ (4 is the piece's short last group); 1 and 2 merge.
    EXPECT_EQ(GroupFetches(wanted, std::vector<Vfs::SChainingValue>{a, b, b, a, b}, 4 * 16384 + 10),
        (std::vector<SRange>{{16384, 32768}, {4 * 16384, 10}}));
    EXPECT_TRUE(GroupFetches(wanted, wanted, 5 * 16384).empty());
}

TEST(ContainerJobs, RunsFromTheirMainSourceLeaveGapsAndMarkThePiecesTheyCover)
{
    const Vfs::SIdentity a{1}, b{2};
    // Piece 0 whole (less its header) from a, 100 bytes of piece 1 and 20,000 of piece 2 from b.
    const std::vector<Vfs::SMoveRun> runs{{b, 0, 2 * MiB + 1000, 20000, 0}, {a, 64, 64, MiB - 64, 0},
        {b, 0, MiB + 500, 100, 0}};
    EXPECT_EQ(MainSource(runs), a);
    EXPECT_EQ(UncoveredRanges(runs, 3 * MiB),
        (std::vector<SRange>{{MiB, 500}, {MiB + 600, MiB + 400}, {2 * MiB + 21000, MiB - 21000}}));
    // Piece 0 is held; piece 1, which runs reach by less than a group, is fetched whole.
    EXPECT_EQ(AssembledPieces(runs, std::vector<std::uint8_t>{1, 0, 0}, 3 * MiB),
        (std::vector<std::uint8_t>{0, 0, 1}));
}

TEST(ComposeJournal, MovesThenTheIndexThenDeletionsOfWhatTheNewReleaseDropped)
{
    Vfs::SIndex installed;
    installed.containers = {Container(Vfs::EContainerKind::Session, 0xaa, 100),
                            Container(Vfs::EContainerKind::Place, 0xbb, 100)};
    installed.files = {File("Client/gone.dll", 1), File("Client/kept.dll", 2), File("Quillmere.exe", 3, 1),
                       File("Client/now-a-new-file.txt", 4)};
    Vfs::SIndex used;
    used.containers = {Container(Vfs::EContainerKind::Place, 0xbb, 100),
                       Container(Vfs::EContainerKind::Session, 0xcc, 100)};
    used.files = {File("Client/kept.dll", 2), File("Client/now-a-new-file.txt", 5), File("Quillmere2.exe", 6, 1)};

    std::vector<SWork> works{ContainerWork(used, 1, {}), FileWork(used.files[1]), IndexWork("ab", 300)};
    const std::string journal = Text(ComposeJournal(works, true, installed, used));
    EXPECT_EQ(journal, "quillmere patch journal 1\n"
                       "move\tClient/pack/incoming/session_cccccccccccccccc.quillmerepack.part\t"
                       "Client/pack/session_cccccccccccccccc.quillmerepack\n"
                       "move\tClient/pack/incoming/f_0505050505050505050505050505050505050505050505050505050505050505"
                       ".part\tClient/now-a-new-file.txt\n"
                       "move\tClient/pack/incoming/ab.quillmereindex.part\tClient/pack/release.quillmereindex\n"
                       "delete\tClient/pack/session_aaaaaaaaaaaaaaaa.quillmerepack\n"
                       "delete\tClient/gone.dll\n");

    // The same release again: only the index moves.
    EXPECT_EQ(Text(ComposeJournal(std::vector<SWork>{IndexWork("ab", 300)}, true, used, used)),
        "quillmere patch journal 1\n"
        "move\tClient/pack/incoming/ab.quillmereindex.part\tClient/pack/release.quillmereindex\n");

    // Complete and repair runs move their works and delete nothing.
    EXPECT_EQ(Text(ComposeJournal(std::vector<SWork>{FileWork(installed.files[0])}, false, installed, installed)),
        "quillmere patch journal 1\n"
        "move\tClient/pack/incoming/f_0101010101010101010101010101010101010101010101010101010101010101.part\t"
        "Client/gone.dll\n");
}

TEST(ComposeJournal, EveryFileOfOneContentEndsWithItsOwnBytes)
{
    // Two empty files and two copies of one asset: each record has a part file of its own.
    Vfs::SIndex used;
    used.files = {File("a.txt", 7), File("b.txt", 7), File("c.txt", 8), File("d/e.txt", 7)};
    std::vector<SWork> works{FileWork(used.files[0]), FileWork(used.files[1]), FileWork(used.files[2]),
        FileWork(used.files[3])};
    SeparateParts(works);
    const std::string seven = "Client/pack/incoming/f_0707070707070707070707070707070707070707070707070707070707070707";
    EXPECT_EQ(Text(ComposeJournal(works, false, used, used)),
        "quillmere patch journal 1\n"
        "move\t" + seven + ".part\ta.txt\n"
        "move\t" + seven + "_1.part\tb.txt\n"
        "move\tClient/pack/incoming/f_0808080808080808080808080808080808080808080808080808080808080808.part\tc.txt\n"
        "move\t" + seven + "_2.part\td/e.txt\n");
}

TEST(ComposeJournal, PathsMeetTheFileSystemAsWindowsComparesThem)
{
    // A rename in case only deletes nothing: on Windows both names are the one file just moved.
    Vfs::SIndex installed;
    installed.files = {File("Client/A.txt", 1), File("Client/Old.txt", 2)};
    Vfs::SIndex used;
    used.files = {File("Client/a.txt", 3), File("client/old.TXT", 2)};
    std::vector<SWork> works{FileWork(used.files[0])};
    EXPECT_EQ(Text(ComposeJournal(works, true, installed, used)),
        "quillmere patch journal 1\n"
        "move\tClient/pack/incoming/f_0303030303030303030303030303030303030303030303030303030303030303.part\t"
        "Client/a.txt\n");
}

TEST(ComposeJournal, FilesInTheWayOfNewFoldersOrFilesGoFirst)
{
    // "x" becomes a folder and "d" a file: the installed files in the way are deleted before
    // any move, everything else the new release dropped only after the new index.
    Vfs::SIndex installed;
    installed.files = {File("D/a/b", 1), File("d/c", 2), File("gone", 3), File("x", 4), File("Quillmere.exe", 5, 1)};
    Vfs::SIndex used;
    used.files = {File("d", 6), File("x/y", 7), File("Quillmere.exe/z", 8)};
    std::vector<SWork> works{FileWork(used.files[0]), FileWork(used.files[1]), IndexWork("ab", 300)};
    EXPECT_EQ(Text(ComposeJournal(works, true, installed, used)),
        "quillmere patch journal 1\n"
        "delete\tD/a/b\n"
        "delete\td/c\n"
        "delete\tx\n"
        "move\tClient/pack/incoming/f_0606060606060606060606060606060606060606060606060606060606060606.part\td\n"
        "move\tClient/pack/incoming/f_0707070707070707070707070707070707070707070707070707070707070707.part\tx/y\n"
        "move\tClient/pack/incoming/ab.quillmereindex.part\tClient/pack/release.quillmereindex\n"
        "delete\tgone\n");
}

TEST(Reporting, CheckReportsAreThinnedTo16MiBTransferReportsAlwaysPost)
{
    EXPECT_FALSE(ShouldReport(EPatchPhase::Checking, 16 * MiB - 1, 0, false));
    EXPECT_TRUE(ShouldReport(EPatchPhase::Checking, 16 * MiB, 0, false));
    EXPECT_FALSE(ShouldReport(EPatchPhase::Checking, 20 * MiB, 16 * MiB, false));
    EXPECT_TRUE(ShouldReport(EPatchPhase::Checking, 1, 0, true));
    EXPECT_TRUE(ShouldReport(EPatchPhase::Transferring, 1, 1, false));
}

TEST(TransferLimit, FourStreamsShareTheLimit)
{
    // 256 KiB at 2 MiB/s is 125 ms alone, and 500 ms when four transfers are open.
    EXPECT_EQ(AddTransferDebt(0, 262'144, 0, kGameRunningLimit), 125'000u);
    EXPECT_EQ(AddTransferDebt(0, 262'144, 1, kGameRunningLimit), 125'000u);
    EXPECT_EQ(AddTransferDebt(7, 262'144, 4, kGameRunningLimit), 500'007u);
    // Sleeps of at most 100 ms until less than a millisecond is owed.
    EXPECT_EQ(NextThrottleSleep(500'007), 100u);
    EXPECT_EQ(NextThrottleSleep(1'999), 1u);
    EXPECT_EQ(NextThrottleSleep(999), 0u);
    std::uint64_t debt = 500'007;
    std::uint64_t slept = 0;
    for (std::uint64_t ms; (ms = NextThrottleSleep(debt)) != 0; debt -= ms * 1'000)
    {
        slept += ms;
    }
    EXPECT_EQ(slept, 500u);
    EXPECT_EQ(debt, 7u);
}

TEST(TransferLimit, AllElapsedTimePaysAndLittleIsSavedUp)
{
    // An oversleep pays for itself; a read that took longer than its debt saves the rest.
    EXPECT_EQ(PayTransferDebt({125'000, 0}, 100'000).debtUs, 25'000u);
    const STransferDebt saved = PayTransferDebt({125'000, 0}, 130'000);
    EXPECT_EQ(saved.debtUs, 0u);
    EXPECT_EQ(saved.savedUs, 5'000u);
    EXPECT_EQ(PayTransferDebt({7'000, saved.savedUs}, 1'000).debtUs, 1'000u);
    // A long idle time (a pause between jobs, a limit set late) saves at most half a second.
    const STransferDebt idle = PayTransferDebt({}, 3'600'000'000);
    EXPECT_EQ(idle.savedUs, kSavedTransferUs);
    EXPECT_EQ(PayTransferDebt({2'000'000, idle.savedUs}, 0).debtUs, 1'500'000u);
}

TEST(SlowTransferGuard, GivesUpOnAWindowOfTooFewBytes)
{
    // One byte a second: given up after the first window.
    CSlowTransferGuard drip(1'000);
    std::uint64_t now = 1'000;
    while (drip.Arrived(1, now += 1'000))
    {
        ASSERT_LT(now, 100'000u);
    }
    EXPECT_EQ(now, 1'000 + kSlowWindowMs);

    // Enough bytes in every window, however they are spread, go on; each window counts alone.
    CSlowTransferGuard steady(0);
    EXPECT_TRUE(steady.Arrived(kSlowWindowBytes, 1));
    EXPECT_TRUE(steady.Arrived(0, kSlowWindowMs));
    EXPECT_TRUE(steady.Arrived(kSlowWindowBytes - 1, 2 * kSlowWindowMs - 1));
    EXPECT_TRUE(steady.Arrived(1, 2 * kSlowWindowMs));
    EXPECT_FALSE(steady.Arrived(kSlowWindowBytes - 1, 3 * kSlowWindowMs));
}

TEST(StartThreads, AThreadThatCannotBeMadeIsLeftOut)
{
    std::vector<std::thread> threads;
    int calls = 0;
    const int started = StartThreads(threads, 4, [&] {
        if (++calls == 2)
        {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::thread([] {});
    });
    EXPECT_EQ(started, 3);
    EXPECT_EQ(threads.size(), 3u);
    for (std::thread& thread : threads)
    {
        thread.join();
    }
}

TEST(AnswerError, StatusAndLengthRules)
{
    EXPECT_FALSE(AnswerError("c/x", 206, 100, 4096, 100));
    EXPECT_FALSE(AnswerError("c/x", 200, 100, 0, 100));
    EXPECT_EQ(AnswerError("c/x", 200, 100, MiB, 100), "c/x: the CDN answered 200 with 100 bytes of 100");
    EXPECT_EQ(AnswerError("f/y", 206, 101, 0, 100), "f/y: the CDN answered 206 with 101 bytes of 100");
    EXPECT_EQ(AnswerError("f/y", 206, 99, 0, 100), "f/y: the CDN answered 206 with 99 bytes of 100");
    EXPECT_EQ(AnswerError("f/y", 416, 0, 0, 100), "f/y: the CDN answered 416 with 0 bytes of 100");
}

TEST(NeededSpace, TheReservePlusEveryPartFileNotYetAtItsSize)
{
    std::vector<SWork> works(3);
    works[0].size = 10;
    works[1].size = 20;
    works[2].size = 40;
    const std::vector<std::optional<std::uint64_t>> parts{std::nullopt, 20, 39};
    EXPECT_EQ(NeededSpace(works, parts), kSpaceReserve + 10 + 40);
    EXPECT_EQ(NeededSpace({}, {}), kSpaceReserve);

    // Sizes from a hostile index stop the sum at the largest number instead of wrapping.
    works[0].size = UINT64_MAX - kSpaceReserve;
    works[2].size = 2;
    EXPECT_EQ(NeededSpace(works, parts), UINT64_MAX);
}

TEST(RebuildState, RatchetsOldStampsForTrustedFreshStampsForReadAndMoved)
{
    SPatchState old;
    old.release = 9;
    old.generation = 1;
    old.files["a"] = {1, 100};
    old.files["dropped"] = {2, 200};
    old.files["b"] = {3, 300};
    Vfs::SIndex used;
    used.header[16] = 7; // release number 7
    used.keyGeneration = 4;
    std::vector<SWork> works(2);
    works[0].target = "moved";
    works[1].target = std::string(kInstalledIndex);
    const auto stampOf = [](std::string_view path) -> std::optional<SStamp> {
        if (path == "missing")
        {
            return std::nullopt;
        }
        return SStamp{path.size(), 555};
    };
    const SPatchState state = RebuildState(old, 9, 1, used, {"a"}, {"b", "missing"}, works, stampOf);
    EXPECT_EQ(state.release, 9u);
    EXPECT_EQ(state.generation, 4u);
    EXPECT_EQ(state.files, (std::map<std::string, SStamp>{{"a", {1, 100}}, {"b", {1, 555}}, {"moved", {5, 555}}}));
}
