// The patcher's pure rules: names of the pack folder's files and of their CDN paths, the
// work list's records, how missing pieces become download jobs, the journal a run composes,
// the thinning of progress reports, the transfer limit's arithmetic, the acceptance of a
// CDN answer, the free space a run needs and the patch state it leaves behind.
//
// Nothing here touches a file or the network, so all of it is tested natively.
#pragma once

#include "patch/Journal.h"
#include "patch/Mode.h"
#include "vfs/Index.h"
#include "vfs/PieceTree.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Patch
{
inline constexpr std::string_view kPackFolder = "Client/pack";
inline constexpr std::string_view kInstalledIndex = "Client/pack/release.quillmereindex";
inline constexpr std::string_view kIncomingFolder = "Client/pack/incoming";
inline constexpr std::uint64_t kLargestIndex = 67'108'864;    // 64 MiB, installed or fetched
inline constexpr std::uint64_t kLargestLauncher = 67'108'864; // the running exe read for its hash
inline constexpr std::uint64_t kSpaceReserve = 67'108'864;    // kept free beyond the part files
inline constexpr std::uint64_t kCheckReportStep = 16'777'216; // one phase-0 report per 16 MiB
inline constexpr std::uint64_t kPiecesPerJob = 32;
inline constexpr std::uint64_t kGameRunningLimit = 2'097'152; // bytes per second

// One item to download into its part file in the incoming folder.
struct SWork
{
    std::string url;    // CDN path without a leading "/"
    std::string target; // the container file, the loose file's path, or the installed index
    std::string part;   // the part file
    std::uint64_t size = 0;
    std::int32_t container = -1; // container record in the index used; -1 for a file or the index
    Vfs::SIdentity hash{};       // content hash of a loose file
    std::vector<std::uint8_t> have;     // per piece: the part file holds it verified
    std::vector<std::uint8_t> reusable; // per piece: the existing target holds it verified
    std::vector<std::uint8_t> assembled; // per piece: missing, but move runs put old bytes in it
    bool fresh = false;    // the part file was created or re-sized by this run
    bool complete = false; // nothing to download (the new index, already in memory)
};

// One ranged download: bytes [offset, offset + length) of a work's finished file. A job of
// `groups` fetches only the 16 KiB groups in which its pieces' bytes in the part file differ
// from the release's, and whole pieces where it cannot.
struct SJob
{
    std::uint64_t work = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool groups = false;

    friend bool operator==(const SJob&, const SJob&) = default;
};

[[nodiscard]] std::string ContainerPath(const Vfs::SContainer& container);
[[nodiscard]] std::string ContainerPartPath(const Vfs::SContainer& container);
[[nodiscard]] std::string FilePartPath(const Vfs::SIdentity& hash);
[[nodiscard]] std::string IndexPartPath(std::string_view release);
// "t/{identity}.quillmeretree": the group values of the container's pieces.
[[nodiscard]] std::string TreeUrl(const Vfs::SContainer& container);

// Works whose part files would coincide (loose files of one content: any two empty files,
// two copies of one asset) get part files of their own, "f_<hash>_<n>.part" for the n-th
// repeat in list order, so that every target ends with its own bytes.
void SeparateParts(std::span<SWork> works);

// The works of a container record, a loose file record and a fetched index.
[[nodiscard]] SWork ContainerWork(const Vfs::SIndex& index, std::size_t container, std::vector<std::uint8_t> reusable);
[[nodiscard]] SWork FileWork(const Vfs::SFile& file);
[[nodiscard]] SWork IndexWork(std::string_view release, std::uint64_t size);

// The jobs of a container work: every run of pieces that `have` marks missing, cut into
// jobs of at most 32 pieces; the last piece may be shorter than 1 MiB. Pieces that
// `assembled` marks (and that hold more than one group) make jobs of groups of their own.
[[nodiscard]] std::vector<SJob> ContainerJobs(std::uint64_t work, std::span<const std::uint8_t> have,
    std::uint64_t size, std::span<const std::uint8_t> assembled = {});

// Bytes [offset, offset + length) of a piece.
struct SRange
{
    std::uint64_t offset = 0;
    std::uint64_t length = 0;

    friend bool operator==(const SRange&, const SRange&) = default;
};

// The bytes after the container header that no run covers, in order.
[[nodiscard]] std::vector<SRange> UncoveredRanges(std::span<const Vfs::SMoveRun> runs, std::uint64_t size);

// The source that most of the runs' bytes come from (the first of equals); nothing without runs.
[[nodiscard]] std::optional<Vfs::SIdentity> MainSource(std::span<const Vfs::SMoveRun> runs);

// Per piece: missing from `have` and covered by runs for at least a group's bytes, so that
// the part file holds old bytes there worth comparing group by group.
[[nodiscard]] std::vector<std::uint8_t> AssembledPieces(std::span<const Vfs::SMoveRun> runs,
    std::span<const std::uint8_t> have, std::uint64_t size);

// What to fetch of a piece of `length` bytes whose groups should be `wanted` and are `held`:
// every group that differs, neighbours merged into one range.
[[nodiscard]] std::vector<SRange> GroupFetches(std::span<const Vfs::SChainingValue> wanted,
    std::span<const Vfs::SChainingValue> held, std::uint64_t length);

// The journal of a finished run: every work's move in list order (the new index's last, on
// an update only), then on an update the deletions of the installed release's containers
// and loose files (never the launcher's own) that the new release does not name. Paths are
// compared as Windows compares them, so a file renamed only in case is not deleted. An
// update that turns a file into a folder, or a folder into a file, first deletes the
// installed files in the way, so that every move finds its place (Replay removes the folders
// that are left empty in a move's way).
[[nodiscard]] std::vector<SJournalRecord> ComposeJournal(std::span<const SWork> works, bool update,
    const Vfs::SIndex& installed, const Vfs::SIndex& used);

// Whether a progress record posts now: always when forced or transferring; while checking
// only once 16 MiB more were read since the last report.
[[nodiscard]] constexpr bool ShouldReport(EPatchPhase phase, std::uint64_t done, std::uint64_t reported,
    bool force) noexcept
{
    return force || phase == EPatchPhase::Transferring || done - reported >= kCheckReportStep;
}

// The transfer limit's debt in microseconds after a chunk of `bytes` while `inFlight`
// ranged downloads are open; `limit` is in bytes per second and not 0.
[[nodiscard]] constexpr std::uint64_t AddTransferDebt(std::uint64_t debt, std::uint64_t bytes, std::int32_t inFlight,
    std::uint64_t limit) noexcept
{
    const std::uint64_t streams = inFlight > 1 ? static_cast<std::uint64_t>(inFlight) : 1;
    return debt + bytes * streams * 1'000'000 / limit;
}

// The next sleep of the transfer limit in milliseconds (0: no sleep, the debt is paid).
[[nodiscard]] constexpr std::uint64_t NextThrottleSleep(std::uint64_t debt) noexcept
{
    if (debt <= 999)
    {
        return 0;
    }
    return debt / 1'000 < 100 ? debt / 1'000 : 100;
}

// The transfer limit's debt after `elapsedUs` more microseconds passed, reading chunks or
// sleeping (which a loaded machine oversleeps): all of that time pays the debt. Time passed
// without a debt is saved up to kSavedTransferUs, to even out reads that a busy machine delays
// without letting a burst through.
inline constexpr std::uint64_t kSavedTransferUs = 500'000;

struct STransferDebt
{
    std::uint64_t debtUs = 0;
    std::uint64_t savedUs = 0;
};

[[nodiscard]] constexpr STransferDebt PayTransferDebt(STransferDebt debt, std::uint64_t elapsedUs) noexcept
{
    const std::uint64_t pay = elapsedUs + debt.savedUs;
    if (pay < debt.debtUs)
    {
        return {debt.debtUs - pay, 0};
    }
    return {0, pay - debt.debtUs < kSavedTransferUs ? pay - debt.debtUs : kSavedTransferUs};
}

// A CDN that drips its bytes would hold a run for ever, since every byte restarts the
// receive timeout: a transfer that brings fewer than 64 KiB in a window of 15 s is given up.
inline constexpr std::uint64_t kSlowWindowMs = 15'000;
inline constexpr std::uint64_t kSlowWindowBytes = 65'536;

class CSlowTransferGuard
{
public:
    explicit CSlowTransferGuard(std::uint64_t nowMs) noexcept : m_windowStart(nowMs) {}

    // Counts a chunk that arrived at nowMs (a steady clock in milliseconds); false once a
    // whole window has passed with fewer bytes than the floor.
    [[nodiscard]] bool Arrived(std::uint64_t bytes, std::uint64_t nowMs) noexcept
    {
        m_bytes += bytes;
        if (nowMs - m_windowStart < kSlowWindowMs)
        {
            return true;
        }
        if (m_bytes < kSlowWindowBytes)
        {
            return false;
        }
        m_windowStart = nowMs;
        m_bytes = 0;
        return true;
    }

private:
    std::uint64_t m_windowStart;
    std::uint64_t m_bytes = 0;
};

// Starts up to `count` threads made by `start` into `threads` and returns how many started.
// A thread that cannot be made (std::system_error, or no memory) is left out instead of
// ending the process; the caller goes on with the others, or fails with none.
template <typename Start>
[[nodiscard]] int StartThreads(std::vector<std::thread>& threads, int count, Start&& start) noexcept
{
    int started = 0;
    for (int i = 0; i < count; ++i)
    {
        try
        {
            threads.reserve(static_cast<std::size_t>(count));
            threads.push_back(start());
            ++started;
        }
        catch (const std::exception&)
        {
        }
    }
    return started;
}

// Without long paths Windows takes a file's full path up to 259 UTF-16 units and a folder's
// up to 247: the limit that full lengths pass over, or 0 when they fit.
[[nodiscard]] constexpr std::size_t ShortPathLimitPassed(std::size_t fileLength, std::size_t folderLength) noexcept
{
    return fileLength > 259 ? 259 : folderLength > 247 ? 247 : 0;
}

// Nothing when a ranged answer is acceptable: 206, or 200 for a job from offset 0, with
// exactly the bytes asked; otherwise the job's error text.
[[nodiscard]] std::optional<std::string> AnswerError(std::string_view url, std::uint32_t status,
    std::uint64_t received, std::uint64_t offset, std::uint64_t length);

// The space a run needs: the reserve plus every work whose part file is missing (nothing)
// or of another size. `partSizes` holds one entry per work. The sum stops at the largest
// number rather than wrap around, so absurd sizes from an index cannot pass the check.
[[nodiscard]] std::uint64_t NeededSpace(std::span<const SWork> works,
    std::span<const std::optional<std::uint64_t>> partSizes) noexcept;

// The patch state after a run that completed: the larger ratchet values, old stamps for the
// files trusted by their stamps, fresh ones (read through `stampOf`) for the files read
// whole and for every work's target but the installed index.
[[nodiscard]] SPatchState RebuildState(const SPatchState& old, std::uint64_t takenRelease,
    std::uint32_t takenGeneration, const Vfs::SIndex& used, const std::set<std::string>& trusted,
    const std::set<std::string>& verified, std::span<const SWork> works,
    const std::function<std::optional<SStamp>(std::string_view)>& stampOf);
}
