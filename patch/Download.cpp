#include "patch/Download.h"

#include "net/Http.h"
#include "patch/Check.h"
#include "patch/Pieces.h"
#include "base/File.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "vfs/PieceTree.h"

#include <blake3.h>
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

namespace Patch
{
namespace
{
constexpr std::string_view kTooSlow = "it sends less than 64 KiB in 15 s";
constexpr std::uint64_t kFlushAfterBytes = 8 * 1048576;

// The transfer limit's debt of this thread, and when it was last paid down.
thread_local STransferDebt t_debt;
thread_local std::chrono::steady_clock::time_point t_paid{};

void PayElapsedTime()
{
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - t_paid).count();
    t_debt = PayTransferDebt(t_debt, static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0)));
    t_paid = now;
}

void ApplyTransferLimit(const SRun& run, std::uint64_t bytes)
{
    const STransfers& transfers = *run.transfers;
    std::uint64_t limit = transfers.limit.load();
    if (limit == 0)
    {
        t_debt = {};
        return;
    }
    PayElapsedTime();
    t_debt.debtUs = AddTransferDebt(t_debt.debtUs, bytes, transfers.inFlight.load(), limit);
    while (t_debt.debtUs > 999 && !run.StopRequested() && (limit = transfers.limit.load()) != 0)
    {
        Sleep(static_cast<DWORD>(NextThrottleSleep(t_debt.debtUs)));
        PayElapsedTime();
        if (t_debt.debtUs < 1'000)
        {
            break;
        }
    }
}

[[nodiscard]] UniqueHandle OpenForWriting(std::string_view path)
{
    return UniqueHandle(CreateFileW(Text::Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
}

[[nodiscard]] UniqueHandle OpenForReading(std::string_view path)
{
    return UniqueHandle(CreateFileW(Text::Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Copies one move run from its source container into the part file, in 1 MiB steps.
[[nodiscard]] bool CopyRun(HANDLE source, HANDLE part, const Vfs::SMoveRun& run, std::vector<std::uint8_t>& buffer)
{
    for (std::uint64_t at = 0; at < run.length;)
    {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(run.length - at, buffer.size()));
        const std::span<std::uint8_t> bytes(buffer.data(), count);
        if (!File::ReadAt(source, run.sourceOffset + at, bytes) || !File::WriteAt(part, run.destinationOffset + at, bytes))
        {
            return false;
        }
        at += count;
    }
    return true;
}

// A small ranged answer into `bytes`, whole and with the right status, in up to three attempts;
// false when none gave it (the caller then fetches whole pieces instead).
[[nodiscard]] bool FetchRange(const SRun& run, const std::string& url, std::uint64_t offset, std::uint64_t length,
    std::vector<std::uint8_t>& bytes)
{
    STransfers& transfers = *run.transfers;
    for (int attempt = 0; attempt < kFetchAttempts && !run.StopRequested(); ++attempt)
    {
        bytes.clear();
        CSlowTransferGuard guard(GetTickCount64());
        transfers.inFlight.fetch_add(1);
        const auto status = Net::Fetch(run.cdn, "/" + url, offset, length, [&](std::span<const std::uint8_t> chunk) {
            if (chunk.size() > length - bytes.size())
            {
                return false;
            }
            bytes.insert(bytes.end(), chunk.begin(), chunk.end());
            ApplyTransferLimit(run, chunk.size());
            return guard.Arrived(chunk.size(), GetTickCount64()) && !run.StopRequested();
        });
        transfers.inFlight.fetch_sub(1);
        if (status && !AnswerError(url, *status, bytes.size(), offset, length))
        {
            return true;
        }
        if (status && *status >= 400 && *status < 500)
        {
            return false; // not there (a CDN without tree files): asking again changes nothing
        }
    }
    return false;
}

// Piece `piece` from the candidate the part file holds: its group values from the tree are
// checked against the signed piece hash, the groups where the candidate differs are fetched,
// and the piece is written only once it verifies whole. False with nothing written when any
// of that fails, or when the groups to fetch would be no fewer bytes than the piece.
[[nodiscard]] bool AssemblePiece(const SRun& run, const Vfs::SIndex& index, const SWork& work, HANDLE part,
    std::uint64_t piece, std::span<const std::uint8_t> tree, std::atomic<std::uint64_t>& fetched)
{
    const auto container = static_cast<std::size_t>(work.container);
    const std::uint64_t offset = piece * Vfs::kPieceSize;
    const auto wanted = Vfs::ReadGroups(tree);
    if (!wanted || Vfs::PieceHashFromGroups(*wanted) != index.pieceHashes[index.pieceBases[container] + piece])
    {
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(Vfs::kPieceSize, work.size - offset)));
    if (!File::ReadAt(part, offset, bytes))
    {
        return false;
    }
    const auto ranges = GroupFetches(*wanted, Vfs::GroupChainingValues(bytes), bytes.size());
    std::uint64_t toFetch = 0;
    for (const SRange& range : ranges)
    {
        toFetch += range.length;
    }
    if (toFetch >= bytes.size())
    {
        return false;
    }
    std::vector<std::uint8_t> groups;
    for (const SRange& range : ranges)
    {
        if (!FetchRange(run, work.url, offset + range.offset, range.length, groups))
        {
            return false;
        }
        fetched += range.length;
        std::copy(groups.begin(), groups.end(), bytes.begin() + static_cast<std::ptrdiff_t>(range.offset));
    }
    return Vfs::CheckPiece(index, container, piece, bytes) && File::WriteAt(part, offset, bytes);
}

// The bytes no run covers come from the source most of the runs come from, at the same
// offset: an edit in place then leaves only the edited groups to fetch. Nothing here is
// trusted; every piece is checked whole afterwards.
void FillGaps(HANDLE part, std::span<const Vfs::SMoveRun> runs, std::map<Vfs::SIdentity, std::string>& sources,
    std::uint64_t size, std::vector<std::uint8_t>& buffer)
{
    const auto gaps = UncoveredRanges(runs, size);
    const auto from = MainSource(runs);
    const UniqueHandle source = gaps.empty() || !from ? UniqueHandle() : OpenForReading(sources[*from]);
    const std::uint64_t sourceSize = source ? FileSize(sources[*from]).value_or(0) : 0;
    for (const SRange& gap : gaps)
    {
        if (gap.offset < sourceSize)
        {
            const Vfs::SMoveRun same{*from, gap.offset, gap.offset, std::min(gap.length, sourceSize - gap.offset), 0};
            (void)CopyRun(source.get(), part, same, buffer);
        }
    }
}
}

bool MakePartFile(std::string_view path, std::uint64_t size)
{
    UniqueHandle file(CreateFileW(Text::Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!file || !SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
    {
        const DWORD error = GetLastError();
        file.reset();
        SetLastError(error);
        return false;
    }
    return true;
}

bool FlushFile(std::string_view path)
{
    const UniqueHandle file = OpenForWriting(path);
    return file && FlushFileBuffers(file.get());
}

namespace
{
// The container's move runs whose source is on disk, and the paths of those sources. A pack
// folder that cannot be listed leaves a source missing.
std::vector<Vfs::SMoveRun> RunsWithSources(const Vfs::SIndex& index, std::uint16_t container,
    std::map<Vfs::SIdentity, std::string>& sources)
{
    std::vector<Vfs::SMoveRun> runs;
    for (const Vfs::SMoveRun& run : index.moves)
    {
        if (run.destination != container)
        {
            continue;
        }
        auto known = sources.find(run.source);
        if (known == sources.end())
        {
            known = sources.emplace(run.source, Vfs::FindContainer(run.source, kPackFolder).value_or("")).first;
        }
        if (!known->second.empty())
        {
            runs.push_back(run);
        }
    }
    return runs;
}

// A fresh part file gets the runs, the bytes they leave open from their main source and,
// when at least one run was copied, the header; true in that case.
bool AssembleFreshPart(const Vfs::SIndex& index, const SWork& work, std::span<const Vfs::SMoveRun> runs,
    std::map<Vfs::SIdentity, std::string>& sources)
{
    const UniqueHandle part = OpenForWriting(work.part);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(Vfs::kPieceSize));
    bool copied = false;
    for (const Vfs::SMoveRun& run : runs)
    {
        const UniqueHandle source = OpenForReading(sources[run.source]);
        if (part && source && CopyRun(source.get(), part.get(), run, buffer))
        {
            copied = true;
        }
    }
    if (copied)
    {
        FillGaps(part.get(), runs, sources, work.size, buffer);
        const auto header = Vfs::ContainerHeader(index.containers[static_cast<std::size_t>(work.container)]);
        (void)File::WriteAt(part.get(), 0, header); // a failure shows as a bad piece 0
    }
    return copied;
}
}

std::expected<void, std::string> PrepareContainerPart(const Vfs::SIndex& index, SWork& work, SProgress& check)
{
    const std::uint64_t pieces = Vfs::PieceCount(work.size);
    const auto container = static_cast<std::uint16_t>(work.container);
    work.fresh = FileSize(work.part) != work.size;
    if (work.fresh && !MakePartFile(work.part, work.size))
    {
        return std::unexpected(Text::WithWindowsError(fmt::format("{} could not be made", work.part), GetLastError()));
    }

    std::map<Vfs::SIdentity, std::string> sources;
    const std::vector<Vfs::SMoveRun> runs = RunsWithSources(index, container, sources);
    const bool copied = work.fresh && AssembleFreshPart(index, work, runs, sources);

    work.have.assign(pieces, 0);
    if (!work.fresh || copied)
    {
        CCheckProgress progress(check);
        const auto flags = Vfs::CheckContainer(index, container, work.part, progress);
        std::copy_n(flags.begin(), std::min<std::size_t>(flags.size(), pieces), work.have.begin());
    }

    if (!work.reusable.empty())
    {
        const UniqueHandle target = OpenForReading(work.target);
        const UniqueHandle part = OpenForWriting(work.part);
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(Vfs::kPieceSize));
        for (std::uint64_t i = 0; target && part && i < pieces && i < work.reusable.size(); ++i)
        {
            if (work.have[i] != 0 || work.reusable[i] != 1)
            {
                continue;
            }
            const std::uint64_t offset = i * Vfs::kPieceSize;
            const std::span<std::uint8_t> piece(buffer.data(),
                static_cast<std::size_t>(std::min(work.size - offset, Vfs::kPieceSize)));
            // Checked again as it is copied: the old file may have changed since the check.
            if (File::ReadAt(target.get(), offset, piece) && Vfs::CheckPiece(index, container, i, piece) &&
                File::WriteAt(part.get(), offset, piece))
            {
                work.have[i] = 1;
            }
        }
    }

    // Missing pieces that runs reach hold old bytes close to the release's: worth their groups.
    work.assembled = AssembledPieces(runs, work.have, work.size);
    return {};
}

std::expected<std::vector<SJob>, std::string> PrepareWorks(const SRun& run, const Vfs::SIndex& index,
    std::vector<SWork>& works, SProgress& check, std::span<const std::uint8_t> newIndex)
{
    std::vector<SJob> jobs;
    for (std::size_t i = 0; i < works.size(); ++i)
    {
        if (run.StopRequested())
        {
            return std::vector<SJob>{};
        }
        SWork& work = works[i];
        if (work.complete)
        {
            if (!File::WriteAtomically(work.part, std::span(reinterpret_cast<const char*>(newIndex.data()), newIndex.size())))
            {
                return std::unexpected(fmt::format("{} could not be written", work.part));
            }
            continue;
        }
        if (work.container < 0)
        {
            if (FileSize(work.part) == work.size && HashFile(work.part, work.size, &check) == work.hash)
            {
                work.complete = true;
                continue;
            }
            if (!MakePartFile(work.part, work.size))
            {
                return std::unexpected(fmt::format("{} could not be made", work.part));
            }
            work.fresh = true;
            jobs.push_back({i, 0, work.size});
            continue;
        }
        if (auto prepared = PrepareContainerPart(index, work, check); !prepared)
        {
            return std::unexpected(std::move(prepared.error()));
        }
        if (run.StopRequested())
        {
            return std::vector<SJob>{};
        }
        const auto more = ContainerJobs(i, work.have, work.size, work.assembled);
        jobs.insert(jobs.end(), more.begin(), more.end());
    }
    return jobs;
}

std::expected<void, std::string> DownloadJobs(const SRun& run, const Vfs::SIndex& index,
    const std::vector<SWork>& works, const std::vector<SJob>& jobs, SProgress& progress)
{
    std::atomic<std::size_t> next{0};
    std::atomic<int> running{kDownloadWorkers};
    std::atomic<bool> failed{false};
    std::mutex firstErrorLock;
    std::string firstError;
    std::vector<std::atomic<std::uint64_t>> written(works.size()); // bytes to each part file since its flush

    const auto worker = [&] {
        for (std::size_t i = next.fetch_add(1); i < jobs.size() && !run.StopRequested() && !failed.load();
             i = next.fetch_add(1))
        {
            const SJob& job = jobs[i];
            auto fetched = job.groups ? FetchGroupJob(run, index, works[job.work], job, progress.done, progress.fetched,
                                            &written[job.work])
                                      : FetchJob(run, index, works[job.work], job, progress.done, &written[job.work]);
            if (fetched && !job.groups)
            {
                progress.fetched += job.length;
            }
            if (!fetched)
            {
                const std::lock_guard hold(firstErrorLock);
                if (!failed.exchange(true))
                {
                    firstError = std::move(fetched.error());
                }
            }
        }
        running.fetch_sub(1);
    };
    std::vector<std::thread> workers;
    const int started = StartThreads(workers, kDownloadWorkers, [&] { return std::thread(worker); });
    running.fetch_sub(kDownloadWorkers - started);
    if (started == 0)
    {
        return std::unexpected(std::string("no download worker could be started"));
    }
    // While the workers download, this thread flushes every part file that got 8 MiB or more
    // since its last flush, so that the disk writes while the network reads and the flush
    // before the journal finds little left to write. A failure here is found again by that flush.
    // (Under Wine a flush is an fsync on the wineserver's one thread, which holds up every
    // server call of every process, socket reads included, until the disk is done: one flush
    // of a whole GiB at the end stalls the run for seconds; flushed as it comes, each stall is
    // short and the sockets keep filling meanwhile.)
    const auto flushWritten = [&] {
        for (std::size_t i = 0; i < works.size(); ++i)
        {
            if (const std::uint64_t bytes = written[i].load(); bytes >= kFlushAfterBytes)
            {
                written[i].fetch_sub(bytes);
                (void)FlushFile(works[i].part);
            }
        }
    };
    Report(progress, true);
    while (running.load() != 0)
    {
        Sleep(100);
        flushWritten();
        Report(progress, true);
    }
    for (std::thread& thread : workers)
    {
        thread.join();
    }
    if (failed.load())
    {
        return std::unexpected(std::move(firstError));
    }
    return {};
}

std::expected<std::vector<std::uint8_t>, std::string> FetchIndex(const SRun& run)
{
    std::vector<std::uint8_t> bytes;
    CSlowTransferGuard guard(GetTickCount64());
    bool tooSlow = false;
    const auto status = Net::Fetch(run.cdn, fmt::format("/i/{}.quillmereindex", run.release), 0, 0,
        [&](std::span<const std::uint8_t> chunk) {
            bytes.insert(bytes.end(), chunk.begin(), chunk.end());
            tooSlow = !guard.Arrived(chunk.size(), GetTickCount64());
            return !tooSlow && !run.StopRequested() && bytes.size() <= kLargestIndex;
        },
        run.stop);
    if (!status)
    {
        if (bytes.size() > kLargestIndex)
        {
            return std::unexpected(std::string("the new index is past 64 MiB"));
        }
        if (tooSlow)
        {
            return std::unexpected(fmt::format("the CDN: {}", kTooSlow));
        }
        return std::unexpected(fmt::format("the CDN: {}", status.error()));
    }
    if (*status != 200)
    {
        return std::unexpected(fmt::format("the CDN answered {} for the new index", *status));
    }
    return bytes;
}

namespace
{
// A job's part file, written at offsets; it remembers the Windows error of a failed write.
class CPartWriter
{
public:
    CPartWriter(std::string_view path, std::atomic<std::uint64_t>* written)
        : m_part(OpenForWriting(path)), m_written(written)
    {
    }

    [[nodiscard]] bool Opened() const noexcept { return static_cast<bool>(m_part); }
    [[nodiscard]] DWORD Error() const noexcept { return m_error; }

    [[nodiscard]] bool Write(std::uint64_t offset, std::span<const std::uint8_t> bytes)
    {
        if (File::WriteAt(m_part.get(), offset, bytes))
        {
            if (m_written != nullptr)
            {
                m_written->fetch_add(bytes.size());
            }
            return true;
        }
        m_error = GetLastError();
        return false;
    }

private:
    UniqueHandle m_part;
    std::atomic<std::uint64_t>* m_written;
    DWORD m_error = ERROR_SUCCESS;
};

// Where the bytes of one answer to a job go, attempt after attempt.
class IAnswerSink
{
public:
    virtual ~IAnswerSink() = default;
    // A new answer, from the job's first byte.
    virtual void Begin() = 0;
    // The answer's next bytes, `received` bytes after the job's start; false when a write failed.
    [[nodiscard]] virtual bool Take(std::uint64_t received, std::span<const std::uint8_t> chunk) = 0;
    // The answer's status and length were accepted.
    virtual void Accept() = 0;
    // The accepted answer's bytes are the release's.
    [[nodiscard]] virtual bool Whole() = 0;
};

// A loose file, of any size, streams to its part file while it is hashed; a part file that
// holds the bytes of a failed attempt is written again by the next attempt or run, and nothing
// moves it into place unless its hash matched.
class CLooseFileSink final : public IAnswerSink
{
public:
    CLooseFileSink(CPartWriter& part, const SWork& work, const SJob& job) : m_part(part), m_work(work), m_job(job) {}

    void Begin() override { blake3_hasher_init(&m_hasher); }
    bool Take(std::uint64_t received, std::span<const std::uint8_t> chunk) override
    {
        if (!m_part.Write(m_job.offset + received, chunk))
        {
            return false;
        }
        blake3_hasher_update(&m_hasher, chunk.data(), chunk.size());
        return true;
    }
    void Accept() override {}
    bool Whole() override
    {
        Vfs::SIdentity hash{};
        blake3_hasher_finalize(&m_hasher, hash.data(), hash.size());
        return hash == m_work.hash;
    }

private:
    CPartWriter& m_part;
    const SWork& m_work;
    const SJob& m_job;
    blake3_hasher m_hasher{};
};

// A container's job writes each piece once it is verified, so that a worker holds one piece,
// and a later attempt (or run) fetches again only for the pieces still missing.
class CContainerSink final : public IAnswerSink
{
public:
    CContainerSink(CPartWriter& part, const Vfs::SIndex& index, const SWork& work, const SJob& job)
        : m_pieces(job.offset, job.length,
              [&index, &work](std::uint64_t piece, std::span<const std::uint8_t> bytes) {
                  return Vfs::CheckPiece(index, static_cast<std::size_t>(work.container), piece, bytes);
              },
              [&part](std::uint64_t offset, std::span<const std::uint8_t> bytes) { return part.Write(offset, bytes); })
    {
    }

    void Begin() override { m_pieces.Begin(); }
    bool Take(std::uint64_t, std::span<const std::uint8_t> chunk) override { return m_pieces.Take(chunk); }
    void Accept() override { (void)m_pieces.Finish(); } // a failed write shows in the part's error
    bool Whole() override { return m_pieces.Complete(); }

private:
    CJobPieces m_pieces;
};

// One answer to the job into the sink, checked for its status, length and bytes; why it was
// not the release's. A failed write shows in the part's error, which the caller looks at first.
[[nodiscard]] std::expected<void, std::string> AttemptJob(const SRun& run, const SWork& work, const SJob& job,
    const CPartWriter& part, IAnswerSink& sink)
{
    std::uint64_t received = 0;
    sink.Begin();
    CSlowTransferGuard guard(GetTickCount64());
    bool tooSlow = false;
    STransfers& transfers = *run.transfers;
    transfers.inFlight.fetch_add(1);
    const auto status = Net::Fetch(run.cdn, "/" + work.url, job.offset, job.length,
        [&](std::span<const std::uint8_t> chunk) {
            if (chunk.size() > job.length - received)
            {
                received += chunk.size();
                return false; // more than asked
            }
            if (!sink.Take(received, chunk))
            {
                return false;
            }
            received += chunk.size();
            ApplyTransferLimit(run, chunk.size());
            tooSlow = !guard.Arrived(chunk.size(), GetTickCount64());
            return !tooSlow && !run.StopRequested();
        },
        run.stop);
    transfers.inFlight.fetch_sub(1);
    auto wrong = status ? AnswerError(work.url, *status, received, job.offset, job.length) : std::nullopt;
    if (part.Error() == ERROR_SUCCESS && status && !tooSlow && !wrong)
    {
        sink.Accept();
    }
    if (tooSlow)
    {
        return std::unexpected(fmt::format("{}: {}", work.url, kTooSlow));
    }
    if (!status)
    {
        return std::unexpected(fmt::format("{}: {}", work.url, status.error()));
    }
    if (wrong)
    {
        return std::unexpected(std::move(*wrong));
    }
    if (!sink.Whole())
    {
        return std::unexpected(fmt::format("{}: the CDN's bytes are not the release's", work.url));
    }
    return {};
}

// Up to three attempts at the job; a failed write ends them at once, a stop before the next.
[[nodiscard]] std::expected<void, std::string> AttemptJobs(const SRun& run, const SWork& work, const SJob& job,
    const CPartWriter& part, IAnswerSink& sink)
{
    std::string error;
    for (int attempt = 0; attempt < kFetchAttempts && !run.StopRequested(); ++attempt)
    {
        auto attempted = AttemptJob(run, work, job, part, sink);
        if (part.Error() != ERROR_SUCCESS)
        {
            return std::unexpected(
                Text::WithWindowsError(fmt::format("{} could not be written", work.part), part.Error()));
        }
        if (attempted)
        {
            return {};
        }
        error = std::move(attempted.error());
    }
    return std::unexpected(std::move(error));
}
}

std::expected<void, std::string> FetchJob(const SRun& run, const Vfs::SIndex& index, const SWork& work,
    const SJob& job, std::atomic<std::uint64_t>& counter, std::atomic<std::uint64_t>* written)
{
    CPartWriter part(work.part, written);
    if (!part.Opened())
    {
        return std::unexpected(Text::WithWindowsError(fmt::format("{} could not be written", work.part), GetLastError()));
    }
    auto fetched = [&] {
        if (work.container < 0)
        {
            CLooseFileSink loose(part, work, job);
            return AttemptJobs(run, work, job, part, loose);
        }
        CContainerSink pieces(part, index, work, job);
        return AttemptJobs(run, work, job, part, pieces);
    }();
    if (fetched)
    {
        counter += job.length;
    }
    return fetched;
}

std::expected<void, std::string> FetchGroupJob(const SRun& run, const Vfs::SIndex& index, const SWork& work,
    const SJob& job, std::atomic<std::uint64_t>& counter, std::atomic<std::uint64_t>& fetched,
    std::atomic<std::uint64_t>* written)
{
    const Vfs::SContainer& record = index.containers[static_cast<std::size_t>(work.container)];
    const std::uint64_t first = job.offset / Vfs::kPieceSize;
    const std::uint64_t end = first + Vfs::PieceCount(job.length);
    const std::uint64_t treeFrom = Vfs::TreeOffset(first);
    const std::uint64_t treeTo = std::min(Vfs::TreeOffset(end), Vfs::TreeSize(record.size));
    std::vector<std::uint8_t> tree;
    // One request for the values of every piece of the job; without them every piece is fetched whole.
    const bool treeFetched = FetchRange(run, TreeUrl(record), treeFrom, treeTo - treeFrom, tree);
    if (treeFetched)
    {
        fetched += tree.size();
    }
    const UniqueHandle part = OpenForWriting(work.part);
    std::vector<SJob> whole;
    for (std::uint64_t piece = first; piece < end && !run.StopRequested(); ++piece)
    {
        const std::uint64_t offset = piece * Vfs::kPieceSize;
        const std::uint64_t length = std::min(Vfs::kPieceSize, work.size - offset);
        const std::uint64_t from = Vfs::TreeOffset(piece) - treeFrom;
        const auto values = treeFetched ? std::span(tree).subspan(static_cast<std::size_t>(from),
                                              static_cast<std::size_t>(Vfs::GroupCount(length) * Vfs::kChainingValueSize))
                                        : std::span<const std::uint8_t>();
        if (part && treeFetched && AssemblePiece(run, index, work, part.get(), piece, values, fetched))
        {
            counter += length;
            if (written != nullptr)
            {
                written->fetch_add(length);
            }
        }
        else if (!whole.empty() && whole.back().offset + whole.back().length == offset)
        {
            whole.back().length += length;
        }
        else
        {
            whole.push_back({job.work, offset, length});
        }
    }
    for (const SJob& rest : whole)
    {
        if (auto done = FetchJob(run, index, work, rest, counter, written); !done)
        {
            return done;
        }
        fetched += rest.length;
    }
    return {};
}
}
